#!/usr/bin/env bash
# The checker the build runs before embedding a release, as the build runs
# it: it passes the sample release with the release line, and refuses a
# code block whose length is not a whole number of words with the message
# every job would stop with; a path it cannot read as a block or a program
# (a folder, a FIFO, a file it may not open, none at all) is refused with
# the reason, never with a crash, and a FIFO is never waited on.
#   check_firmware_test.sh MAKE_FIRMWARE CHECK_FIRMWARE CODE PROFILE WORK_DIR
set -euo pipefail
make_firmware=$1 check_firmware=$2 code=$3 profile=$4 work=$5
rm -rf "$work" && mkdir -p "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }

out=$("$check_firmware" "$code" "$profile") || fail "the sample release was refused"
[[ $out == "Ready to program "*" firmware release "* ]] || fail "release line: $out"

"$make_firmware" --part-word-code "$work/code.zlib" "$work/profile.bin" >/dev/null
status=0
"$check_firmware" "$work/code.zlib" "$work/profile.bin" >"$work/out" 2>"$work/err" || status=$?
[[ $status == 1 ]] || fail "exit code $status for a part-word code block"
[[ $(cat "$work/err") == "firmware refused: CRC REGENERATION FAILED" ]] ||
  fail "refusal: $(cat "$work/err")"
[[ ! -s $work/out ]] || fail "a refused release printed: $(cat "$work/out")"
echo "ok: the part-word code block is refused with CRC REGENERATION FAILED"

# refused_path ARGS...: the checker, run by $reader when set, refuses with
# exit code 1, the message in $expected on standard error and nothing on
# standard output, within a time that only a hang exceeds.
reader=()
refused_path() {
  status=0
  ${reader[@]+"${reader[@]}"} timeout 60 "$check_firmware" "$@" \
    >"$work/out" 2>"$work/err" || status=$?
  [[ $status == 1 ]] || fail "exit code $status for $*: $(cat "$work/err")"
  [[ $(cat "$work/err") == "$expected" ]] || fail "refusal for $*: $(cat "$work/err")"
  [[ ! -s $work/out ]] || fail "a refused release printed: $(cat "$work/out")"
}

mkdir "$work/folder"
mkfifo "$work/fifo"
echo "not firmware" >"$work/unreadable"
chmod 000 "$work/unreadable"

# path | reason
rows=(
  "$work/folder|Is a directory"
  "$work/fifo|not a plain file"
  "/dev/zero|not a plain file"
  "$work/missing|No such file or directory"
  "$work/unreadable|Permission denied"
)
for row in "${rows[@]}"; do
  path=${row%%|*} reason=${row#*|}
  expected="firmware refused: cannot read $path: $reason"
  reader=()
  if [[ $path == "$work/unreadable" && $(id -u) == 0 ]]; then
    # Root opens a file whatever its mode: the checker runs as nobody for
    # this row, or the row is left out where that cannot be done.
    reader=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    if ! "${reader[@]}" test -x "$check_firmware" -a -r "$code" -a -r "$profile" 2>/dev/null; then
      echo "skipped: $path, as root, and nobody cannot run the checker on the sample release"
      continue
    fi
  fi
  refused_path "$path" "$profile" # as the code block
  refused_path "$code" "$path"    # as the profile
  refused_path --program "$path"  # as the program
  echo "ok: $path refused: $reason"
done
