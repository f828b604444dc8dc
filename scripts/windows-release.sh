#!/usr/bin/env bash
# Produces the Windows program ready to hand over:
#   out/ecuprog-<version>-windows-x86_64/ecuprog.exe (+ .sha256)
# built from a clean configuration with the firmware validated by the build
# (a release the tool would refuse fails here with the tool's message),
# stripped, checked to stand alone with its manifest and version, and - when
# Wine is installed - run once as on a PC without a programming server.
#
#   scripts/windows-release.sh [CMAKE_CONFIGURE_ARGS...]
# for example -DECUPROG_CODE_BLOCK=/path/code.zlib
#             -DECUPROG_PROFILE_BLOCK=/path/profile.bin
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/windows-release

# The validation cannot be switched off for a release.
ECUPROG_WINDOWS_PRESET=windows-release \
  bash scripts/windows-build.sh "$@" -DECUPROG_VALIDATE_FIRMWARE=ON

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache_value CMAKE_PROJECT_VERSION)
objdump=$(cache_value CMAKE_OBJDUMP)
strip=$(cache_value CMAKE_STRIP)
[[ -n "$version" && -x "$objdump" && -x "$strip" ]] ||
  { echo "windows-release: cannot read the build's version and tools" >&2; exit 1; }

out="out/ecuprog-$version-windows-x86_64"
rm -rf "$out"
mkdir -p "$out"
"$strip" -o "$out/ecuprog.exe" "$build/ecuprog.exe"
bash tests/e2e/windows/check_program.sh "$objdump" "$out/ecuprog.exe" "$version"

have_wine=""
for candidate in /usr/lib/wine/wine64 wine64 wine; do
  if command -v "$candidate" >/dev/null; then have_wine=yes; fi
done
if [[ -n "$have_wine" ]]; then
  export WINEPREFIX="$PWD/$build/wineprefix"
  bash tests/e2e/windows/wine.sh --init
  bash tests/e2e/windows/expect_run.sh --exit 1 \
    --starts "ecuprog $version " \
    --release-line "$(cache_value ECUPROG_HOST_CHECK_FIRMWARE)" \
                   "$(cache_value ECUPROG_CODE_BLOCK)" "$(cache_value ECUPROG_PROFILE_BLOCK)" \
    --line "ERROR COMMUNICATING WITH SERVER" \
    --line "Press space to exit" \
    -- "$out/ecuprog.exe"
  bash tests/e2e/windows/wine.sh --stop
else
  echo "windows-release: no Wine here, the program was not started"
fi

(cd "$out" && sha256sum ecuprog.exe >ecuprog.exe.sha256)
echo "windows-release: $out/ecuprog.exe"
