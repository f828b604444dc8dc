#!/usr/bin/env bash
# Jobs that fail fast, through real COM under Wine: the client may take and
# let go of every object of the simulator between two of its looks, and
# the simulator must still end with the job, within a second.
#
#   short_jobs_test.sh ECUPROG SIM WORK
#
# Runs in WINEPREFIX (wine.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 3 ]] || { echo "usage: short_jobs_test.sh ECUPROG SIM WORK" >&2; exit 2; }
ecuprog=$1 sim=$2 work=$3
source "$here/sim_processes.sh"

rm -rf "$work"
mkdir -p "$work"
wine_run "$sim" --register >/dev/null || fail "the simulator cannot be registered"
trap 'wine_run "$sim" --unregister >/dev/null || true' EXIT

# The listed units' bench is made by the first job that uses it.
mkdir -p "$work/empty" "$work/old"
echo '{"units": []}' >"$work/empty/bench.json"
echo '{"serverVersion": [1, 4]}' >"$work/old/bench.json"

# bench, piped answer, the message the job ends with
cases=(
  "listed|9999|THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND"
  "empty||NO DEVICES FOUND"
  "old||UNABLE TO CONTINUE - REQUIRE SERVER VERSION 1.5+"
)
export ECUPROG_SIM_BENCH
for round in 1 2 3 4; do
  for case in "${cases[@]}"; do
    IFS='|' read -r bench answer message <<<"$case"
    ECUPROG_SIM_BENCH=$(windows_path "$work/$bench")
    set +e
    printf '%s\n' "$answer" | bash "$here/wine.sh" "$ecuprog" >"$work/out" 2>&1
    code=$?
    set -e
    tr -d '\r' <"$work/out" | grep -qF "$message" ||
      { cat "$work/out"; fail "round $round, $bench: not \"$message\""; }
    [[ $code -eq 1 ]] || fail "round $round, $bench: exit code $code"
    # Gone after the job's end (a tenth of a second or so on a quiet
    # machine; ten seconds only catch one that stays).
    expect_no_server "$sim" 100 || fail "round $round, $bench"
  done
done
[[ -f "$work/listed/bench.json" && -f "$work/listed/w3-bay1-code.bin" ]] ||
  fail "the first use made no bench"
ls -a "$work" | grep -q '^\.listed\.' && fail "a half-made bench was left beside"
echo "ok: the simulator ended with each of $((4 * ${#cases[@]})) short jobs"
