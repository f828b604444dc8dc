#!/usr/bin/env bash
# Runs a Windows program under Wine, bounded in time, in the prefix named by
# WINEPREFIX (the build keeps its own inside the build folder).
#
#   wine.sh --init              create the prefix if needed and wait until
#                               Wine has settled (the first start takes
#                               several seconds)
#   wine.sh --fresh             the same in a new prefix (an old one is
#                               removed first)
#   wine.sh --stop              end the prefix's wineserver
#   wine.sh PROGRAM [ARGS...]   run PROGRAM; its exit code is wine.sh's,
#                               124 when it ran out of time
#
# Environment: WINEPREFIX (required), ECUPROG_WINE (the wine binary;
# default Debian's /usr/lib/wine/wine64), ECUPROG_WINE_TIMEOUT (seconds a
# program may run, default 60).
set -euo pipefail

if [[ -z "${WINEPREFIX:-}" ]]; then
  echo "wine.sh: set WINEPREFIX to the prefix folder" >&2
  exit 2
fi
wine="${ECUPROG_WINE:-}"
if [[ -z "$wine" ]]; then
  for candidate in /usr/lib/wine/wine64 wine64 wine; do
    if command -v "$candidate" >/dev/null; then
      wine=$(command -v "$candidate")
      break
    fi
  done
fi
[[ -n "$wine" ]] || { echo "wine.sh: no Wine found (Debian: wine64)" >&2; exit 2; }
wineserver="$(dirname "$wine")/wineserver"
[[ -x "$wineserver" ]] || wineserver=wineserver

mkdir -p "$(dirname "$WINEPREFIX")"
export WINEPREFIX
export WINEDEBUG=-all
# No Mono or Gecko: the programs need neither, and their installers would
# ask on a display the build does not have.
export WINEDLLOVERRIDES="mscoree,mshtml="

case "${1:-}" in
  --fresh)
    "$wineserver" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    timeout --kill-after=10 180 "$wine" wineboot --init </dev/null >/dev/null 2>&1
    exec timeout 60 "$wineserver" -w
    ;;
  --init)
    timeout --kill-after=10 180 "$wine" wineboot --init </dev/null >/dev/null 2>&1
    exec timeout 60 "$wineserver" -w
    ;;
  --stop)
    "$wineserver" -k >/dev/null 2>&1 || true
    exit 0
    ;;
  "")
    echo "usage: wine.sh --init | --fresh | --stop | PROGRAM [ARGS...]" >&2
    exit 2
    ;;
esac

set +e
# In the foreground: a program run on a terminal reads its console keys from
# it, which a background process group may not.
timeout --foreground --kill-after=10 "${ECUPROG_WINE_TIMEOUT:-60}" "$wine" "$@"
code=$?
if [[ $code -eq 124 || $code -eq 137 ]]; then
  echo "wine.sh: $1 did not end within ${ECUPROG_WINE_TIMEOUT:-60} s" >&2
fi
exit $code
