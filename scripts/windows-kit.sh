#!/usr/bin/env bash
# Packs the release kits from a Windows build, in OUT_DIR:
#   ecuprog-<version>-<model>-<release>-windows-x86_64.zip
#     ecuprog.exe, RELEASE.txt, MESSAGES.txt, SHA256SUMS
#   ecuprog-<version>-<model>-<release>-rehearsal-windows-x86_64.zip
#     ecuprog-sim.exe, ecuprog-sim-ps.dll, REHEARSAL.txt, SHA256SUMS
#     (when the build made the simulator)
# each also unpacked, in the folder of the same name.
#
# RELEASE.txt is written by the firmware checker from the blocks inside the
# stripped ecuprog.exe. The kits hold nothing of the moment or the place
# they are packed: every entry carries the time SOURCE_DATE_EPOCH (the
# commit's), fixed permissions, no owner or extra fields, in a fixed order.
# strip writes a time into the PE header it rewrites: SOURCE_DATE_EPOCH
# when set, else the current time; so it is required here.
#
#   windows-kit.sh BUILD_DIR OUT_DIR SOURCE_REVISION
# Environment: SOURCE_DATE_EPOCH (required)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$1
out=$2
revision=$3
: "${SOURCE_DATE_EPOCH:?set SOURCE_DATE_EPOCH to the commit time (git log -1 --format=%ct)}"

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache_value CMAKE_PROJECT_VERSION)
strip=$(cache_value CMAKE_STRIP)
cxx=$(cache_value CMAKE_CXX_COMPILER)
checker=$(cache_value ECUPROG_HOST_CHECK_FIRMWARE)
cryptopp=$(cache_value ECUPROG_CRYPTOPP_ROOT)
[[ -n "$version" && -x "$strip" && -x "$checker" ]] ||
  { echo "windows-kit: cannot read the build's version and tools in $build" >&2; exit 1; }
# What a rebuild must use to get the same bytes.
toolchain="$(basename "$cxx") $("$cxx" -dumpversion), $("$strip" --version | head -n 1)"
if [[ -f "$cryptopp/.complete" ]]; then
  toolchain+=", Crypto++ $(cut -d' ' -f1 "$cryptopp/.complete")"
fi

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
rm -rf "$stage"
mkdir -p "$stage"
"$strip" -o "$stage/ecuprog.exe" "$build/ecuprog.exe"
"$checker" --program "$stage/ecuprog.exe" --release-notes "$stage/RELEASE.txt" \
  --source-revision "$revision" --built-with "$toolchain" >/dev/null
model=$(sed -n 's/^Target model: //p' "$stage/RELEASE.txt")
release=$(sed -n 's/^Firmware release: //p' "$stage/RELEASE.txt")
cp "$source_dir/MESSAGES.txt" "$stage/"

name="ecuprog-$version-$model-$release-windows-x86_64"
rm -rf "${out:?}/$name"
mv "$stage" "$out/$name"
pack "$out/$name.zip" "$out/$name" ecuprog.exe RELEASE.txt MESSAGES.txt
echo "windows-kit: $out/$name.zip"

if [[ -f "$build/sim/ecuprog-sim.exe" ]]; then
  rehearsal="ecuprog-$version-$model-$release-rehearsal-windows-x86_64"
  rm -rf "${out:?}/$rehearsal"
  mkdir -p "$out/$rehearsal"
  dll=$(find "$build" -name ecuprog-sim-ps.dll -print -quit)
  [[ -n "$dll" ]] || { echo "windows-kit: no ecuprog-sim-ps.dll in $build" >&2; exit 1; }
  "$strip" -o "$out/$rehearsal/ecuprog-sim.exe" "$build/sim/ecuprog-sim.exe"
  "$strip" -o "$out/$rehearsal/ecuprog-sim-ps.dll" "$dll"
  cp "$source_dir/REHEARSAL.txt" "$out/$rehearsal/"
  pack "$out/$rehearsal.zip" "$out/$rehearsal" \
    ecuprog-sim.exe ecuprog-sim-ps.dll REHEARSAL.txt
  echo "windows-kit: $out/$rehearsal.zip"
fi
