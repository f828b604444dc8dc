#!/usr/bin/env bash
# Makes 32-bit Windows programs run under Wine on this machine (root; run
# by scripts/install-deps.sh test, and again whenever wanted: it changes
# only what is missing). Writes what it found to $ECUPROG_WINE32_STATUS
# (default /var/lib/ecuprog/wine32-status): "ok: <how 32-bit programs run>"
# or "refused: <why>"; exits 0 either way, since a machine that refuses
# still runs every 64-bit test.
set -uo pipefail

status_file=${ECUPROG_WINE32_STATUS:-/var/lib/ecuprog/wine32-status}
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
export DEBIAN_FRONTEND=noninteractive

log() { echo "install-wine32: $*" >&2; }
finish() {
  $sudo mkdir -p "$(dirname "$status_file")"
  echo "$1" | $sudo tee "$status_file" >/dev/null
  log "$1"
  exit 0
}

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")

# ---------------------------------------------------------------- 32-bit ELF
# Wine's 32-bit loader is itself an i386 Linux program, and the kernel must
# run it itself: under qemu's i386 emulation 32-bit Wine crashes now and
# then and takes minutes per program start. A kernel that runs none gets no
# wine32 at all: with it installed, `wine` would start every program, the
# 64-bit ones too, through the 32-bit loader, which cannot run.
kernel_runs_i386() {
  local dir rc entries=() entry
  dir=$(mktemp -d) || return 1
  printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$dir/exit.s"
  if ! as --32 -o "$dir/exit.o" "$dir/exit.s" 2>/dev/null ||
    ! ld -m elf_i386 -o "$dir/exit" "$dir/exit.o" 2>/dev/null; then
    rm -rf "$dir"
    log "binutils cannot make an i386 program; taking the kernel for one that runs them"
    return 0
  fi
  # An emulator registered for i386 programs would answer for the kernel:
  # off for the moment of the probe.
  for entry in /proc/sys/fs/binfmt_misc/*; do
    case ${entry##*/} in register | status) continue ;; esac
    if [ "$(head -n 1 "$entry" 2>/dev/null)" = enabled ] &&
      grep -q '^interpreter .*qemu-i386' "$entry" 2>/dev/null; then
      echo 0 | $sudo tee "$entry" >/dev/null && entries+=("$entry")
    fi
  done
  "$dir/exit" 2>/dev/null
  rc=$?
  for entry in "${entries[@]}"; do echo 1 | $sudo tee "$entry" >/dev/null; done
  rm -rf "$dir"
  return $rc
}
if ! kernel_runs_i386; then
  if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed'; then
    $sudo apt-get remove -y wine32:i386 || log "warning: wine32 could not be removed"
  fi
  finish "refused: the kernel runs no 32-bit programs itself, so wine32 is not installed and wine starts 64-bit programs through wine64 (qemu's i386 emulation is not used: 32-bit Wine crashes now and then under it)"
fi

# ---------------------------------------------------------------- wine32
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  $sudo apt-get update || log "warning: apt-get update reported errors"
fi
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed'; then
  if ! $sudo apt-get install -y --no-install-recommends wine32; then
    # The 32-bit and 64-bit copies of a shared library must be the same
    # version. When one architecture's index of an update archive is
    # missing (an archive mid-sync), the release's own archive still has
    # both at one version: take the pairs from there for this install.
    pin=/etc/apt/preferences.d/ecuprog-wine32-pairs
    log "retrying with the pairs from $codename's own archive"
    printf 'Package: *\nPin: release n=%s,l=Debian\nPin-Priority: 1001\n' \
      "$codename" | $sudo tee "$pin" >/dev/null
    $sudo apt-get install -y --no-install-recommends --allow-downgrades wine32
    rc=$?
    $sudo rm -f "$pin"
    [ $rc -eq 0 ] || finish "refused: Debian's wine32 (i386) cannot be installed here"
  fi
fi

# ---------------------------------------------------------------- check
loader=/usr/lib/wine/wine
[ -x "$loader" ] || finish "refused: wine32 has no 32-bit loader at $loader"
if status=$(bash "$(dirname "$0")/../tests/e2e/windows/wine32_status.sh"); then
  finish "ok: the kernel runs 32-bit programs"
fi
finish "$status"
