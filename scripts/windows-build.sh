#!/usr/bin/env bash
# Cross-builds the Windows program with MinGW-w64: build/windows/ecuprog.exe
# (x64; build/windows-x86/ecuprog.exe with the windows-x86 presets) and the
# programs its Wine tests run. Crypto++ for MinGW is built first
# when it is not cached yet (scripts/build-cryptopp-mingw.sh).
#
#   scripts/windows-build.sh [CMAKE_CONFIGURE_ARGS...]
#
# Environment:
#   ECUPROG_WINDOWS_PRESET   configure/build preset (default: windows;
#                            windows-x86... build the 32-bit program)
#   ECUPROG_HOST_BUILD_DIR   a configured Linux build of this tree (for
#                            example build/default) whose firmware tools the
#                            Windows build then uses; without it the
#                            Windows build makes its own host build of them
#   JOBS                     parallel jobs (default: nproc)
set -euo pipefail
cd "$(dirname "$0")/.."

preset="${ECUPROG_WINDOWS_PRESET:-windows}"
jobs="${JOBS:-$(nproc)}"

case "$preset" in
  windows-x86*) export ECUPROG_MINGW_TARGET=i686-w64-mingw32 ;;
  *) export ECUPROG_MINGW_TARGET=x86_64-w64-mingw32 ;;
esac
cryptopp_root=$(bash scripts/build-cryptopp-mingw.sh)

host_tools=""
if [[ -n "${ECUPROG_HOST_BUILD_DIR:-}" ]]; then
  cmake --build "$ECUPROG_HOST_BUILD_DIR" -j"$jobs" \
    --target ecuprog_check_firmware ecuprog_make_firmware
  host_tools="$(cd "$ECUPROG_HOST_BUILD_DIR" && pwd)/tools"
fi

cmake --preset "$preset" \
  -DECUPROG_CRYPTOPP_ROOT="$cryptopp_root" \
  -DECUPROG_HOST_TOOLS_DIR="$host_tools" \
  "$@"
cmake --build --preset "$preset" -j"$jobs"
