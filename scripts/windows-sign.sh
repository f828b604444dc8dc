#!/usr/bin/env bash
# Authenticode signatures for the kit's Windows programs, with the release
# engineer's certificate:
#   ECUPROG_SIGNING_CERT           a PKCS#12 file: the certificate and its key
#   ECUPROG_SIGNING_PASSWORD_FILE  a file whose first line is its password
#   ECUPROG_SIGNING_TIMESTAMP_URL  an RFC 3161 time-stamp server (optional)
# The password is only ever read from its file (openssl -passin file:,
# osslsigncode -readpass): never on a command line, where any user sees
# it, nor in the log.
#
#   windows-sign.sh --check    whether the kit is signed: prints "unsigned"
#                              when no certificate is given, else the
#                              signer's lines for RELEASE.txt; a
#                              certificate that cannot be read, has expired
#                              or is not for code signing is refused (exit 1)
#   windows-sign.sh FILE...    signs each program in place (after --check)
#                              and prints "FILE DIGEST" for each: its
#                              Authenticode digest, that of the unsigned
#                              program, the same whoever signs it
set -euo pipefail
cert=${ECUPROG_SIGNING_CERT:-}
password=${ECUPROG_SIGNING_PASSWORD_FILE:-}
timestamp=${ECUPROG_SIGNING_TIMESTAMP_URL:-}

refuse() { echo "windows-sign: $*" >&2; exit 1; }

if [[ -z "$cert" ]]; then
  # A password or a server without a certificate is a signing set up by
  # half: a release meant to be signed must not go out unsigned unnoticed.
  [[ -z "$password" && -z "$timestamp" ]] ||
    refuse "ECUPROG_SIGNING_PASSWORD_FILE or ECUPROG_SIGNING_TIMESTAMP_URL is set but ECUPROG_SIGNING_CERT is not"
  if [[ "${1:-}" == --check ]]; then echo unsigned; exit 0; fi
  refuse "no signing certificate (ECUPROG_SIGNING_CERT)"
fi
[[ -n "$password" ]] ||
  refuse "ECUPROG_SIGNING_CERT is set but ECUPROG_SIGNING_PASSWORD_FILE, the file holding its password, is not"
[[ -f "$cert" && -r "$cert" ]] || refuse "cannot read the signing certificate $cert: no such file, or not readable"
[[ -f "$password" && -r "$password" ]] || refuse "cannot read the password file $password: no such file, or not readable"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# The certificate alone (public), not the key. PKCS#12 files from older
# tools use ciphers OpenSSL 3 keeps in its legacy provider.
leaf="$tmp/certificate.pem"
if ! openssl pkcs12 -in "$cert" -passin "file:$password" -nokeys -clcerts -out "$leaf" 2>/dev/null &&
   ! openssl pkcs12 -legacy -in "$cert" -passin "file:$password" -nokeys -clcerts -out "$leaf" 2>/dev/null; then
  refuse "cannot read the signing certificate $cert: not a PKCS#12 file, or the password in $password is not its password"
fi
grep -q 'BEGIN CERTIFICATE' "$leaf" ||
  refuse "cannot read the signing certificate $cert: it holds no certificate for its key"
if ! openssl x509 -in "$leaf" -noout -checkend 0 >/dev/null; then
  refuse "the signing certificate $cert has expired ($(openssl x509 -in "$leaf" -noout -enddate))"
fi
if [[ $(date -u +%s) -lt $(date -u -d "$(openssl x509 -in "$leaf" -noout -startdate | cut -d= -f2)" +%s) ]]; then
  refuse "the signing certificate $cert is not valid yet ($(openssl x509 -in "$leaf" -noout -startdate))"
fi
# Windows checks a publisher's certificate for the code signing use; one
# without it (a TLS server's, say) signs programs no policy trusts.
usage=$(openssl x509 -in "$leaf" -noout -ext extendedKeyUsage 2>/dev/null | sed -n '2,$p' | sed 's/^ *//')
if ! grep -qw 'Code Signing' <<<"$usage"; then
  refuse "the signing certificate $cert is not for code signing (extended key usage: ${usage:-none})"
fi

if [[ "${1:-}" == --check ]]; then
  echo "Signed by: $(openssl x509 -in "$leaf" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')"
  echo "Signing certificate SHA-256 fingerprint: $(openssl x509 -in "$leaf" -noout -fingerprint -sha256 | cut -d= -f2)"
  # Windows' certificate dialog shows only the SHA-1 hash, as "Thumbprint".
  echo "Signing certificate thumbprint (SHA-1, as Windows shows it): $(openssl x509 -in "$leaf" -noout -fingerprint -sha1 | cut -d= -f2 | tr -d : | tr A-F a-f)"
  if [[ -n "$timestamp" ]]; then
    echo "Time-stamped by: $timestamp"
  else
    echo "Not time-stamped: the signatures hold only until the certificate expires"
  fi
  exit 0
fi

for file in "$@"; do
  args=(sign -pkcs12 "$cert" -readpass "$password" -h sha256)
  [[ -z "$timestamp" ]] || args+=(-ts "$timestamp")
  osslsigncode "${args[@]}" -in "$file" -out "$tmp/signed" >"$tmp/sign.log" 2>&1 ||
    { cat "$tmp/sign.log" >&2; refuse "could not sign $file"; }
  # The signature must cover the program as it is: the digest it carries
  # is the one computed anew from the file. (The verification of the
  # chain needs the signer's root, which this machine may not trust.)
  osslsigncode verify -in "$tmp/signed" >"$tmp/verify.log" 2>&1 || true
  current=$(sed -n 's/^Current message digest *: *\([0-9A-F]*\).*/\1/p' "$tmp/verify.log" | head -n 1)
  calculated=$(sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' "$tmp/verify.log" | head -n 1)
  [[ -n "$current" && "$current" == "$calculated" ]] ||
    { cat "$tmp/verify.log" >&2; refuse "the signature of $file does not cover it"; }
  mv "$tmp/signed" "$file"
  echo "$file $calculated"
done
