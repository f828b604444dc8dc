#!/usr/bin/env bash
# The firmware checker reads the blocks back out of a built Windows program
# (what windres made of the resource script): the release notes name the
# very files the build embedded, and a program carrying a damaged profile
# is refused with the tool's own message.
#
#   release_notes_test.sh CHECKER PROGRAM CODE_BLOCK PROFILE_BLOCK DAMAGED_PROGRAM
set -euo pipefail
checker=$1
program=$2
code=$3
profile=$4
damaged=$5

fail() { echo "FAILED: $*"; exit 1; }
notes=$(mktemp)
trap 'rm -f "$notes"' EXIT

"$checker" --program "$program" --release-notes "$notes" --source-revision test >/dev/null ||
  fail "the checker refused $program"
code_sum=$(sha256sum "$code" | cut -d' ' -f1)
profile_sum=$(sha256sum "$profile" | cut -d' ' -f1)
grep -qx "Code block SHA-256 (compressed, as embedded): $code_sum" "$notes" ||
  fail "the notes name another code block: $(cat "$notes")"
grep -qx "Profile block SHA-256: $profile_sum" "$notes" ||
  fail "the notes name another profile block: $(cat "$notes")"

status=0
refusal=$("$checker" --program "$damaged" 2>&1) || status=$?
[[ $status -eq 1 && "$refusal" == "firmware refused: PROFILE CRC CHECK FAILED" ]] ||
  fail "a damaged profile was not refused ($status): $refusal"
echo "ok: the notes describe the blocks inside $program"
