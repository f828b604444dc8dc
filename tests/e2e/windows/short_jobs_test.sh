#!/usr/bin/env bash
# Jobs that fail fast, through real COM under Wine: the client may take and
# let go of every object of the simulator between two of its looks, and
# the simulator must still end with the job, within a second. A job on a
# bench the simulator cannot read finds the reason in the bench's log.
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

# A bench the simulator cannot read: the job ends as with no server, and
# the simulator, which has no error output anyone sees, says why in the
# log in the bench folder, a line each time, the older lines rotated.
mkdir -p "$work/broken"
printf '{"units": [\n' >"$work/broken/bench.json"
cp "$work/broken/bench.json" "$work/broken-before.json"
ECUPROG_SIM_BENCH=$(windows_path "$work/broken")
for round in 1 2; do
  set +e
  bash "$here/wine.sh" "$ecuprog" </dev/null >"$work/out" 2>&1
  code=$?
  set -e
  tr -d '\r' <"$work/out" | grep -qxF "ERROR COMMUNICATING WITH SERVER" ||
    { cat "$work/out"; fail "broken bench, round $round: not \"ERROR COMMUNICATING WITH SERVER\""; }
  [[ $code -eq 1 ]] || fail "broken bench, round $round: exit code $code"
  expect_no_server "$sim" 100 || fail "broken bench, round $round"
done
log="$work/broken/ecuprog-sim.log"
[[ -f "$log" ]] || fail "the simulator wrote no log into the broken bench's folder"
grep -c 'bench\.json' "$log" | grep -qx 2 ||
  { cat "$log"; fail "the log does not name bench.json once for each job"; }
grep -qE '^20[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} UTC .*bench\.json' "$log" ||
  { cat "$log"; fail "the log's lines do not begin with the time"; }
cmp -s "$work/broken/bench.json" "$work/broken-before.json" || fail "the broken bench.json was changed"
[[ "$(ls -A "$work/broken")" == "$(printf 'bench.json\necuprog-sim.log')" ]] ||
  fail "the broken bench's folder holds more than its bench.json and the log: $(ls -A "$work/broken")"

[[ -f "$work/listed/bench.json" && -f "$work/listed/w3-bay1-code.bin" ]] ||
  fail "the first use made no bench"
ls -a "$work" | grep -q '^\.listed\.' && fail "a half-made bench was left beside"
echo "ok: the simulator ended with each of $((4 * ${#cases[@]})) short jobs"
echo "ok: a bench the simulator cannot read: ERROR COMMUNICATING WITH SERVER, and the reason in its log"
