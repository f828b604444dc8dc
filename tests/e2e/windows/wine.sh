#!/usr/bin/env bash
# Runs a Windows program under Wine, bounded in time, in the prefix named by
# WINEPREFIX (the build keeps its own inside the build folder).
#
#   wine.sh --init              create the prefix if needed
#   wine.sh --fresh             the same in a new prefix (an old one is
#                               removed first)
#   wine.sh --template          make the template prefix if it is missing
#   wine.sh --stop              end the prefix's wineserver
#   wine.sh PROGRAM [ARGS...]   run PROGRAM; its exit code is wine.sh's,
#                               124 when it ran out of time
#
# A new prefix is a copy of a template that `wineboot --init` made once for
# this Wine and this user (that takes Wine 15 to 30 s, a copy a few), kept
# in ECUPROG_CACHE_DIR (default $XDG_CACHE_HOME or ~/.cache) under
# ecuprog/wine-prefix/ and made there again when it is missing. Nothing
# ever runs in the template itself.
#
# Environment: WINEPREFIX (required but for --template), ECUPROG_WINE (the
# wine binary; default Debian's /usr/lib/wine/wine64), ECUPROG_WINE_TIMEOUT
# (seconds a program may run, default 120).
set -euo pipefail

if [[ -z "${WINEPREFIX:-}" && "${1:-}" != --template ]]; then
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

[[ -z "${WINEPREFIX:-}" ]] || export WINEPREFIX
export WINEDEBUG=-all
# No Mono or Gecko: the programs need neither, and their installers would
# ask on a display the build does not have.
export WINEDLLOVERRIDES="mscoree,mshtml="

# The template of this Wine (its version and the loader's own file) for
# this user.
template_key=$( ("$wine" --version 2>/dev/null; ls -lL "$wine") | sha256sum | cut -c1-12)
template_base="${ECUPROG_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}}/ecuprog/wine-prefix"
template="$template_base/$(id -u)-$template_key"

# Makes the template when it is missing: in a folder of its own, renamed
# into place once Wine has written all of it, one maker at a time.
make_template() {
  [[ -f "$template/.complete" ]] && return 0
  mkdir -p "$template_base"
  exec 9>"$template_base/.lock"
  flock 9
  if [[ ! -f "$template/.complete" ]]; then
    local partial="$template.partial"
    WINEPREFIX="$partial" "$wineserver" -k >/dev/null 2>&1 || true
    rm -rf "$partial" "$template"
    WINEPREFIX="$partial" timeout --kill-after=10 300 "$wine" wineboot --init \
      </dev/null >/dev/null 2>&1
    WINEPREFIX="$partial" timeout 120 "$wineserver" -w
    touch "$partial/.complete"
    mv "$partial" "$template"
  fi
  exec 9>&-
}

# Lays a new prefix from the template, in a folder beside the prefix that
# is renamed into place once whole.
copy_template() {
  make_template
  mkdir -p "$(dirname "$WINEPREFIX")"
  local partial="$WINEPREFIX.partial.$$"
  rm -rf "$partial"
  cp -a "$template" "$partial"
  rm -f "$partial/.complete"
  mv -T "$partial" "$WINEPREFIX"
}

# Ends the prefix's wineserver and waits until it has gone: a server still
# ending must not meet the prefix laid anew.
stop_server() {
  "$wineserver" -k >/dev/null 2>&1 || true
  timeout 60 "$wineserver" -w >/dev/null 2>&1 || true
}

case "${1:-}" in
  --template)
    make_template
    exit 0
    ;;
  --fresh)
    stop_server
    rm -rf "$WINEPREFIX"
    copy_template
    exit 0
    ;;
  --init)
    [[ -d "$WINEPREFIX" ]] || copy_template
    exit 0
    ;;
  --stop)
    stop_server
    exit 0
    ;;
  "")
    echo "usage: wine.sh --init | --fresh | --stop | PROGRAM [ARGS...]" >&2
    exit 2
    ;;
esac

mkdir -p "$(dirname "$WINEPREFIX")"

set +e
# In the foreground: a program run on a terminal reads its console keys from
# it, which a background process group may not.
timeout --foreground --kill-after=10 "${ECUPROG_WINE_TIMEOUT:-120}" "$wine" "$@"
code=$?
if [[ $code -eq 124 || $code -eq 137 ]]; then
  echo "wine.sh: $1 did not end within ${ECUPROG_WINE_TIMEOUT:-120} s" >&2
fi
exit $code
