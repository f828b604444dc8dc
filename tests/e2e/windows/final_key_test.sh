#!/usr/bin/env bash
# The final wait on a console: the program runs under Wine on a terminal
# (script(1) provides one, so Wine gives the program a real console), and
# keys are typed once "Press space to exit" is on the screen. Other keys
# must not end the wait; the space must, with the run's exit code.
#
#   final_key_test.sh EXIT_CODE PROGRAM
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
expected_exit=$1
program=$2

work=$(mktemp -d)
pid=""
cleanup() {
  if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  echo "--- screen"
  sed 's/\x1b\[[?0-9;]*[A-Za-z]//g' "$work/screen" 2>/dev/null | tr -d '\r' || true
  exit 1
}

# The screen without the console's cursor and colour sequences, and without
# blanks (the console may draw a blank as a cursor move).
screen_text() {
  sed 's/\x1b\[[?0-9;]*[A-Za-z]//g' "$work/screen" 2>/dev/null | tr -d ' \r\n'
}

mkfifo "$work/keys"
script -qefc "$(printf '%q ' "$here/wine.sh" "$program")" "$work/screen" \
  <"$work/keys" >/dev/null 2>&1 &
pid=$!
exec 3>"$work/keys"

for ((i = 0; i < 600; i++)); do
  [[ "$(screen_text)" == *Pressspacetoexit* ]] && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended before its final prompt"
  sleep 0.1
done
[[ "$(screen_text)" == *Pressspacetoexit* ]] || fail "no final prompt within 60 s"

printf 'xq\r' >&3
sleep 2
kill -0 "$pid" 2>/dev/null || fail "a key other than space ended the wait"

printf ' ' >&3
for ((i = 0; i < 200; i++)); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "the space did not end the wait within 20 s"
set +e
wait "$pid"
code=$?
set -e
pid=""
[[ $code -eq $expected_exit ]] || fail "exit code $code, expected $expected_exit"
echo "ok: other keys kept the wait, the space ended it with exit code $code"
