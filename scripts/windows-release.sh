#!/usr/bin/env bash
# Produces the release kits a workshop is handed (scripts/windows-kit.sh):
#   out/ecuprog-<version>-<model>-<release>-windows.zip
#     x86/ and x64/ with ecuprog.exe and ecuprog-records.exe, RELEASE.txt,
#     MESSAGES.txt, SHA256SUMS
#   out/ecuprog-<version>-<model>-<release>-rehearsal-windows.zip
#     x86/ and x64/ with ecuprog-sim.exe and ecuprog-sim-ps.dll,
#     REHEARSAL.txt, SHA256SUMS
# built from clean configurations of both bitnesses with the firmware
# validated by the build (a release the tool would refuse fails here with
# the tool's message), each program checked to stand alone with its
# manifest and version, and - when Wine is installed - run once as on a PC
# without a programming server (the x86 one where Wine runs 32-bit
# programs).
#
# The same commit gives the same bytes in any folder at any time: the time
# in the kits is the commit's, and the build keeps paths and link times
# out of the programs. A tree with uncommitted changes is packed with the
# revision marked "-modified".
#
# With the release engineer's certificate, every program and DLL of both
# kits carries an Authenticode signature (scripts/windows-sign.sh); the
# signature covers the reproducible program, so two engineers signing the
# same commit sign the same bytes. Without one the kits are unsigned and
# RELEASE.txt says so.
#
#   scripts/windows-release.sh [CMAKE_CONFIGURE_ARGS...]
# for example -DECUPROG_CODE_BLOCK=/path/code.zlib
#             -DECUPROG_PROFILE_BLOCK=/path/profile.bin
# Environment (to sign): ECUPROG_SIGNING_CERT (a PKCS#12 file),
# ECUPROG_SIGNING_PASSWORD_FILE (a file holding its password),
# ECUPROG_SIGNING_TIMESTAMP_URL (an RFC 3161 time-stamp server, optional).
set -euo pipefail
cd "$(dirname "$0")/.."
# A certificate that cannot sign stops the release before the builds.
signer=$(bash scripts/windows-sign.sh --check)
echo "windows-release: signature: ${signer%%$'\n'*}"
declare -A build=([x64]=build/windows-release [x86]=build/windows-x86-release)
declare -A preset=([x64]=windows-release [x86]=windows-x86-release)

revision=$(git rev-parse HEAD)
if [[ -n "$(git status --porcelain --untracked-files=no)" ]]; then
  echo "windows-release: warning: uncommitted changes; the kit cannot be rebuilt from $revision" >&2
  revision+="-modified"
fi
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH

# The validation cannot be switched off for a release. A fresh
# configuration: no block of an earlier release stays in the cache.
for bits in x64 x86; do
  rm -f "${build[$bits]}/CMakeCache.txt"
  ECUPROG_WINDOWS_PRESET=${preset[$bits]} \
    bash scripts/windows-build.sh "$@" -DECUPROG_VALIDATE_FIRMWARE=ON
done

cache_value() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }
version=$(cache_value "${build[x64]}" CMAKE_PROJECT_VERSION)

kits=$(bash scripts/windows-kit.sh "${build[x64]}" "${build[x86]}" out "$revision")
echo "$kits"
kit=$(sed -n 's/^windows-kit: \(.*\)\.zip$/\1/p' <<<"$kits" | head -n 1)
rehearsal_kit=$(sed -n 's/^windows-kit: \(.*-rehearsal-windows\)\.zip$/\1/p' <<<"$kits")
for bits in x64 x86; do
  bash tests/e2e/windows/check_program.sh "$(cache_value "${build[$bits]}" CMAKE_OBJDUMP)" \
    "$kit/$bits/ecuprog.exe" "$version"
  bash tests/e2e/windows/check_program.sh "$(cache_value "${build[$bits]}" CMAKE_OBJDUMP)" \
    "$kit/$bits/ecuprog-records.exe" ""
  if [[ -n "$rehearsal_kit" ]]; then
    bash tests/e2e/windows/check_program.sh --windows-subsystem \
      "$(cache_value "${build[$bits]}" CMAKE_OBJDUMP)" "$rehearsal_kit/$bits/ecuprog-sim.exe"
  fi
done

have_wine=""
for candidate in /usr/lib/wine/wine64 wine64 wine; do
  if command -v "$candidate" >/dev/null; then have_wine=yes; fi
done
if [[ -n "$have_wine" ]]; then
  export WINEPREFIX="$PWD/${build[x64]}/wineprefix"
  bash tests/e2e/windows/wine.sh --init
  programs=(x64)
  if wine32=$(bash tests/e2e/windows/wine32_status.sh); then
    programs+=(x86)
  else
    echo "windows-release: the x86 program was not started: ${wine32#refused: }"
  fi
  for bits in "${programs[@]}"; do
    bash tests/e2e/windows/expect_run.sh --exit 1 \
      --starts "ecuprog $version " \
      --release-line "$(cache_value "${build[x64]}" ECUPROG_HOST_CHECK_FIRMWARE)" \
                     "$(cache_value "${build[x64]}" ECUPROG_CODE_BLOCK)" \
                     "$(cache_value "${build[x64]}" ECUPROG_PROFILE_BLOCK)" \
      --line "ERROR COMMUNICATING WITH SERVER" \
      --line "Press space to exit" \
      -- "$kit/$bits/ecuprog.exe"
  done
  bash tests/e2e/windows/wine.sh --stop
else
  echo "windows-release: no Wine here, the program was not started"
fi
# What a technician checks: the signature of each signed file holds.
if [[ "$signer" != unsigned ]]; then
  for file in "$kit"/x*/ecuprog.exe ${rehearsal_kit:+"$rehearsal_kit"/x*/ecuprog-sim*}; do
    osslsigncode verify -in "$file" >/dev/null 2>&1 ||
      echo "windows-release: note: $file does not verify here (is the signer's root certificate trusted on this machine?)"
  done
fi
(cd "$kit" && cat RELEASE.txt && cat SHA256SUMS)
