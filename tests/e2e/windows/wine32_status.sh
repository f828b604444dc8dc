#!/usr/bin/env bash
# Whether 32-bit Windows programs run under Wine here: prints "ok: ..." and
# exits 0 when Wine's 32-bit loader starts as the kernel's own program,
# else prints "refused: <why>" (what scripts/install-deps.sh test found,
# or what the loader says) and exits 1. ECUPROG_WINE32_LOADER names
# another loader, ECUPROG_BINFMT_DIR another binfmt_misc folder (tests).
set -uo pipefail
status_file=${ECUPROG_WINE32_STATUS:-/var/lib/ecuprog/wine32-status}
loader=${ECUPROG_WINE32_LOADER:-/usr/lib/wine/wine}
binfmt=${ECUPROG_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}

# An enabled binfmt_misc entry for qemu's i386 emulation takes every i386
# program before the kernel's own loader. 32-bit Wine under that
# emulation crashes now and then (qemu: uncaught target signal 11) and
# takes minutes per program start: no test could be trusted there.
emulation() {
  [[ -d "$binfmt" ]] || return 1
  if [[ -f "$binfmt/status" ]] && [[ "$(head -n 1 "$binfmt/status")" == disabled ]]; then
    return 1
  fi
  local entry
  for entry in "$binfmt"/*; do
    case ${entry##*/} in register | status) continue ;; esac
    [[ -f "$entry" && "$(head -n 1 "$entry" 2>/dev/null)" == enabled ]] || continue
    if grep -q '^interpreter .*qemu-i386' "$entry" 2>/dev/null; then
      echo "$entry"
      return 0
    fi
  done
  return 1
}

if [[ -x "$loader" ]] && probe=$("$loader" --version 2>&1); then
  if entry=$(emulation); then
    echo "refused: 32-bit programs run here only through qemu's i386 emulation ($entry), where 32-bit Wine crashes now and then and takes minutes per program start (where the kernel runs 32-bit programs itself, 'echo 0 > $entry' as root leaves them to it)"
    exit 1
  fi
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
