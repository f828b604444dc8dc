#!/usr/bin/env bash
# Builds the Windows programs, 32-bit (x86) and 64-bit (x64), and runs them
# under Wine (Debian: wine64 and wine32), as on a workshop PC where no
# programming server is registered, then in whole jobs against the
# simulator of either bitness; fails when a Windows build or any of its
# checks fails. Tests that share no Wine prefix run two at a time.
#
# Where this machine runs no 32-bit programs under Wine (its kernel runs
# none itself; scripts/install-wine32.sh), the 32-bit program is still
# built but not run, and a line saying why is printed first and last.
#
#   scripts/windows-test.sh [CMAKE_CONFIGURE_ARGS...]
#
# The environment of scripts/windows-build.sh applies; JOBS also sets how
# many tests run at a time (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/phases.sh

wine32_status=$(bash tests/e2e/windows/wine32_status.sh) && wine32=yes || wine32=""
skip_line="windows: 32-bit tests skipped: ${wine32_status#refused: }"
if [[ -z "$wine32" ]]; then echo "$skip_line"; fi

build() {
  ECUPROG_WINDOWS_PRESET=$1 bash scripts/windows-build.sh "${@:2}"
}
phase "x86 build" build windows-x86 "$@"
other=""
if [[ -n "$wine32" ]]; then other="$PWD/build/windows-x86"; fi
phase "x64 build" build windows "$@" -DECUPROG_OTHER_WINDOWS_BUILD="$other" \
  -DECUPROG_X86_WINDOWS_BUILD="$PWD/build/windows-x86"

# Every new prefix of the suites is a copy of one template (wine.sh).
phase "Wine template prefix" bash tests/e2e/windows/wine.sh --template

jobs=${JOBS:-2}
status=0
phase "x64 tests (and the jobs across bitness)" \
  ctest --preset windows -j"$jobs" || status=1
if [[ -n "$wine32" ]]; then
  phase "x86 tests" ctest --preset windows-x86 -j"$jobs" || status=1
else
  # The x86 checks that run nothing under Wine.
  phase "x86 tests (none under Wine)" \
    ctest --preset windows-x86 -j"$jobs" -LE wine || status=1
  echo "$skip_line"
fi
exit $status
