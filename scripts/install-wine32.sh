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

# ---------------------------------------------------------------- 32-bit ELF
# Wine's 32-bit loader is itself an i386 Linux program, and the kernel must
# run it itself: under qemu's i386 emulation 32-bit Wine crashes now and
# then and takes minutes per program start, so no emulation is registered
# (and one found registered makes tests/e2e/windows/wine32_status.sh refuse).
loader=/usr/lib/wine/wine
[ -x "$loader" ] || finish "refused: wine32 has no 32-bit loader at $loader"
if status=$(bash "$(dirname "$0")/../tests/e2e/windows/wine32_status.sh"); then
  finish "ok: the kernel runs 32-bit programs"
fi
case $status in
  "refused: 32-bit programs run here only through qemu"*) finish "$status" ;;
esac
finish "refused: the kernel runs no 32-bit programs ($("$loader" --version 2>&1 | head -n 1)); qemu's i386 emulation is not used, since 32-bit Wine under it crashes now and then"
