# Sourced by the test scripts: phases with their wall time, listed at the
# end of the outermost script (also when a phase fails and ends the run).
#
#   phase NAME COMMAND...   runs COMMAND, noting NAME and its wall time;
#                           returns COMMAND's exit code
#
# A script run by another's phase adds its own phases to the same list,
# indented below that phase (ECUPROG_PHASES names the list's file).
phases_depth=${ECUPROG_PHASES_DEPTH:-0}
if [[ -z "${ECUPROG_PHASES:-}" ]]; then
  ECUPROG_PHASES=$(mktemp "${TMPDIR:-/tmp}/ecuprog-phases.XXXXXX")
  export ECUPROG_PHASES
  phases_start=$SECONDS
  phases_summary() {
    local status=$?
    echo "== wall time per phase"
    cat "$ECUPROG_PHASES"
    printf '%-40s %5d s%s\n' "in all" $((SECONDS - phases_start)) \
      "$([[ $status -eq 0 ]] || echo "  FAILED")"
    rm -f "$ECUPROG_PHASES"
  }
  trap phases_summary EXIT
fi

phase() {
  local name=$1 start=$SECONDS status=0 line index
  shift
  # The line is kept in its place before the command runs, so that the
  # phases of a script it runs come after it.
  index=$(wc -l <"$ECUPROG_PHASES")
  printf '%*s%s\n' $((2 * phases_depth)) "" "$name" >>"$ECUPROG_PHASES"
  ECUPROG_PHASES_DEPTH=$((phases_depth + 1)) "$@" || status=$?
  line=$(printf '%*s%-*s %5d s%s' $((2 * phases_depth)) "" \
    $((40 - 2 * phases_depth)) "$name" $((SECONDS - start)) \
    "$([[ $status -eq 0 ]] || echo "  FAILED (exit $status)")")
  # Its own line, in its place.
  PHASE_LINE=$line awk -v n=$((index + 1)) \
    'NR == n { print ENVIRON["PHASE_LINE"]; next } { print }' \
    "$ECUPROG_PHASES" >"$ECUPROG_PHASES.new"
  mv "$ECUPROG_PHASES.new" "$ECUPROG_PHASES"
  return $status
}
