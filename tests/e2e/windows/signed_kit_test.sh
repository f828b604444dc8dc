#!/usr/bin/env bash
# The kits of the suite's builds signed with a throwaway CA's certificate,
# made here: certificates that cannot sign are refused, saying why; each
# signed file verifies against the CA and has the digest of the unsigned
# kit's file (another signer's signature over it carries the same); one
# byte changed fails; the signed programs do a whole job under Wine (x86
# too where Wine runs 32-bit programs).
#
#   signed_kit_test.sh SOURCE_DIR X64_BUILD X86_BUILD FLASH_CHECK CHECKER CODE PROFILE WORK
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$1 x64_build=$2 x86_build=$3 flash_check=$4 checker=$5 code=$6 profile=$7 work=$8
fail() { echo "FAILED: $*"; exit 1; }
export SOURCE_DATE_EPOCH=1700000000
unset ECUPROG_SIGNING_CERT ECUPROG_SIGNING_PASSWORD_FILE ECUPROG_SIGNING_TIMESTAMP_URL

rm -rf "$work"
ca=$work/ca
mkdir -p "$ca" "$work/desk-b"
printf '[code]\nextendedKeyUsage=codeSigning\n[tls]\nextendedKeyUsage=serverAuth\n' >"$ca/ext.cnf"
password="throwaway $RANDOM$RANDOM"
printf '%s\n' "$password" >"$ca/password"
printf 'not the password\n' >"$ca/wrong-password"
printf 'not a certificate\n' >"$ca/garbage.p12"
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Throwaway test CA" -days 2 -config /dev/null \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign \
  -keyout "$ca/root.key" -out "$ca/root.pem" >/dev/null 2>&1 || fail "no test CA"
# certificate NAME SUBJECT EXTENSIONS DAYS: NAME.p12 from the CA (DAYS < 0: expired).
certificate() {
  { openssl req -new -newkey rsa:2048 -nodes -subj "$2" -keyout "$ca/$1.key" -config /dev/null |
    openssl x509 -req -CA "$ca/root.pem" -CAkey "$ca/root.key" -set_serial "$RANDOM" \
      -days "$4" -extfile "$ca/ext.cnf" -extensions "$3" -out "$ca/$1.pem"; } >/dev/null 2>&1 &&
    openssl pkcs12 -export -in "$ca/$1.pem" -inkey "$ca/$1.key" -out "$ca/$1.p12" \
      -passout "file:$ca/password" || fail "no certificate $1"
}
certificate desk-a "/O=Release desk A/CN=ecuprog releases" code 2
certificate desk-b "/CN=Release desk B" code 2
certificate expired "/CN=Expired desk" code -1
certificate tls "/CN=kits.example" tls 2
# kit OUT [VAR=VALUE...]: the kits of the suite's builds in WORK/OUT.
kit() {
  env "${@:2}" bash "$source_dir/scripts/windows-kit.sh" "$x64_build" "$x86_build" \
    "$work/$1" test-revision >"$work/$1.log" 2>&1
}

echo "--- certificates that cannot sign"
refusals=(
  "desk-a.p12|wrong-password|cannot read the signing certificate $ca/desk-a.p12: not a PKCS#12 file, or the password"
  "garbage.p12|password|cannot read the signing certificate $ca/garbage.p12: not a PKCS#12 file"
  "missing.p12|password|cannot read the signing certificate $ca/missing.p12: no such file"
  "desk-a.p12|missing|cannot read the password file $ca/missing: no such file"
  "expired.p12|password|the signing certificate $ca/expired.p12 has expired (notAfter="
  "tls.p12|password|the signing certificate $ca/tls.p12 is not for code signing (extended key usage: TLS Web Server Authentication)"
  "|password|ECUPROG_SIGNING_PASSWORD_FILE or ECUPROG_SIGNING_TIMESTAMP_URL is set but ECUPROG_SIGNING_CERT is not"
)
for row in "${refusals[@]}"; do
  IFS='|' read -r cert pw message <<<"$row"
  kit refused ECUPROG_SIGNING_CERT="${cert:+$ca/$cert}" ECUPROG_SIGNING_PASSWORD_FILE="$ca/$pw" &&
    fail "$cert with $pw was not refused"
  grep -qF "windows-sign: $message" "$work/refused.log" && ! compgen -G "$work/refused/*.zip" >/dev/null ||
    { cat "$work/refused.log"; fail "$cert with $pw: a kit, or not refused with: $message"; }
done

echo "--- the kits, unsigned and signed"
kit unsigned || { cat "$work/unsigned.log"; fail "no unsigned kit"; }
kit signed ECUPROG_SIGNING_CERT="$ca/desk-a.p12" ECUPROG_SIGNING_PASSWORD_FILE="$ca/password" ||
  { cat "$work/signed.log"; fail "no signed kit"; }
unsigned=$(find "$work/unsigned" -maxdepth 1 -type d -name '*[0-9]-windows')
signed=$(find "$work/signed" -maxdepth 1 -type d -name '*[0-9]-windows')
grep -qx "Signature: unsigned" "$unsigned/RELEASE.txt" || fail "the unsigned RELEASE.txt does not say so"
for kit in "$signed" "${signed%-windows}-rehearsal-windows"; do
  (cd "$kit" && sha256sum --quiet -c SHA256SUMS) || fail "the SHA256SUMS of $kit"
done
fingerprint=$(openssl x509 -in "$ca/desk-a.pem" -noout -fingerprint -sha256 | cut -d= -f2)
thumbprint=$(openssl x509 -in "$ca/desk-a.pem" -noout -fingerprint -sha1 | cut -d= -f2 | tr -d : | tr A-F a-f)
for line in "Signature: Authenticode" "Signed by: CN=ecuprog releases,O=Release desk A" \
  "Signing certificate SHA-256 fingerprint: $fingerprint" \
  "Signing certificate thumbprint (SHA-1, as Windows shows it): $thumbprint" \
  "  signtool verify /pa /v x64\\ecuprog.exe" \
  "  osslsigncode verify -in x64/ecuprog.exe"; do
  grep -qxF "$line" "$signed/RELEASE.txt" || { cat "$signed/RELEASE.txt"; fail "RELEASE.txt does not say: $line"; }
done
! grep -rqF "$password" "$work/signed.log" "$work/signed" || fail "the password is in the log or the kit"

echo "--- each signed file against the CA, its digest against the unsigned kit's"
# verify FILE: osslsigncode's verdict on FILE against the CA, in WORK/verify.log.
verify() { osslsigncode verify -in "$1" -CAfile "$ca/root.pem" >"$work/verify.log" 2>&1; }
digest() { verify "$1" || true; sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' "$work/verify.log"; }
for file in {x64,x86}/ecuprog.exe {x64,x86}/ecuprog-records.exe {x64,x86}/ecuprog-sim.exe \
  {x64,x86}/ecuprog-sim-ps.dll; do
  kit=windows
  [[ $file == */ecuprog.exe || $file == */ecuprog-records.exe ]] || kit=rehearsal-windows
  mine="${signed%-windows}-$kit/$file" theirs="$work/desk-b/${file//\//-}"
  verify "$mine" && grep -q "Signature verification: ok" "$work/verify.log" ||
    { cat "$work/verify.log"; fail "$file does not verify against the CA"; }
  osslsigncode sign -pkcs12 "$ca/desk-b.p12" -readpass "$ca/password" -h sha256 \
    -in "${unsigned%-windows}-$kit/$file" -out "$theirs" >/dev/null || fail "desk B cannot sign $file"
  [[ -n "$(digest "$mine")" && "$(digest "$mine")" == "$(digest "$theirs")" ]] ||
    fail "$file: desk A signed $(digest "$mine"), desk B $(digest "$theirs")"
  [[ $file != */ecuprog.exe ]] ||
    grep -qxF "Authenticode digest of ${file%%/*}\\ecuprog.exe: $(digest "$mine")" "$signed/RELEASE.txt" ||
    fail "RELEASE.txt gives another digest for $file"
done

echo "--- a signed program changed by one byte"
cp "$signed/x64/ecuprog.exe" "$work/changed.exe"
offset=$(($(stat -c %s "$work/changed.exe") / 3))
byte=$(od -An -tu1 -j "$offset" -N1 "$work/changed.exe" | tr -d ' ')
printf "\\$(printf '%03o' $(((byte + 1) % 256)))" | dd of="$work/changed.exe" bs=1 seek="$offset" conv=notrunc status=none
! verify "$work/changed.exe" && grep -q "MISMATCH" "$work/verify.log" ||
  { cat "$work/verify.log"; fail "the changed program does not fail on its digest"; }

echo "--- whole jobs by the signed programs, laid out as builds for the job test"
for bits in x64 x86; do
  mkdir -p "$work/signed-$bits/sim"
  cp "$signed/$bits/ecuprog.exe" "$work/signed-$bits/"
  cp "${signed%-windows}-rehearsal-windows/$bits/"* "$work/signed-$bits/sim/"
done
bits_run=(x64)
if wine32=$(bash "$here/wine32_status.sh"); then bits_run+=(x86); else echo "the x86 job is not run: ${wine32#refused: }"; fi
for bits in "${bits_run[@]}"; do
  bash "$here/bitness_job_test.sh" "$work/signed-x86" "$work/signed-x64" "$bits" "$bits" both \
    "$flash_check" "$checker" "$code" "$profile" "$work/job-$bits" || fail "the signed $bits programs' job"
done
echo "ok: ${#refusals[@]} refusals, 8 signed files verified with the unsigned digests, jobs by ${bits_run[*]}"
