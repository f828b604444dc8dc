#!/usr/bin/env bash
# The Windows rehearsal as the technician is told it, under Wine: the
# prompt commands of README.md ("Rehearsing a job on Windows with the
# simulator") and of the kit's REHEARSAL.txt are read out of those files
# and run as batch files, from the folder the two programs were copied to.
# After registering, the registration names the folder (moved away, the
# tool finds no server), the check the steps prescribe passes with the
# lines they quote, and a job in a new prompt programs the bench the
# commands named (its flash files change), and so does the job run again
# on the unit listed as a job cut short leaves it; after unregistering, the
# variable is gone, a job lists none of the simulator's units and the
# check fails.
#
#   rehearsal_steps_test.sh ECUPROG SIM README REHEARSAL WORK
#
# ECUPROG and SIM are the Windows programs (the marshalling DLL is beside
# SIM); WORK is a scratch folder. Runs in WINEPREFIX (wine.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 5 ]] || { echo "usage: rehearsal_steps_test.sh ECUPROG SIM README REHEARSAL WORK" >&2; exit 2; }
ecuprog=$1 sim=$2 readme=$3 rehearsal=$4 work=$5
source "$here/sim_processes.sh"

rm -rf "$work"
mkdir -p "$work"
drive_c="$WINEPREFIX/drive_c"
env_key='HKCU\Environment'
server_key='HKCR\CLSID\{8315E2AB-F443-4C11-9B04-4CC6C085B26D}\LocalServer32'

# The README section's `bat` blocks, one file each: WORK/readme-1.bat, ...
awk -v out="$work/readme-" '
  /^#/ { in_section = ($0 == "### Rehearsing a job on Windows with the simulator") }
  in_section && /^```bat$/ { n++; in_block = 1; next }
  in_block && /^```/ { in_block = 0; next }
  in_block { print > (out n ".bat") }
' "$readme"
# REHEARSAL.txt's commands: each run of lines indented by five blanks.
awk -v out="$work/kit-" '
  /^     [^ ]/ { if (!in_block) n++; in_block = 1; sub(/^     /, ""); print > (out n ".bat"); next }
  { in_block = 0 }
' "$rehearsal"
for source in readme kit; do
  [[ -f $work/$source-1.bat && -f $work/$source-3.bat && ! -e $work/$source-4.bat ]] ||
    fail "$source: expected three blocks of commands (register, check, unregister)"
done

# A batch file from the prefix's drive C:, with Windows line ends. Wine's
# setx does nothing; what Windows' own does for a user is this reg add.
run_bat() {
  sed -e 's/^setx \([^ ]*\) \(.*\)$/reg add HKCU\\Environment \/v \1 \/d \2 \/f/' \
      -e 's/$/\r/' "$1" >"$drive_c/rehearsal-step.bat"
  wine_run cmd /c 'C:\rehearsal-step.bat' >"$work/bat.out" 2>&1 ||
    { cat "$work/bat.out"; fail "$(basename "$1") failed"; }
  rm -f "$drive_c/rehearsal-step.bat"
}

# The folder the commands name for the two programs and for the bench.
folder_of() { sed -n 's/^cd \/d C:\\\(.*\)$/\1/p' "$1" | head -n 1; }
bench_of() { sed -n 's/^setx ECUPROG_SIM_BENCH C:\\\(.*\)$/\1/p' "$1" | head -n 1; }

simulator_gone() {
  for _ in $(seq 300); do
    grep -qiF "$1" <<<"$(pgrep -af 'ecuprog-sim\.exe"? [-/]Embedding' || true)" || return 0
    sleep 0.1
  done
  fail "the simulator still runs after the job"
}

for source in readme kit; do
  echo "--- $source"
  folder=$(folder_of "$work/$source-1.bat")
  bench=$(bench_of "$work/$source-1.bat")
  # The same folder as the prefix's file system spells it (the kit's
  # steps name a subfolder, ecuprog-sim\x64).
  dir=${folder//\\//}
  [[ -n $folder && -n $bench ]] || fail "$source: no folder or no bench named"
  for step in 2 3; do
    [[ $(folder_of "$work/$source-$step.bat") == "$folder" ]] ||
      fail "$source: block $step does not go into the same folder"
  done
  # Copied into one folder, as the technician does first.
  rm -rf "${drive_c:?}/$dir" "${drive_c:?}/$bench"
  mkdir -p "$drive_c/$dir"
  cp "$sim" "$(dirname "$sim")/ecuprog-sim-ps.dll" "$drive_c/$dir/"

  # The job is run from a new prompt, which takes ECUPROG_SIM_BENCH from
  # the user's settings only.
  unset ECUPROG_SIM_BENCH
  run_bat "$work/$source-1.bat"
  grep -qiF "C:\\$bench" <<<"$(reg_query "$env_key" /v ECUPROG_SIM_BENCH)" ||
    fail "$source: ECUPROG_SIM_BENCH was not set"
  [[ -f $drive_c/$bench/bench.json ]] || fail "$source: no bench in C:\\$bench"
  cp "$drive_c/$bench/w3-bay1-code.bin" "$work/code-before.bin"
  # The registration names the program in the folder: moved away, it
  # leaves the tool no server to start.
  # A 32-bit simulator registers in the 32-bit view, a 64-bit one in the
  # 64-bit view: either names it.
  grep -qiF "C:\\$folder\\ecuprog-sim.exe" \
    <<<"$(reg_query "$server_key" /ve /reg:32; reg_query "$server_key" /ve /reg:64)" ||
    fail "$source: the registration does not name C:\\$folder"
  run_bat "$work/$source-2.bat"
  for programs in 32-bit 64-bit; do
    grep -qiF "$programs programs reach the simulator C:\\$folder\\ecuprog-sim.exe (" "$work/bat.out" ||
      { cat "$work/bat.out"; fail "$source: the check does not say $programs programs reach C:\\$folder"; }
  done
  grep -qF "check passed: every program reaches the simulator" "$work/bat.out" ||
    fail "$source: the check did not pass"
  mv "$drive_c/$dir" "$drive_c/$dir.moved"
  bash "$here/expect_run.sh" --exit 1 \
    --starts "ecuprog " --starts "Ready to program " \
    --line "ERROR COMMUNICATING WITH SERVER" \
    --line "Press space to exit" \
    -- "$ecuprog"
  mv "$drive_c/$dir.moved" "$drive_c/$dir"

  # A job on 4711, then the rerun the steps rehearse on 4716, listed as a
  # job cut short leaves a unit; each programs its unit.
  cp "$drive_c/$bench/w3-bay6-code.bin" "$work/cut-before.bin"
  listed=("${default_bench_units[@]}")
  for serial in 4711 4716; do
    # The first identity's line follows the question; 4711 has two more.
    access=()
    [[ $serial == 4711 ]] && access=(--starts "Access as " --starts "Access as ")
    bash "$here/expect_run.sh" --exit 0 --input "$serial"$'\n' \
      --starts "ecuprog " --starts "Ready to program " \
      "${listed[@]}" \
      --starts "Please enter the serial number" \
      ${access[@]+"${access[@]}"} \
      --match "Code flash erase \.\.\. erasing \.\.\. complete \([1-9][0-9]*\.[0-9]+secs\)" \
      --starts "Code flash program ... complete" \
      --starts "Store flash erase ... erasing ... complete" \
      --starts "Store flash program ... complete" \
      --line "Reset request ... accepted" \
      --line "PROGRAMMING SUCCESSFUL" \
      --line "Press space to exit" \
      -- "$ecuprog"
    simulator_gone "C:\\$folder\\"
    listed=("${listed[@]/4711 (Simulated test cell 1) BootV1.40 CodeV1.462.7/4711 (Simulated test cell 1) BootV1.40 CodeV1.463.1}")
  done
  cmp -s "$drive_c/$bench/w3-bay1-code.bin" "$work/code-before.bin" &&
    fail "$source: the job did not program 4711 in C:\\$bench"
  cmp -s "$drive_c/$bench/w3-bay6-code.bin" "$work/cut-before.bin" &&
    fail "$source: the job run again did not program 4716 in C:\\$bench"

  run_bat "$work/$source-3.bat"
  wine_run reg query "$env_key" /v ECUPROG_SIM_BENCH >/dev/null 2>&1 &&
    fail "$source: ECUPROG_SIM_BENCH is still set"
  # No device maker's server here: the tool finds no server at all.
  bash "$here/expect_run.sh" --exit 1 \
    --starts "ecuprog " --starts "Ready to program " \
    --line "ERROR COMMUNICATING WITH SERVER" \
    --line "Press space to exit" \
    -- "$ecuprog"
  check=$(wine_run "$drive_c/$dir/ecuprog-sim.exe" --check 2>&1) &&
    fail "$source: the check passes with the simulator unregistered"
  grep -qF "reach no server (" <<<"$check" ||
    { echo "$check"; fail "$source: the check does not say nothing answered"; }
  rm -rf "${drive_c:?}/$dir" "${drive_c:?}/$bench"
done
echo "ok: the README's and the kit's rehearsal steps register, run a job, and are undone"
