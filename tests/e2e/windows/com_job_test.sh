#!/usr/bin/env bash
# Whole programming jobs of the Windows program through real COM under Wine:
# the simulator is registered as the programming server's local server in
# the prefix, and the program, its serial number piped in, crosses COM's own
# marshalling (the proxy DLL beside the simulator) to it. The whole job's
# record, made into a bench, gives a job that sees what that job saw.
#
#   com_job_test.sh ECUPROG SIM FLASH_CHECK FIRMWARE_CHECKER CODE PROFILE WORK
#
# ECUPROG, SIM and FLASH_CHECK are the Windows programs; FIRMWARE_CHECKER is
# the host's, for the release line; CODE and PROFILE are the blocks the
# program carries; WORK is a scratch folder. Runs in WINEPREFIX (wine.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 7 ]] || { echo "usage: com_job_test.sh ECUPROG SIM FLASH_CHECK FIRMWARE_CHECKER CODE PROFILE WORK" >&2; exit 2; }
ecuprog=$1 sim=$2 flash_check=$3 checker=$4 code=$5 profile=$6 work=$7
# server_running, expect_no_server, expect_programmed: this build's
# simulator only, whatever else runs here.
source "$here/sim_processes.sh"

rm -rf "$work"
mkdir -p "$work"

# A device maker's server registered before: the simulator's registration
# replaces it and unregistering puts it back. (Wine reads only the machine's
# classes, so both go there.)
maker_server='HKCR\CLSID\{8315E2AB-F443-4C11-9B04-4CC6C085B26D}\LocalServer32'
maker_marshalling='HKCR\Interface\{89AD3117-64CC-4E1B-946C-AAD842E9B8CF}\ProxyStubClsid32'
typelib_marshaller='{00020424-0000-0000-C000-000000000046}'
wine_run reg add "$maker_server" /ve /d 'C:\maker\server.exe' /f >/dev/null
wine_run reg add "$maker_marshalling" /ve /d "$typelib_marshaller" /f >/dev/null

wine_run "$sim" --register >/dev/null || fail "the simulator cannot be registered"

listing=(
  --starts "ecuprog "
  --release-line "$checker" "$code" "$profile"
  "${default_bench_listing[@]}"
  --match "Code flash erase \.\.\. (erasing \.\.\. )?complete \([0-9.]+secs\)"
)

echo "--- the whole job"
bench="$work/bench"
wine_run "$sim" --make-bench "$(windows_path "$bench")" --instant ||
  fail "no bench"
export ECUPROG_SIM_BENCH
ECUPROG_SIM_BENCH=$(windows_path "$bench")
expect_programmed "$ecuprog" "$sim" "$bench" "${listing[@]}"

echo "--- the job's record made into a bench: a job against it sees the same"
record=$(ls -t "$WINEPREFIX"/drive_c/users/*/AppData/Local/ecuprog/records/*.jsonl \
  "$WINEPREFIX"/drive_c/users/*/"Local Settings/Application Data"/ecuprog/records/*.jsonl \
  2>/dev/null | head -1) || true
[[ -f "$record" ]] || fail "the job left no record"
cp "$record" "$work/job.jsonl"
replay="$work/replay"
made=$(wine_run "$sim" --make-bench "$(windows_path "$replay")" \
  --from-record "$(windows_path "$work/job.jsonl")") || fail "no bench from the record: $made"
grep -qF "the job chose serial number 4711 (found-1)" <<<"$made" ||
  fail "the bench does not say which unit to choose: $made"
ECUPROG_SIM_BENCH=$(windows_path "$replay")
bash "$here/expect_run.sh" --exit 0 --input $'4711\n' "${listing[@]}" \
  --match "Code flash program \.\.\. complete \([0-9.]+secs\)" \
  --match "Store flash erase \.\.\. erasing \.\.\. complete \([0-9.]+secs\)" \
  --match "Store flash program \.\.\. complete \([0-9.]+secs\)" \
  --line "Reset request ... accepted" \
  --line "PROGRAMMING SUCCESSFUL" \
  --line "Press space to exit" \
  -- "$ecuprog"
expect_no_server "$sim" 300

echo "--- the server ending in the middle of programming the code flash"
bench="$work/bench-exit"
wine_run "$sim" --make-bench "$(windows_path "$bench")" --instant ||
  fail "no bench"
no_faults='"faults": []'
fault='"faults": [{"operation": "ProgramRegion", "region": "code", "call": 1, "action": "exit", "value": 1, "during": true}]'
# Replaces the text $2 by $3 in the file $1, both taken literally.
replace_in() { local text; text=$(<"$1"); printf '%s\n' "${text/"$2"/"$3"}" >"$1"; }
replace_in "$bench/bench.json" "$no_faults" "$fault"
grep -q '"during": true' "$bench/bench.json" || fail "the fault was not added"
cp "$bench/w3-bay1-store.bin" "$work/store-before.bin"
ECUPROG_SIM_BENCH=$(windows_path "$bench")
bash "$here/expect_run.sh" --exit 1 --input $'4711\n' "${listing[@]}" \
  --line "Code flash program ... ERROR COMMUNICATING WITH SERVER" \
  --line "Press space to exit" \
  -- "$ecuprog"
cmp -s "$bench/w3-bay1-store.bin" "$work/store-before.bin" ||
  fail "the store flash was touched"
expect_no_server "$sim" 300

echo "--- the same job again: the unit waits in its boot code for new code"
replace_in "$bench/bench.json" "$fault" "$no_faults"
grep -q '"during"' "$bench/bench.json" && fail "the fault was not taken out"
expect_programmed "$ecuprog" "$sim" "$bench" "${listing[@]/ CodeV1.462.7/}"
# The start, the release line and the units' lines with the new release,
# and no unit chosen.
units=("${listing[@]:0:6}" "${default_bench_units[@]}")
bash "$here/expect_run.sh" --exit 1 --input $'0\n' \
  "${units[@]/CodeV1.462.7/CodeV1.463.1}" \
  --line "Please enter the serial number of the device you wish to program : THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND" \
  --line "Press space to exit" \
  -- "$ecuprog"

echo "--- unregistered: the device maker's server (not installed) is asked again"
wine_run "$sim" --unregister || fail "the simulator cannot be unregistered"
grep -qF 'C:\maker\server.exe' <<<"$(reg_query "$maker_server" /ve)" ||
  fail "the maker's server was not put back"
grep -qF "$typelib_marshaller" <<<"$(reg_query "$maker_marshalling" /ve)" ||
  fail "the maker's marshalling was not put back"
bash "$here/expect_run.sh" --exit 1 \
  --starts "ecuprog " \
  --release-line "$checker" "$code" "$profile" \
  --line "ERROR COMMUNICATING WITH SERVER" \
  --line "Press space to exit" \
  -- "$ecuprog"
echo "ok: the whole job through COM, its record replayed, a server that ends, the job run again, and unregistering"
