#!/usr/bin/env bash
# Runs a Windows program under Wine (wine.sh beside this script) with no
# console, and checks its exit code and every line of its standard output.
#
#   expect_run.sh --exit N [--input TEXT] EXPECTATION... -- PROGRAM [ARGS...]
#
# Expectations, one per output line, in order (nothing else may be printed):
#   --line TEXT                    the line is TEXT
#   --starts TEXT                  the line begins with TEXT
#   --match REGEX                  the whole line matches the extended
#                                  regular expression REGEX
#   --release-line CHECKER CODE PROFILE
#                                  the line the host's firmware checker
#                                  prints for these blocks ("Ready to
#                                  program ...")
# Standard input is TEXT when --input is given, empty otherwise. Line ends
# are compared without the carriage return a Windows program writes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

exit_code=""
input=""
kinds=()
texts=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --exit) exit_code=$2; shift 2 ;;
    --input) input=$2; shift 2 ;;
    --line | --starts | --match) kinds+=("$1"); texts+=("$2"); shift 2 ;;
    --release-line)
      release=$("$2" "$3" "$4") || {
        echo "expect_run.sh: the firmware checker refused $3 / $4" >&2
        exit 1
      }
      kinds+=(--line); texts+=("$release"); shift 4 ;;
    --) shift; break ;;
    *) echo "expect_run.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[[ -n "$exit_code" && $# -gt 0 ]] || {
  echo "usage: expect_run.sh --exit N [--input TEXT] EXPECTATION... -- PROGRAM [ARGS...]" >&2
  exit 2
}

out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
set +e
printf '%s' "$input" | "$here/wine.sh" "$@" >"$out" 2>"$err"
actual_exit=$?
set -e

mapfile -t lines < <(tr -d '\r' <"$out")
failures=()
[[ "$actual_exit" == "$exit_code" ]] ||
  failures+=("exit code $actual_exit, expected $exit_code")
[[ ${#lines[@]} -eq ${#kinds[@]} ]] ||
  failures+=("${#lines[@]} lines written, expected ${#kinds[@]}")
for i in "${!kinds[@]}"; do
  line="${lines[$i]-<no line>}"
  case "${kinds[$i]}" in
    --line) [[ "$line" == "${texts[$i]}" ]] ;;
    --starts) [[ "$line" == "${texts[$i]}"* ]] ;;
    --match) [[ "$line" =~ ^(${texts[$i]})$ ]] ;;
  esac || failures+=("line $((i + 1)): \"$line\", expected ${kinds[$i]#--} \"${texts[$i]}\"")
done

if [[ ${#failures[@]} -gt 0 ]]; then
  printf 'FAILED: %s\n' "${failures[@]}"
  echo "--- standard output"
  cat "$out"
  echo "--- standard error"
  cat "$err"
  exit 1
fi
echo "ok: exit code $actual_exit, ${#lines[@]} lines as expected"
