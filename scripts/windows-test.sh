#!/usr/bin/env bash
# Builds the Windows program and runs it under Wine (Debian: wine64), as on
# a workshop PC where no programming server is registered; fails when the
# Windows build or any of its checks fails.
#
#   scripts/windows-test.sh [CMAKE_CONFIGURE_ARGS...]
#
# The environment of scripts/windows-build.sh applies.
set -euo pipefail
cd "$(dirname "$0")/.."

start=$SECONDS
bash scripts/windows-build.sh "$@"
echo "windows: built in $((SECONDS - start)) s"
ctest --preset windows
