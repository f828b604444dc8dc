#!/usr/bin/env bash
# Builds the Windows programs, 32-bit (x86) and 64-bit (x64), and runs them
# under Wine (Debian: wine64 and wine32), as on a workshop PC where no
# programming server is registered, then in whole jobs against the
# simulator of either bitness; fails when a Windows build or any of its
# checks fails.
#
# Where this machine runs no 32-bit programs under Wine (neither natively
# nor through qemu, scripts/install-deps.sh), the 32-bit program is still
# built but not run, and a line saying why is printed first and last.
#
#   scripts/windows-test.sh [CMAKE_CONFIGURE_ARGS...]
#
# The environment of scripts/windows-build.sh applies.
set -euo pipefail
cd "$(dirname "$0")/.."

wine32_status=$(bash tests/e2e/windows/wine32_status.sh) && wine32=yes || wine32=""
skip_line="windows: 32-bit tests skipped: ${wine32_status#refused: }"
if [[ -z "$wine32" ]]; then echo "$skip_line"; fi

start=$SECONDS
ECUPROG_WINDOWS_PRESET=windows-x86 bash scripts/windows-build.sh "$@"
echo "windows: x86 built in $((SECONDS - start)) s"
other=""
if [[ -n "$wine32" ]]; then other="$PWD/build/windows-x86"; fi
start=$SECONDS
ECUPROG_WINDOWS_PRESET=windows bash scripts/windows-build.sh "$@" \
  -DECUPROG_OTHER_WINDOWS_BUILD="$other"
echo "windows: x64 built in $((SECONDS - start)) s"

status=0
start=$SECONDS
ctest --preset windows || status=1
echo "windows: x64 tests (and the jobs across bitness) in $((SECONDS - start)) s"
if [[ -n "$wine32" ]]; then
  start=$SECONDS
  ctest --preset windows-x86 || status=1
  echo "windows: x86 tests in $((SECONDS - start)) s"
else
  # The x86 checks that run nothing under Wine.
  ctest --preset windows-x86 -LE wine || status=1
  echo "$skip_line"
fi
exit $status
