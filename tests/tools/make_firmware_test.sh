#!/usr/bin/env bash
# The sample firmware's generator takes its numbers only whole and in the
# range the block header holds (16 bits): a value out of range, signed,
# fractional or with anything after it is refused with the option, the
# value and the range, and no file is written. The edges of the range are
# taken.
#   make_firmware_test.sh MAKE_FIRMWARE WORK_DIR
set -euo pipefail
make_firmware=$1 work=$2
rm -rf "$work" && mkdir -p "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }

revision='is not a whole number from 0 to 65535'
boot='is not BRANCH.VERSION, each a whole number from 0 to 65535'
# option | what is refused
refused=(
  "--code-revision=65537|--code-revision: \"65537\" $revision"
  "--code-revision=65536|--code-revision: \"65536\" $revision"
  "--code-revision=-1|--code-revision: \"-1\" $revision"
  "--code-revision=+1|--code-revision: \"+1\" $revision"
  "--code-revision=1x|--code-revision: \"1x\" $revision"
  "--code-revision= 1|--code-revision: \" 1\" $revision"
  "--code-revision=|--code-revision: \"\" $revision"
  "--code-revision=4294967297|--code-revision: \"4294967297\" $revision"
  "--min-boot=-1.5|--min-boot: \"-1.5\" $boot"
  "--min-boot=1.38x|--min-boot: \"1.38x\" $boot"
  "--min-boot=1.65536|--min-boot: \"1.65536\" $boot"
  "--min-boot=65536.1|--min-boot: \"65536.1\" $boot"
  "--min-boot=1.3.8|--min-boot: \"1.3.8\" $boot"
  "--min-boot=1|--min-boot: \"1\" $boot"
  "--min-boot=.38|--min-boot: \".38\" $boot"
  "--min-boot=1.|--min-boot: \"1.\" $boot"
)
for row in "${refused[@]}"; do
  option=${row%%|*} expected="ecuprog_make_firmware: ${row#*|}"
  status=0
  "$make_firmware" "$option" "$work/code.zlib" "$work/profile.bin" \
    >"$work/out" 2>"$work/err" || status=$?
  [[ $status == 2 ]] || fail "exit code $status for $option"
  [[ $(cat "$work/err") == "$expected" ]] || fail "for $option: $(cat "$work/err")"
  [[ ! -e $work/code.zlib && ! -e $work/profile.bin ]] || fail "$option wrote a block"
  echo "ok: $option refused"
done

"$make_firmware" --code-revision=65535 --min-boot=0.65535 "$work/code.zlib" \
  "$work/profile.bin" >/dev/null || fail "the range's edges were refused"
[[ -s $work/code.zlib && -s $work/profile.bin ]] || fail "the edges wrote no blocks"
echo "ok: 65535 and 0.65535 are taken"
