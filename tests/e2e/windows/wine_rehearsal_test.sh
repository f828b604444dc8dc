#!/usr/bin/env bash
# The README's rehearsal under Wine, run as written: its `sh` block in
# "Rehearsing a job on Windows with the simulator" is read out of README.md
# and run by bash in a home folder of the test's own (so the prefix it
# names is new), from a folder where `build/windows` is this build. The job
# must program the bench the block names, and the block must leave no
# registration behind.
#
#   wine_rehearsal_test.sh BUILD_DIR README WORK
set -euo pipefail
[[ $# -eq 3 ]] || { echo "usage: wine_rehearsal_test.sh BUILD_DIR README WORK" >&2; exit 2; }
build=$1 readme=$2 work=$3
fail() { echo "FAILED: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work/home" "$work/clone/build"
ln -s "$build" "$work/clone/build/windows"
awk '
  /^#/ { in_section = ($0 == "### Rehearsing a job on Windows with the simulator") }
  in_section && /^```sh$/ { n++; in_block = 1; next }
  in_block && /^```/ { in_block = 0; next }
  in_block && n == 1 { print }
' "$readme" >"$work/rehearsal.sh"
[[ -s $work/rehearsal.sh ]] || fail "no sh block in the README's Windows rehearsal"
cat "$work/rehearsal.sh"

# A fresh login's environment; WINEDEBUG only keeps Wine's own notes out.
status=0
(cd "$work/clone" &&
  env -i HOME="$work/home" PATH=/usr/bin:/bin WINEDEBUG=-all \
    timeout 200 bash -e "$work/rehearsal.sh") >"$work/out" 2>&1 </dev/null ||
  status=$?
tr -d '\r' <"$work/out" >"$work/out.txt"
cat "$work/out.txt"
[[ $status == 0 ]] || fail "the commands ended with $status"
grep -qx "PROGRAMMING SUCCESSFUL" "$work/out.txt" || fail "the job did not succeed"

# The prefix and the bench the block named.
prefix=$(find "$work/home" -mindepth 1 -maxdepth 1 -name '.wine*' | head -n 1)
[[ -n $prefix ]] || fail "no Wine prefix in the home folder"
bench=$(find "$prefix/drive_c" -name bench.json -printf '%h\n' | head -n 1)
[[ -n $bench ]] || fail "no bench in the prefix"
# The job's server served the bench the block named, not a default one.
find "$prefix/drive_c" -path '*ecuprog*bench*' -name bench.json | grep -qv "^$bench/" &&
  fail "a second bench was made: the job did not use the one the block names"
grep -q 'ecuprog' "$prefix/system.reg" &&
  fail "the simulator is still registered in the prefix"
echo "ok: the README's Wine rehearsal runs as written"
