#!/usr/bin/env bash
# Two jobs at once on one unit, through real COM under Wine: each job gets a
# simulator process of its own; the one that comes second is refused the
# unit's programming group and changes nothing, the first completes.
#
#   two_jobs_test.sh ECUPROG SIM FLASH_CHECK CODE PROFILE WORK
#
# ECUPROG, SIM and FLASH_CHECK are the Windows programs; CODE and PROFILE
# the blocks the program carries; WORK a scratch folder. Runs in WINEPREFIX
# (wine.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 6 ]] || { echo "usage: two_jobs_test.sh ECUPROG SIM FLASH_CHECK CODE PROFILE WORK" >&2; exit 2; }
ecuprog=$1 sim=$2 flash_check=$3 code=$4 profile=$5 work=$6
source "$here/sim_processes.sh"

rm -rf "$work"
mkdir -p "$work"
wine_run "$sim" --register >/dev/null || fail "the simulator cannot be registered"
trap 'wine_run "$sim" --unregister >/dev/null || true' EXIT

# Erases and program steps of about a second: the first job holds the unit
# for a few seconds.
bench="$work/bench"
wine_run "$sim" --make-bench "$(windows_path "$bench")" || fail "no bench"
export ECUPROG_SIM_BENCH
ECUPROG_SIM_BENCH=$(windows_path "$bench")

before=$(date +%s)
printf '4711\n' | bash "$here/wine.sh" "$ecuprog" >"$work/first.out" 2>&1 &
first=$!
for _ in $(seq 600); do
  grep -q "Code flash erase" "$work/first.out" && break
  kill -0 "$first" 2>/dev/null || break
  sleep 0.1
done
grep -q "Code flash erase" "$work/first.out" ||
  { cat "$work/first.out"; fail "the first job did not start erasing"; }

set +e
printf '4711\n' | bash "$here/wine.sh" "$ecuprog" >"$work/second.out" 2>&1
second_exit=$?
wait "$first"
first_exit=$?
set -e
after=$(date +%s)

tr -d '\r' <"$work/second.out" | grep -qx "COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE" ||
  { cat "$work/second.out"; fail "the second job was not refused the unit"; }
[[ $second_exit -eq 1 ]] || fail "the second job exited with $second_exit"
! grep -q "flash erase" "$work/second.out" || fail "the second job erased"
tr -d '\r' <"$work/first.out" | grep -qx "PROGRAMMING SUCCESSFUL" ||
  { cat "$work/first.out"; fail "the first job did not complete"; }
[[ $first_exit -eq 0 ]] || fail "the first job exited with $first_exit"
expect_no_server "$sim" 300
wine_run "$flash_check" "$(windows_path "$code")" "$(windows_path "$profile")" \
  "$(windows_path "$bench/w3-bay1-code.bin")" \
  "$(windows_path "$bench/w3-bay1-store.bin")" "$before" "$after" ||
  fail "the unit's flash is not as the first job programmed it"
echo "ok: the second job was refused, the first completed"
