#!/usr/bin/env bash
# Files of a bench the simulator cannot use, through real COM under Wine:
# a device's name (NUL) where a unit's flash file belongs refuses that unit
# alone, without the simulator waiting on it; a flash file that is
# read-only refuses its unit when the job asks for it, before anything is
# erased, with the file named in the bench's log; once it is writable again
# the job completes. A temporary a simulator left while it made a flash
# file goes when the bench is next opened.
#
#   unusable_files_test.sh ECUPROG SIM WORK
#
# Runs in WINEPREFIX (wine.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 3 ]] || { echo "usage: unusable_files_test.sh ECUPROG SIM WORK" >&2; exit 2; }
ecuprog=$1 sim=$2 work=$3
source "$here/sim_processes.sh"

rm -rf "$work"
mkdir -p "$work"
wine_run "$sim" --register >/dev/null || fail "the simulator cannot be registered"
store="$work/bench/w3-bay1-store.bin"
writable() { chattr -i "$store" 2>/dev/null || true; chmod u+w "$store" 2>/dev/null || true; }
trap 'writable; wine_run "$sim" --unregister >/dev/null || true' EXIT

bench="$work/bench"
wine_run "$sim" --make-bench "$(windows_path "$bench")" --instant || fail "no bench"
export ECUPROG_SIM_BENCH
ECUPROG_SIM_BENCH=$(windows_path "$bench")

# NUL opens the null device wherever it stands.
sed -i 's/"w17-bay5-code.bin"/"NUL"/' "$bench/bench.json"
grep -q '"codeFlash": "NUL"' "$bench/bench.json" || fail "the bench was not changed"
leftover="$bench/.w3-bay1-code.bin.new-7"
fresh="$bench/.w3-bay1-store.bin.new-8"
echo part >"$leftover"
echo part >"$fresh"
touch -d '2 hours ago' "$leftover"
cp "$store" "$work/store-before.bin"
cp "$bench/w3-bay1-code.bin" "$work/code-before.bin"
# Read-only; for root, who may write it all the same, also unchangeable.
chmod a-w "$store"
if [[ $(id -u) -eq 0 ]]; then
  chattr +i "$store" || { echo "SKIPPED: no unchangeable file here"; exit 0; }
fi

set +e
printf '4711\n' | bash "$here/wine.sh" "$ecuprog" >"$work/refused.out" 2>&1
code=$?
set -e
out=$(tr -d '\r' <"$work/refused.out")
grep -qxF "COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE" <<<"$out" ||
  { cat "$work/refused.out"; fail "the job on a read-only flash file was not refused its group"; }
[[ $code -eq 1 ]] || fail "the refused job exited with $code"
! grep -q "flash erase" <<<"$out" || fail "the refused job erased"
# The unit behind NUL is listed as one whose flash boots nothing.
w17=$(grep "^Found : W17#4715 " <<<"$out" || true)
[[ -n "$w17" && "$w17" != *CodeV* ]] ||
  { cat "$work/refused.out"; fail "the unit whose flash file is NUL was not refused alone"; }
grep -q "W3#4711" <<<"$out" || { cat "$work/refused.out"; fail "the other units were not listed"; }
expect_no_server "$sim" 100
log="$bench/ecuprog-sim.log"
[[ -f "$log" ]] || fail "the simulator wrote no log"
grep -qF 'w3-bay1-store.bin: cannot be written (it is read-only, or the user may not write it); unit "w3-bay1" is refused until it is put right' "$log" ||
  { cat "$log"; fail "the log does not name the read-only flash file"; }
cmp -s "$store" "$work/store-before.bin" || fail "the read-only store flash was changed"
cmp -s "$bench/w3-bay1-code.bin" "$work/code-before.bin" || fail "the code flash was changed"
[[ ! -e "$leftover" ]] || fail "the old temporary was left"
[[ -e "$fresh" ]] || fail "a temporary that may still be written was taken away"

writable
set +e
printf '4711\n' | bash "$here/wine.sh" "$ecuprog" >"$work/again.out" 2>&1
code=$?
set -e
tr -d '\r' <"$work/again.out" | grep -qxF "PROGRAMMING SUCCESSFUL" ||
  { cat "$work/again.out"; fail "the job did not complete once the file was writable"; }
[[ $code -eq 0 ]] || fail "the job exited with $code"
expect_no_server "$sim" 100
echo "ok: NUL as a flash file refuses its unit alone; a read-only flash file refuses its unit before any erase, named in the log"
echo "ok: an old temporary went when the bench was opened, a fresh one stayed"
