#!/usr/bin/env bash
# The simulator in folders whose names the ANSI code page cannot spell, in a
# prefix of its own: registered from a kit folder with such a name, a bench
# made there and a whole job run on it, the default bench under a user
# profile with such a name, its messages naming such a path as typed, and a
# bench variable that is not a full path refused.
#
#   any_name_test.sh ECUPROG SIM SIM_DLL FLASH_CHECK FIRMWARE_CHECKER CODE PROFILE WORK
#
# ECUPROG, SIM (with its marshalling DLL SIM_DLL) and FLASH_CHECK are the
# Windows programs; FIRMWARE_CHECKER is the host's, for the release line;
# CODE and PROFILE are the blocks the program carries; WORK is a scratch
# folder. Runs in WINEPREFIX (wine.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 8 ]] || { echo "usage: any_name_test.sh ECUPROG SIM SIM_DLL FLASH_CHECK FIRMWARE_CHECKER CODE PROFILE WORK" >&2; exit 2; }
ecuprog=$1 sim_built=$2 dll=$3 flash_check=$4 checker=$5 code=$6 profile=$7 work=$8
source "$here/sim_processes.sh"
# Wine reads the Unix command line and environment in the Unix locale.
export LC_ALL=C.UTF-8

letters="Prüfstand ßé Ж"
rm -rf "$work"
mkdir -p "$work"
# Output lines without the carriage returns a Windows program writes.
lines_of() { tr -d '\r' <"$1"; }

echo "--- registered from a kit folder named $letters"
kit="$work/Kit $letters"
mkdir -p "$kit"
cp "$sim_built" "$dll" "$kit/"
sim="$kit/$(basename "$sim_built")"
wine_run "$sim" --register >"$work/out" 2>"$work/err" ||
  fail "the simulator cannot be registered: $(cat "$work/err")"
# The registration, and what COM then starts for programs of each
# bitness, name the folder as it is spelt.
[[ "$(lines_of "$work/out")" == "registered $(windows_path "$sim")"$'\n'"32-bit programs reach the simulator $(windows_path "$sim") (64-bit)"$'\n'"64-bit programs reach the simulator $(windows_path "$sim") (64-bit)" ||
   "$(lines_of "$work/out")" == "registered $(windows_path "$sim")"$'\n'"32-bit programs reach the simulator $(windows_path "$sim") (32-bit)"$'\n'"64-bit programs reach the simulator $(windows_path "$sim") (32-bit)" ]] ||
  fail "--register said: $(lines_of "$work/out")"

listing=(
  --starts "ecuprog "
  --release-line "$checker" "$code" "$profile"
  "${default_bench_listing[@]}"
  --match "Code flash erase \.\.\. (erasing \.\.\. )?complete \([0-9.]+secs\)"
)

echo "--- a bench made in a folder named $letters, and a whole job on it"
bench="$work/$letters/bench"
mkdir -p "$work/$letters"
wine_run "$sim" --make-bench "$(windows_path "$bench")" --instant ||
  fail "no bench"
[[ -f "$bench/bench.json" && -f "$bench/w3-bay1-code.bin" ]] ||
  fail "the bench is not in the folder named: $(ls "$work")"
[[ "$(ls "$work" | sort)" == "$(printf '%s\n' "Kit $letters" "$letters" err out | LC_ALL=C.UTF-8 sort)" ]] ||
  fail "a folder of another name was made: $(ls "$work")"
export ECUPROG_SIM_BENCH
ECUPROG_SIM_BENCH=$(windows_path "$bench")
expect_programmed "$ecuprog" "$sim" "$bench" "${listing[@]}"

echo "--- the default bench, made by the first job, in a user profile under $letters"
# Once its session starts anew, Wine gives every program the user's
# profile (and so LOCALAPPDATA) in the folder named; it makes the folder.
unset ECUPROG_SIM_BENCH
profiles_key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\ProfileList'
profiles="$work/Users Müller $letters"
profiles_in() {
  wine_run reg add "$profiles_key" /v ProfilesDirectory /t REG_EXPAND_SZ \
    /d "$1" /f >/dev/null
  wine_run --stop
}
profiles_in "$(windows_path "$profiles")"
default_bench="$profiles/$(id -un)/AppData/Local/ecuprog/bench"
expect_programmed "$ecuprog" "$sim" "$default_bench" "${listing[@]}"
profiles_in 'C:\users'

echo "--- the simulator's messages name such a path as typed"
touch "$work/$letters/a file"
set +e
wine_run "$sim" --make-bench "$(windows_path "$work/$letters/a file")\\bench" \
  --instant >"$work/out" 2>"$work/err"
rc=$?
set -e
[[ $rc -eq 1 ]] || fail "--make-bench under a file ended with $rc"
grep -qxF "ecuprog-sim: $(windows_path "$work/$letters/a file"): cannot create the bench folder" \
  <(lines_of "$work/err") || fail "the message was: $(lines_of "$work/err")"

# The same on a console (script(1) gives Wine a terminal, so the program a
# real console): the screen shows the name, not its bytes in the console's
# code page.
script -qefc "$(printf '%q ' "$here/wine.sh" "$sim" --make-bench \
  "$(windows_path "$work/$letters/a file")\\bench" --instant)" "$work/screen" \
  </dev/null >/dev/null 2>&1 || true
screen=$(sed 's/\x1b\[[?0-9;]*[A-Za-z]//g' "$work/screen" | tr -d ' \r\n')
expected="ecuprog-sim:$(windows_path "$work/$letters/a file"):cannotcreatethebenchfolder"
[[ "$screen" == *"${expected// /}"* ]] || fail "the console showed: $screen"

echo "--- a bench variable that is not a full path is refused"
# The server itself, as COM would start it: it names the variable.
set +e
ECUPROG_SIM_BENCH=bench wine_run "$sim" -Embedding >"$work/out" 2>"$work/err"
rc=$?
set -e
[[ $rc -eq 1 ]] || fail "the server ended with $rc on a relative bench"
grep -qxF 'ecuprog-sim: ECUPROG_SIM_BENCH is "bench", a relative path: it must give the bench folder'"'"'s full path' \
  <(lines_of "$work/err") || fail "the message was: $(lines_of "$work/err")"
# A job against it stops before anything is listed, and no bench appears in
# the folder COM starts servers in.
ECUPROG_SIM_BENCH=bench bash "$here/expect_run.sh" --exit 1 \
  --starts "ecuprog " \
  --release-line "$checker" "$code" "$profile" \
  --line "ERROR COMMUNICATING WITH SERVER" \
  --line "Press space to exit" \
  -- "$ecuprog"
expect_no_server "$sim" 300
for system in system32 syswow64; do
  [[ ! -e "$WINEPREFIX/drive_c/windows/$system/bench" ]] ||
    fail "a bench was made in $system"
done

wine_run "$sim" --unregister || fail "the simulator cannot be unregistered"
echo "ok: registered from, benches in and messages naming folders named $letters; a relative bench refused"
