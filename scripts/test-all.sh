#!/usr/bin/env bash
# Builds everything and runs every test: the Linux suite, then the Windows
# build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test
cmake --preset default -DECUPROG_BUILD_BENCH=ON
cmake --build --preset default -j2
ctest --preset default -j2

# The same suite under address and undefined-behaviour sanitizers.
cmake --preset sanitize
cmake --build --preset sanitize -j2
ctest --preset sanitize -j2

# Each fuzzer for a minute from the committed seeds: any crash, leak or
# undefined behaviour fails the run.
bash scripts/fuzz.sh 60

# The Windows programs, 32-bit and 64-bit, cross-built with MinGW-w64 and
# run under Wine, alone and in jobs across bitness; they reuse the firmware
# tools of the Linux build above. Where this machine runs no 32-bit
# programs, the line saying so comes last.
ECUPROG_HOST_BUILD_DIR=build/default bash scripts/windows-test.sh
