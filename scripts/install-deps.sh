#!/usr/bin/env bash
# Installs the Debian packages the tool needs: `run` for building and
# running it, `test` for everything the tests need as well (the default).
set -euo pipefail

what=${1:-test}
run_packages=(
  build-essential cmake pkg-config
  libcrypto++-dev
  capnproto libcapnp-dev
  nlohmann-json3-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
)
test_packages=(
  g++-mingw-w64-x86-64 mingw-w64-tools wine64 dpkg-dev zip unzip
  clang libclang-rt-14-dev llvm
)

packages=("${run_packages[@]}")
if [ "$what" = test ]; then packages+=("${test_packages[@]}"); fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y "${packages[@]}"
