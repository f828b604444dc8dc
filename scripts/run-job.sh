#!/usr/bin/env bash
# Builds the tool and runs one programming job against the simulated
# programming server (the build registers it; its default bench is made on
# first use).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh run
cmake --preset default
cmake --build --preset default -j2
exec ./build/default/ecuprog
