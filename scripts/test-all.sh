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

# The Windows program, cross-built with MinGW-w64 and run under Wine; it
# reuses the firmware tools of the Linux build above.
ECUPROG_HOST_BUILD_DIR=build/default bash scripts/windows-test.sh
