#!/usr/bin/env bash
# Packs the release kits from the two Windows builds, 64-bit (x64) and
# 32-bit (x86), in OUT_DIR:
#   ecuprog-<version>-<model>-<release>-windows.zip
#     x86/ and x64/ each with ecuprog.exe and ecuprog-records.exe (the
#     reader of the job records), RELEASE.txt, MESSAGES.txt, SHA256SUMS
#   ecuprog-<version>-<model>-<release>-rehearsal-windows.zip
#     x86/ and x64/ each with ecuprog-sim.exe and ecuprog-sim-ps.dll,
#     REHEARSAL.txt, SHA256SUMS (when the builds made the simulator)
# each also unpacked, in the folder of the same name.
#
# RELEASE.txt is written by the firmware checker from the blocks inside the
# stripped programs (both must carry the same release), then names both
# programs with their SHA-256 and which to use. The kits hold nothing of
# the moment or the place they are packed: every entry carries the time
# SOURCE_DATE_EPOCH (the commit's), fixed permissions, no owner or extra
# fields, in a fixed order. strip writes a time into the PE header it
# rewrites: SOURCE_DATE_EPOCH when set, else the current time; so it is
# required here.
#
# With a signing certificate (scripts/windows-sign.sh) every program and
# DLL is signed after it is stripped, before anything reads or sums it:
# the kit's sums and RELEASE.txt are those of the signed files, and
# RELEASE.txt names the signer and each program's Authenticode digest (the
# stripped program's, which the same commit rebuilds whoever signs it).
#
#   windows-kit.sh X64_BUILD_DIR X86_BUILD_DIR OUT_DIR SOURCE_REVISION
# Environment: SOURCE_DATE_EPOCH (required); ECUPROG_SIGNING_CERT,
# ECUPROG_SIGNING_PASSWORD_FILE, ECUPROG_SIGNING_TIMESTAMP_URL (optional)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
[[ $# -eq 4 ]] || { echo "usage: windows-kit.sh X64_BUILD_DIR X86_BUILD_DIR OUT_DIR SOURCE_REVISION" >&2; exit 2; }
declare -A build=([x64]=$1 [x86]=$2)
out=$3
revision=$4
: "${SOURCE_DATE_EPOCH:?set SOURCE_DATE_EPOCH to the commit time (git log -1 --format=%ct)}"

# A certificate that cannot sign stops the kit before anything is packed.
signer=$(bash "$source_dir/scripts/windows-sign.sh" --check)
# sign FILE...: signs them in place when the kit is signed, and keeps their
# digests in $digests.
sign() {
  if [[ "$signer" != unsigned ]]; then
    bash "$source_dir/scripts/windows-sign.sh" "$@" >>"$digests"
  fi
}

cache_value() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }
declare -A strip toolchain
for bits in x64 x86; do
  dir=${build[$bits]}
  version=$(cache_value "$dir" CMAKE_PROJECT_VERSION)
  strip[$bits]=$(cache_value "$dir" CMAKE_STRIP)
  cxx=$(cache_value "$dir" CMAKE_CXX_COMPILER)
  checker=$(cache_value "$dir" ECUPROG_HOST_CHECK_FIRMWARE)
  cryptopp=$(cache_value "$dir" ECUPROG_CRYPTOPP_ROOT)
  [[ -n "$version" && -x "${strip[$bits]}" && -x "$checker" ]] ||
    { echo "windows-kit: cannot read the build's version and tools in $dir" >&2; exit 1; }
  # What a rebuild must use to get the same bytes.
  toolchain[$bits]="$(basename "$cxx") $("$cxx" -dumpversion), $("${strip[$bits]}" --version | head -n 1)"
  if [[ -f "$cryptopp/.complete" ]]; then
    toolchain[$bits]+=", Crypto++ $(cut -d' ' -f1 "$cryptopp/.complete")"
  fi
done

# pack ZIP FOLDER FILE...: the files, then their SHA256SUMS.
pack() {
  local zip=$1 folder=$2
  shift 2
  (cd "$folder" && sha256sum "$@" >SHA256SUMS)
  (cd "$folder" && chmod 0644 "$@" SHA256SUMS &&
    touch -d "@$SOURCE_DATE_EPOCH" "$@" SHA256SUMS)
  rm -f "$zip"
  (cd "$folder" && TZ=UTC zip -q -X -D "$zip" "$@" SHA256SUMS)
}

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage="$out/.stage"
digests="$out/.digests"
rm -rf "$stage" "$digests"
mkdir -p "$stage/x86" "$stage/x64"
for bits in x64 x86; do
  [[ -f "${build[$bits]}/tools/ecuprog-records.exe" ]] ||
    { echo "windows-kit: no tools/ecuprog-records.exe in ${build[$bits]}" >&2; exit 1; }
  "${strip[$bits]}" -o "$stage/$bits/ecuprog.exe" "${build[$bits]}/ecuprog.exe"
  "${strip[$bits]}" -o "$stage/$bits/ecuprog-records.exe" "${build[$bits]}/tools/ecuprog-records.exe"
  sign "$stage/$bits/ecuprog.exe" "$stage/$bits/ecuprog-records.exe"
  "$checker" --program "$stage/$bits/ecuprog.exe" --release-notes "$stage/notes-$bits.txt" \
    --source-revision "$revision" --built-with "${toolchain[$bits]}" >/dev/null
done
# Both programs carry the same release from the same source: only the
# compilers differ.
if ! cmp -s <(grep -v '^Built with: ' "$stage/notes-x64.txt") \
            <(grep -v '^Built with: ' "$stage/notes-x86.txt"); then
  diff "$stage/notes-x64.txt" "$stage/notes-x86.txt" >&2 || true
  echo "windows-kit: the x86 and x64 programs carry different releases" >&2
  exit 1
fi
sum() { sha256sum "$1" | cut -d' ' -f1; }
{
  grep -v '^Built with: ' "$stage/notes-x64.txt"
  echo "Built with (x64): ${toolchain[x64]}"
  echo "Built with (x86): ${toolchain[x86]}"
  echo "Program for a 64-bit programming server: x64\\ecuprog.exe, SHA-256 $(sum "$stage/x64/ecuprog.exe")"
  echo "Program for a 32-bit programming server: x86\\ecuprog.exe, SHA-256 $(sum "$stage/x86/ecuprog.exe")"
  echo "Reader of the job records (64-bit): x64\\ecuprog-records.exe, SHA-256 $(sum "$stage/x64/ecuprog-records.exe")"
  echo "Reader of the job records (32-bit): x86\\ecuprog-records.exe, SHA-256 $(sum "$stage/x86/ecuprog-records.exe")"
  if [[ "$signer" == unsigned ]]; then
    echo "Signature: unsigned"
  else
    echo "Signature: Authenticode"
    echo "$signer"
    for bits in x64 x86; do
      echo "Authenticode digest of $bits\\ecuprog.exe: $(sed -n "s|^$stage/$bits/ecuprog.exe ||p" "$digests")"
    done
  fi
  echo
  if [[ "$signer" != unsigned ]]; then
    cat "$source_dir/scripts/signature-check.txt"
    echo
  fi
  cat "$source_dir/scripts/which-program.txt"
  echo
  cat "$source_dir/scripts/records-note.txt"
} >"$stage/RELEASE.txt"
rm "$stage/notes-x64.txt" "$stage/notes-x86.txt"
model=$(sed -n 's/^Target model: //p' "$stage/RELEASE.txt")
release=$(sed -n 's/^Firmware release: //p' "$stage/RELEASE.txt")
cp "$source_dir/MESSAGES.txt" "$stage/"

name="ecuprog-$version-$model-$release-windows"
rm -rf "${out:?}/$name"
mv "$stage" "$out/$name"
pack "$out/$name.zip" "$out/$name" x86/ecuprog.exe x64/ecuprog.exe \
  x86/ecuprog-records.exe x64/ecuprog-records.exe RELEASE.txt MESSAGES.txt
echo "windows-kit: $out/$name.zip"

if [[ -f "${build[x64]}/sim/ecuprog-sim.exe" && -f "${build[x86]}/sim/ecuprog-sim.exe" ]]; then
  rehearsal="ecuprog-$version-$model-$release-rehearsal-windows"
  rm -rf "${out:?}/$rehearsal"
  files=()
  for bits in x86 x64; do
    mkdir -p "$out/$rehearsal/$bits"
    dll=$(find "${build[$bits]}" -name ecuprog-sim-ps.dll -print -quit)
    [[ -n "$dll" ]] || { echo "windows-kit: no ecuprog-sim-ps.dll in ${build[$bits]}" >&2; exit 1; }
    "${strip[$bits]}" -o "$out/$rehearsal/$bits/ecuprog-sim.exe" "${build[$bits]}/sim/ecuprog-sim.exe"
    "${strip[$bits]}" -o "$out/$rehearsal/$bits/ecuprog-sim-ps.dll" "$dll"
    sign "$out/$rehearsal/$bits/ecuprog-sim.exe" "$out/$rehearsal/$bits/ecuprog-sim-ps.dll"
    files+=("$bits/ecuprog-sim.exe" "$bits/ecuprog-sim-ps.dll")
  done
  cp "$source_dir/REHEARSAL.txt" "$out/$rehearsal/"
  pack "$out/$rehearsal.zip" "$out/$rehearsal" "${files[@]}" REHEARSAL.txt
  echo "windows-kit: $out/$rehearsal.zip"
fi
rm -f "$digests"
