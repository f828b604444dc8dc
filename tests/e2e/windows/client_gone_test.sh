#!/usr/bin/env bash
# Jobs that do not end in order, through real COM under Wine.
#
# The tool killed in the middle of the code flash erase: COM would release
# its objects in the simulator only once its pings had failed for minutes
# (Wine never does), but the simulator watches the tool's process, so it
# finishes the erase and ends within seconds, letting go of the unit. The
# job run again at once programs the unit rather than being refused it
# ("COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE").
#
# Then a call that throws inside the simulator (a throw fault on the first
# poll of that erase): the call fails and the job ends with the tool's own
# message, while the simulator goes on, finishes the erase and ends with the
# job; a simulator that had crashed would have left the erase undone.
#
#   client_gone_test.sh ECUPROG SIM WORK
#
# Runs in WINEPREFIX (wine.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 3 ]] || { echo "usage: client_gone_test.sh ECUPROG SIM WORK" >&2; exit 2; }
ecuprog=$1 sim=$2 work=$3
source "$here/sim_processes.sh"

rm -rf "$work"
mkdir -p "$work"
wine_run "$sim" --register >/dev/null || fail "the simulator cannot be registered"
trap 'wine_run "$sim" --unregister >/dev/null || true' EXIT

bench="$work/bench"
wine_run "$sim" --make-bench "$(windows_path "$bench")" || fail "no bench"
export ECUPROG_SIM_BENCH
ECUPROG_SIM_BENCH=$(windows_path "$bench")
code_flash="$bench/w3-bay1-code.bin"
# The unit's first 64 KiB of code flash, erased.
erased=$(head -c 65536 /dev/zero | tr '\0' '\377' | od -An -v -tx1 | tr -d ' \n')
first_64k() { head -c 65536 "$code_flash" | od -An -v -tx1 | tr -d ' \n'; }
set_erase_ms() { sed -E -i "s/\"eraseMs\": [0-9]+/\"eraseMs\": $1/" "$bench/bench.json"; }

# job_until TEXT OUT: starts a job choosing 4711 in the background, its
# output in OUT, and returns once OUT shows TEXT; the job's pid in $job.
# Ten minutes only catch a job that never gets there.
job_until() {
  printf '4711\n' | bash "$here/wine.sh" "$ecuprog" >"$2" 2>&1 &
  job=$!
  for _ in $(seq 6000); do
    grep -qF "$1" "$2" && return 0
    kill -0 "$job" 2>/dev/null || break
    sleep 0.1
  done
  cat "$2"
  fail "the job never showed \"$1\""
}

echo "--- the tool killed while it erases the code flash"
# Long enough that the kill surely lands in the erase.
set_erase_ms 60000
grep -q '"eraseMs": 60000' "$bench/bench.json" || fail "the erase was not lengthened"
cp "$bench/w3-bay1-store.bin" "$work/store-before.bin"
job_until "Code flash erase ... erasing ... " "$work/killed.out"
# Killed as the system kills it: its process ends at once, in whatever it
# was doing (not as taskkill ends it, through Wine's TerminateProcess).
# The program runs
# in the process that wine.sh's time limit started.
limit=$(pgrep -P "$job" -x timeout || true)
pids=$([[ -z "$limit" ]] || pgrep -P "$limit" || true)
[[ -n "$pids" ]] || fail "the tool's process was not found"
kill -KILL $pids
set +e
wait "$job"
set -e
grep -q "Press space to exit" "$work/killed.out" &&
  { cat "$work/killed.out"; fail "the tool was not killed mid-erase"; }
# A tenth of a second or so on a quiet machine; ten seconds catch one that
# waits for COM.
expect_no_server "$sim" 100 || fail "the simulator outlived its killed client"
[[ "$(first_64k)" == "$erased" ]] || fail "the running erase was not finished"
cmp -s "$bench/w3-bay1-store.bin" "$work/store-before.bin" ||
  fail "the store flash was touched"

echo "--- the job run again at once"
set_erase_ms 1000
set +e
printf '4711\n' | bash "$here/wine.sh" "$ecuprog" >"$work/again.out" 2>&1
again=$?
set -e
tr -d '\r' <"$work/again.out" | grep -qx "PROGRAMMING SUCCESSFUL" ||
  { cat "$work/again.out"; fail "the job run again did not program the unit"; }
[[ $again -eq 0 ]] || fail "the job run again exited with $again"
expect_no_server "$sim" 300

echo "--- a call that throws inside the simulator"
[[ "$(first_64k)" != "$erased" ]] || fail "the unit is not programmed"
replace_in() { local text; text=$(<"$1"); printf '%s\n' "${text/"$2"/"$3"}" >"$1"; }
replace_in "$bench/bench.json" '"faults": []' \
  '"faults": [{"operation": "PollErase", "region": "code", "call": 1, "action": "throw"}]'
grep -q '"action": "throw"' "$bench/bench.json" || fail "the fault was not added"
set +e
printf '4711\n' | bash "$here/wine.sh" "$ecuprog" >"$work/thrown.out" 2>&1
thrown=$?
set -e
tr -d '\r' <"$work/thrown.out" |
  grep -qx "Code flash erase ... erasing ... ERROR COMMUNICATING WITH SERVER" ||
  { cat "$work/thrown.out"; fail "the job did not end at the failed poll"; }
[[ $thrown -eq 1 ]] || fail "the job exited with $thrown"
expect_no_server "$sim" 300
[[ "$(first_64k)" == "$erased" ]] ||
  fail "the erase was not finished: the simulator did not survive the throw"
echo "ok: the simulator ended with its killed client, the job ran again at once, and a throw failed one call"
