#!/usr/bin/env bash
# Builds the libFuzzer harnesses (fuzz/) with clang under address and
# undefined-behaviour sanitizers and runs each for SECONDS (default 60),
# starting from its committed seeds (fuzz/corpus/<harness>).
#
#   scripts/fuzz.sh [SECONDS]
#
# Exits non-zero when any harness finds a crash, a leak, undefined
# behaviour, an input that runs too long or one that takes too much memory.
# The input is kept in build/fuzz/artifacts; run the harness on it alone
# (with ECUPROG_FUZZ_SHOW=1 to see what the tool wrote) to reproduce.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=${ECUPROG_FUZZ_BUILD:-build/fuzz}
harnesses=(code_image profile_block select_device select_identity bench_json
  channel)

CC=clang CXX=clang++ cmake -S . -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DECUPROG_FUZZ=ON \
  -DECUPROG_BUILD_TESTS=OFF \
  -DECUPROG_REGISTER_SIMULATOR=OFF
cmake --build "$build" --target fuzzers -j2

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# The harnesses run two at a time, one a core: each still gets its whole
# SECONDS, and the run takes half as long.
jobs=${FUZZ_JOBS:-2}
mkdir -p "$build/artifacts" "$build/logs"

run_harness() {
  local name=$1 status=0
  local work="$build/corpus/$name" log="$build/logs/$name.log"
  mkdir -p "$work"
  "$build/fuzz/$name" "$work" "fuzz/corpus/$name" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name-" > "$log" 2>&1 || status=$?
  echo "$status" > "$build/logs/$name.status"
}

running=0
for harness in "${harnesses[@]}"; do
  name=${harness}_fuzzer
  echo "== $name: $seconds s"
  rm -f "$build/logs/$name.status"
  run_harness "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

failed=()
summary=()
for harness in "${harnesses[@]}"; do
  name=${harness}_fuzzer
  log="$build/logs/$name.log"
  status=$(cat "$build/logs/$name.status" 2>/dev/null || echo "?")
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  summary+=("$name: ${runs:-?} executions, ${speed:-?}/s, exit $status")
  if [ "$status" != 0 ]; then
    failed+=("$name")
    tail -n 80 "$log"
  fi
done

printf '%s\n' "${summary[@]}"
if [ "${#failed[@]}" -ne 0 ]; then
  echo "faults found by: ${failed[*]} (inputs in $build/artifacts)"
fi
echo "fuzz: $((${#harnesses[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
[ "${#failed[@]}" -eq 0 ]
