#!/usr/bin/env bash
# The checker the build runs before embedding a release, as the build runs
# it: it passes the sample release with the release line, and refuses a
# code block whose length is not a whole number of words with the message
# every job would stop with.
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
