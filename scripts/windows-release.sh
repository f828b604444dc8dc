#!/usr/bin/env bash
# Produces the release kits a workshop is handed (scripts/windows-kit.sh):
#   out/ecuprog-<version>-<model>-<release>-windows-x86_64.zip
#     ecuprog.exe, RELEASE.txt, MESSAGES.txt, SHA256SUMS
#   out/ecuprog-<version>-<model>-<release>-rehearsal-windows-x86_64.zip
#     ecuprog-sim.exe, ecuprog-sim-ps.dll, REHEARSAL.txt, SHA256SUMS
# built from a clean configuration with the firmware validated by the build
# (a release the tool would refuse fails here with the tool's message),
# checked to stand alone with its manifest and version, and - when Wine is
# installed - run once as on a PC without a programming server.
#
# The same commit gives the same bytes in any folder at any time: the time
# in the kits is the commit's, and the build keeps paths and link times
# out of the programs. A tree with uncommitted changes is packed with the
# revision marked "-modified".
#
#   scripts/windows-release.sh [CMAKE_CONFIGURE_ARGS...]
# for example -DECUPROG_CODE_BLOCK=/path/code.zlib
#             -DECUPROG_PROFILE_BLOCK=/path/profile.bin
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/windows-release

revision=$(git rev-parse HEAD)
if [[ -n "$(git status --porcelain --untracked-files=no)" ]]; then
  echo "windows-release: warning: uncommitted changes; the kit cannot be rebuilt from $revision" >&2
  revision+="-modified"
fi
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH

# The validation cannot be switched off for a release. A fresh
# configuration: no block of an earlier release stays in the cache.
rm -f "$build/CMakeCache.txt"
ECUPROG_WINDOWS_PRESET=windows-release \
  bash scripts/windows-build.sh "$@" -DECUPROG_VALIDATE_FIRMWARE=ON

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache_value CMAKE_PROJECT_VERSION)
objdump=$(cache_value CMAKE_OBJDUMP)

kits=$(bash scripts/windows-kit.sh "$build" out "$revision")
echo "$kits"
kit=$(sed -n 's/^windows-kit: \(.*\)\.zip$/\1/p' <<<"$kits" | head -n 1)
bash tests/e2e/windows/check_program.sh "$objdump" "$kit/ecuprog.exe" "$version"

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
    -- "$kit/ecuprog.exe"
  bash tests/e2e/windows/wine.sh --stop
else
  echo "windows-release: no Wine here, the program was not started"
fi
(cd "$kit" && cat RELEASE.txt && cat SHA256SUMS)
