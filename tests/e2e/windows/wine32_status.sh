#!/usr/bin/env bash
# Whether 32-bit Windows programs run under Wine here: prints "ok: ..." and
# exits 0 when Wine's 32-bit loader starts, else prints "refused: <why>"
# (what scripts/install-deps.sh test found, or what the loader says) and
# exits 1. ECUPROG_WINE32_LOADER names another loader (tests).
set -uo pipefail
status_file=${ECUPROG_WINE32_STATUS:-/var/lib/ecuprog/wine32-status}
loader=${ECUPROG_WINE32_LOADER:-/usr/lib/wine/wine}

if [[ -x "$loader" ]] && probe=$("$loader" --version 2>&1); then
  echo "ok: Wine's 32-bit loader runs ($probe)"
  exit 0
fi
if [[ -f "$status_file" ]] && grep -q '^refused: ' "$status_file"; then
  head -n 1 "$status_file"
elif [[ ! -x "$loader" ]]; then
  echo "refused: no 32-bit Wine ($loader; Debian's wine32, scripts/install-deps.sh test installs it)"
else
  echo "refused: Wine's 32-bit loader does not run here: $(head -n 1 <<<"$probe")"
fi
exit 1
