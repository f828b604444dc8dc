#!/usr/bin/env bash
# Builds everything and runs every test: the Linux suite, then the Windows
# build under Wine. Ends with one line per phase and its wall time (also
# when a phase fails, which ends the run).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/phases.sh

phase "set-up (install-deps.sh)" bash scripts/install-deps.sh test

# Every build here but the reproducible kit's goes through ccache (its
# cache outside the tree, ~/.cache/ccache): a later run, in this clone or
# another, compiles only what changed. Paths below the clone are hashed as
# relative ones, so that another clone's objects serve; their debug
# information may name that clone's folder.
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
phase "Linux build" bash -c 'cmake --preset default -DECUPROG_BUILD_BENCH=ON &&
  cmake --build --preset default -j2'
phase "Linux tests" ctest --preset default -j2

# The same suite under address and undefined-behaviour sanitizers.
phase "sanitizer build" bash -c 'cmake --preset sanitize &&
  cmake --build --preset sanitize -j2'
phase "sanitizer tests" ctest --preset sanitize -j2

# Each fuzzer for a minute from the committed seeds: any crash, leak or
# undefined behaviour fails the run.
phase "fuzzers" bash scripts/fuzz.sh 60

# The Windows programs, 32-bit and 64-bit, cross-built with MinGW-w64 and
# run under Wine, alone and in jobs across bitness; they reuse the firmware
# tools of the Linux build above. Where this machine runs no 32-bit
# programs, the line saying so comes last of its output.
phase "Windows (windows-test.sh)" \
  env ECUPROG_HOST_BUILD_DIR=build/default bash scripts/windows-test.sh
