#!/usr/bin/env bash
# Builds the tool and runs one programming job against the simulated
# programming server (the build registers it; its default bench is made on
# first use). Only what a job needs is built: the tool with its firmware
# checked, the simulator, and its registration; `bash scripts/test-all.sh`
# builds and runs everything else.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh run
cmake --preset default
cmake --build --preset default -j2 \
  --target ecuprog ecuprog-sim ecuprog_register_simulator
echo "run-job: built the tool and the simulator only; to build the tests and the other tools too: cmake --build --preset default -j2 (bash scripts/test-all.sh builds and runs them all)" >&2
exec ./build/default/ecuprog
