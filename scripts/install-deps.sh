#!/usr/bin/env bash
# Installs the Debian packages the tool needs: `run` for building and
# running it, `test` for everything the tests need as well (the default).
#
# `test` also makes 32-bit Windows programs run under Wine: Debian's i386
# architecture and wine32 beside wine64, only where the kernel executes
# 32-bit Linux programs itself (no emulation: 32-bit Wine under qemu's
# crashes now and then; and wine32 that cannot run would take `wine`
# with it). What it found is left
# in /var/lib/ecuprog/wine32-status for the tests to read: "ok: <way>" or
# "refused: <why>" (the 32-bit tests then skip, naming the reason).
set -euo pipefail

what=${1:-test}
# Every package the build and the tests use is named here: the install takes
# no recommended packages (a desktop's worth of fonts, graphics drivers and
# sound libraries that Wine's packages recommend and nothing here runs).
run_packages=(
  build-essential cmake pkg-config procps
  libcrypto++-dev
  capnproto libcapnp-dev
  nlohmann-json3-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
)
test_packages=(
  # The Windows programs: the cross compilers, widl for the proxy DLL, and
  # Wine with its launcher (`wine`, only recommended by wine64).
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools wine wine64
  # The Debian package (cpack's dependency scan runs dpkg-shlibdeps and
  # file) and the Windows release kit (git names the commit, zip packs it).
  dpkg-dev file git zip unzip
  # Signing the release kit's programs, and the test CA that checks it.
  osslsigncode openssl
  # The fuzzers and the sanitizers' symbolizer.
  clang libclang-rt-14-dev llvm
  # The compiler cache of scripts/test-all.sh's builds.
  ccache
)

packages=("${run_packages[@]}")
if [ "$what" = test ]; then packages+=("${test_packages[@]}"); fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
export DEBIAN_FRONTEND=noninteractive

# An index the archive is still syncing (seen for one architecture of the
# security archive) fails the update although every other index came; the
# install below then says whether what is needed is there.
update() {
  $sudo apt-get update || echo "install-deps: warning: apt-get update reported errors" >&2
}

if [ "$what" = test ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
update
$sudo apt-get install -y --no-install-recommends "${packages[@]}"

if [ "$what" != test ]; then exit 0; fi
bash "$(dirname "$0")/install-wine32.sh"
