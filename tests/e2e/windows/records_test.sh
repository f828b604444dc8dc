#!/usr/bin/env bash
# The job records of a user whose name, and so whose profile's path, the
# ANSI code page cannot spell, in a prefix of its own: a finished job and a
# refused one, each recorded under the user's Local AppData known folder
# (not where a LOCALAPPDATA variable points), and ecuprog-records.exe
# listing both, newest first, with the user, the identity and the paths
# read right; a damaged record beside them is named and left out.
#
#   records_test.sh ECUPROG RECORDS SIM FLASH_CHECK FIRMWARE_CHECKER CODE PROFILE WORK
#
# ECUPROG, RECORDS (ecuprog-records.exe), SIM and FLASH_CHECK are the
# Windows programs; FIRMWARE_CHECKER is the host's, for the release line;
# CODE and PROFILE are the blocks the program carries; WORK is a scratch
# folder. Runs in WINEPREFIX (wine.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 8 ]] || { echo "usage: records_test.sh ECUPROG RECORDS SIM FLASH_CHECK FIRMWARE_CHECKER CODE PROFILE WORK" >&2; exit 2; }
ecuprog=$1 records_reader=$2 sim=$3 flash_check=$4 checker=$5 code=$6 profile=$7 work=$8
source "$here/sim_processes.sh"
# Wine reads the Unix command line and environment in the Unix locale.
export LC_ALL=C.UTF-8

# Wine names the Windows user, and the profile's folder, after USER when
# the prefix's session starts.
user="Jörg Жуков"
export USER=$user
wine_run --stop
rm -rf "$work"
mkdir -p "$work"
lines_of() { tr -d '\r' <"$1"; }

wine_run "$sim" --register >/dev/null || fail "the simulator cannot be registered"
bench="$work/bench"
wine_run "$sim" --make-bench "$(windows_path "$bench")" --instant || fail "no bench"
export ECUPROG_SIM_BENCH
ECUPROG_SIM_BENCH=$(windows_path "$bench")

# The records folder is the known folder's, whatever the variable says:
# the refused job runs with LOCALAPPDATA pointing elsewhere (Wine sets the
# variable from the profile for every program it starts; cmd does not).
echo "--- a refused job and a finished one, as $user"
bash "$here/expect_run.sh" --exit 1 --input $'9999\n' \
  --starts "ecuprog " --release-line "$checker" "$code" "$profile" \
  "${default_bench_units[@]}" \
  --line "Please enter the serial number of the device you wish to program : THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND" \
  --line "Press space to exit" \
  -- cmd /c "set LOCALAPPDATA=Z:\\nowhere&& $(windows_path "$ecuprog")"
expect_no_server "$sim" 300
expect_programmed "$ecuprog" "$sim" "$bench" \
  --starts "ecuprog " --release-line "$checker" "$code" "$profile" \
  "${default_bench_listing[@]}" \
  --match "Code flash erase \.\.\. (erasing \.\.\. )?complete \([0-9.]+secs\)"

folder="$WINEPREFIX/drive_c/users/$user/AppData/Local/ecuprog/records"
mapfile -t files < <(find "$folder" -maxdepth 1 -type f -name 'job-*.jsonl' | sort)
[[ ${#files[@]} -eq 2 ]] ||
  fail "the records folder $folder holds ${#files[@]} records: $(ls -la "$folder" 2>&1)"
for file in "${files[@]}"; do
  [[ "$(basename "$file")" =~ ^job-[0-9]{8}T[0-9]{6}Z-[0-9]+(-[0-9]+)?\.jsonl$ ]] ||
    fail "a record named $(basename "$file")"
done
[[ ! -e "$WINEPREFIX/drive_z/nowhere" && ! -e /nowhere ]] || fail "a record went where LOCALAPPDATA points"
printf 'not a record\n' >"$folder/job-damaged.jsonl"

echo "--- ecuprog-records.exe lists both, newest first"
release=$(sed -n 's/^Ready to program .* firmware release //p' <<<"$("$checker" "$code" "$profile")")
set +e
wine_run "$records_reader" >"$work/out" 2>"$work/err"
rc=$?
set -e
[[ $rc -eq 0 ]] || fail "ecuprog-records ended with $rc: $(lines_of "$work/err")"
mapfile -t listing < <(lines_of "$work/out")
[[ ${#listing[@]} -eq 3 && "${listing[0]}" == "Started (UTC)"* ]] ||
  fail "the listing is: $(lines_of "$work/out")"
at="  $user  "
[[ "${listing[1]}" == *"$at"*"W3#4711  Simulated test cell 1  $release (unit had 1.462.7)  Werkstatt München  finished" ]] ||
  fail "the newest job is listed as: ${listing[1]}"
[[ "${listing[2]}" == *"$at"*"  $release  "*"  refused: THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND" ]] ||
  fail "the refused job is listed as: ${listing[2]}"
windows_folder="C:\\users\\$user\\AppData\\Local\\ecuprog\\records"
[[ "$(lines_of "$work/err")" == "ecuprog-records: $windows_folder\\job-damaged.jsonl: skipped: line 1 is not JSON" ]] ||
  fail "the damaged record was reported as: $(lines_of "$work/err")"

echo "--- the folder named on the command line, one unit, as CSV"
set +e
wine_run "$records_reader" --csv --unit 4711 "$windows_folder" >"$work/out" 2>/dev/null
rc=$?
set -e
mapfile -t csv < <(lines_of "$work/out")
[[ $rc -eq 0 && ${#csv[@]} -eq 2 && "${csv[1]}" == *",$user,W3#4711,Simulated test cell 1,$release (unit had 1.462.7),Werkstatt München,finished,$windows_folder\\job-"*".jsonl" ]] ||
  fail "ecuprog-records --csv --unit 4711 ended with $rc: $(lines_of "$work/out")"

wine_run "$sim" --unregister >/dev/null || fail "the simulator cannot be unregistered"
echo "ok: a finished and a refused job recorded under $windows_folder and listed with the names as spelt"
