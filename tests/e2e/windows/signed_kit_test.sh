#!/usr/bin/env bash
# The release kits signed with a throwaway CA's code signing certificate,
# made here: certificates that cannot sign are refused, each naming why;
# every program and DLL of both kits verifies against the CA, with the
# Authenticode digest of the unsigned program (another signer's signature
# over the unsigned kit's file carries the same); a program changed by one
# byte fails; and the signed programs do a whole job under Wine (the x86
# ones where Wine runs 32-bit programs).
#
#   signed_kit_test.sh SOURCE_DIR X64_BUILD X86_BUILD FLASH_CHECK CHECKER CODE PROFILE WORK
# Runs in WINEPREFIX (wine.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 8 ]] || { echo "usage: signed_kit_test.sh SOURCE_DIR X64_BUILD X86_BUILD FLASH_CHECK CHECKER CODE PROFILE WORK" >&2; exit 2; }
source_dir=$1 x64_build=$2 x86_build=$3 flash_check=$4 checker=$5 code=$6 profile=$7 work=$8
fail() { echo "FAILED: $*"; exit 1; }
export SOURCE_DATE_EPOCH=1700000000
unset ECUPROG_SIGNING_CERT ECUPROG_SIGNING_PASSWORD_FILE ECUPROG_SIGNING_TIMESTAMP_URL

rm -rf "$work"
mkdir -p "$work/ca"
ca=$work/ca
cat >"$ca/ext.cnf" <<'EOF'
[root]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign
[code]
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
[tls]
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
EOF
password="throwaway $RANDOM$RANDOM"
printf '%s\n' "$password" >"$ca/password"
printf 'not the password\n' >"$ca/wrong-password"
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Throwaway test CA" -days 2 \
  -keyout "$ca/root.key" -out "$ca/root.pem" -config /dev/null -extfile "$ca/ext.cnf" \
  -extensions root >/dev/null 2>&1 || fail "no test CA"
# certificate NAME SUBJECT EXTENSIONS DAYS: NAME.p12 issued by the CA
# (negative DAYS: expired since).
certificate() {
  openssl req -new -newkey rsa:2048 -nodes -subj "$2" -keyout "$ca/$1.key" \
    -out "$ca/$1.csr" -config /dev/null >/dev/null 2>&1 &&
    openssl x509 -req -in "$ca/$1.csr" -CA "$ca/root.pem" -CAkey "$ca/root.key" \
      -set_serial "$RANDOM" -days "$4" -extfile "$ca/ext.cnf" -extensions "$3" \
      -out "$ca/$1.pem" >/dev/null 2>&1 &&
    openssl pkcs12 -export -in "$ca/$1.pem" -inkey "$ca/$1.key" -out "$ca/$1.p12" \
      -passout "file:$ca/password" ||
    fail "no certificate $1"
}
certificate desk-a "/O=Release desk A/CN=ecuprog releases" code 2
certificate desk-b "/CN=Release desk B" code 2
certificate expired "/CN=Expired desk" code -1
certificate tls "/CN=kits.example" tls 2
printf 'not a certificate\n' >"$ca/garbage.p12"

# kit OUT_NAME [VAR=VALUE...]: the kits of the suite's builds in WORK/OUT_NAME.
kit() {
  local out=$work/$1
  shift
  env "$@" bash "$source_dir/scripts/windows-kit.sh" "$x64_build" "$x86_build" \
    "$out" test-revision >"$out.log" 2>&1
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
  grep -qF "windows-sign: $message" "$work/refused.log" ||
    { cat "$work/refused.log"; fail "$cert with $pw: not refused with: $message"; }
  ! compgen -G "$work/refused/*.zip" >/dev/null || fail "$cert with $pw: a kit was packed"
done
echo "ok: ${#refusals[@]} refusals"

echo "--- the kits, unsigned and signed"
kit unsigned || { cat "$work/unsigned.log"; fail "no unsigned kit"; }
kit signed ECUPROG_SIGNING_CERT="$ca/desk-a.p12" ECUPROG_SIGNING_PASSWORD_FILE="$ca/password" ||
  { cat "$work/signed.log"; fail "no signed kit"; }
unsigned=$(find "$work/unsigned" -maxdepth 1 -type d -name '*[0-9]-windows')
signed=$(find "$work/signed" -maxdepth 1 -type d -name '*[0-9]-windows')
grep -qx "Signature: unsigned" "$unsigned/RELEASE.txt" || fail "the unsigned RELEASE.txt does not say so"
(cd "$signed" && sha256sum --quiet -c SHA256SUMS) || fail "the signed kit's SHA256SUMS"
(cd "${signed%-windows}-rehearsal-windows" && sha256sum --quiet -c SHA256SUMS) ||
  fail "the signed rehearsal kit's SHA256SUMS"
notes="$signed/RELEASE.txt"
fingerprint=$(openssl x509 -in "$ca/desk-a.pem" -noout -fingerprint -sha256 | cut -d= -f2)
for line in "Signature: Authenticode" "Signed by: CN=ecuprog releases,O=Release desk A" \
            "Signing certificate SHA-256 fingerprint: $fingerprint" "  signtool verify /pa /v x64\\ecuprog.exe" \
            "  osslsigncode verify -in x64/ecuprog.exe"; do
  grep -qxF "$line" "$notes" || { cat "$notes"; fail "RELEASE.txt does not say: $line"; }
done
! grep -rqF "$password" "$work/signed.log" "$work/signed" || fail "the password is in the log or the kit"

echo "--- each signed file against the CA, and its digest against the unsigned build's"
# digest FILE: the Authenticode digest computed from FILE as it is.
digest() { osslsigncode verify -in "$1" -CAfile "$ca/root.pem" 2>&1 | sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p'; }
mkdir -p "$work/desk-b"
for file in x64/ecuprog.exe x86/ecuprog.exe x64/ecuprog-sim.exe x86/ecuprog-sim.exe \
            x64/ecuprog-sim-ps.dll x86/ecuprog-sim-ps.dll; do
  folder=""
  [[ $file == */ecuprog.exe ]] || folder=-rehearsal
  mine="${signed%-windows}$folder-windows/$file"
  theirs="$work/desk-b/${file//\//-}"
  osslsigncode verify -in "$mine" -CAfile "$ca/root.pem" >"$work/verify.log" 2>&1 &&
    grep -q "Signature verification: ok" "$work/verify.log" ||
    { cat "$work/verify.log"; fail "$file does not verify against the CA"; }
  # Desk B signs the unsigned build's file of the same commit.
  osslsigncode sign -pkcs12 "$ca/desk-b.p12" -readpass "$ca/password" -h sha256 \
    -in "${unsigned%-windows}$folder-windows/$file" -out "$theirs" >/dev/null ||
    fail "desk B cannot sign $file"
  [[ -n "$(digest "$mine")" && "$(digest "$mine")" == "$(digest "$theirs")" ]] ||
    fail "$file: desk A signed $(digest "$mine"), desk B $(digest "$theirs")"
  if [[ $file == */ecuprog.exe ]]; then
    grep -qxF "Authenticode digest of ${file%%/*}\\ecuprog.exe: $(digest "$mine")" "$notes" ||
      fail "RELEASE.txt gives another digest for $file"
  fi
done
echo "ok: 6 files verify, each with the unsigned build's digest"

echo "--- a signed program changed by one byte"
cp "$signed/x64/ecuprog.exe" "$work/changed.exe"
offset=$(($(stat -c %s "$work/changed.exe") / 3))
byte=$(od -An -tu1 -j "$offset" -N1 "$work/changed.exe" | tr -d ' ')
printf "\\$(printf '%03o' $(((byte + 1) % 256)))" |
  dd of="$work/changed.exe" bs=1 seek="$offset" conv=notrunc status=none
cmp -s "$work/changed.exe" "$signed/x64/ecuprog.exe" && fail "the byte was not changed"
osslsigncode verify -in "$work/changed.exe" -CAfile "$ca/root.pem" >"$work/verify.log" 2>&1 &&
  { cat "$work/verify.log"; fail "the changed program still verifies"; }
echo "ok: the changed program fails verification"

echo "--- whole jobs by the signed programs"
# The signed files laid out as the builds are, for the job test.
for bits in x64 x86; do
  mkdir -p "$work/signed-$bits/sim"
  cp "$signed/$bits/ecuprog.exe" "$work/signed-$bits/"
  cp "${signed%-windows}-rehearsal-windows/$bits/"* "$work/signed-$bits/sim/"
done
bits_run=(x64)
if wine32=$(bash "$here/wine32_status.sh"); then
  bits_run+=(x86)
else
  echo "the x86 job is not run: ${wine32#refused: }"
fi
for bits in "${bits_run[@]}"; do
  bash "$here/bitness_job_test.sh" "$work/signed-x86" "$work/signed-x64" "$bits" "$bits" both \
    "$flash_check" "$checker" "$code" "$profile" "$work/job-$bits" || fail "the signed $bits programs' job"
done
echo "ok: signed kits verified, refused certificates named, jobs done by ${bits_run[*]}"
