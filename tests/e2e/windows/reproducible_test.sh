#!/usr/bin/env bash
# The same source builds the same release kit: the kit packed from the
# suite's own builds (X64_BUILD, X86_BUILD) and the kit of a copy of the
# source files (tracked and new, as in the working tree), in a folder of
# another name, built with the release presets of both bitnesses under
# another umask, without ccache (a cached object would hide a path or a
# time in it); both ecuprog.exe, both ecuprog-records.exe and the kit's zip
# must be byte-identical.
# Without the suite's builds, a first copy of the source is built the same
# way, in a folder of its own. Only the programs are built, to keep the
# test to a few minutes; Crypto++ comes from its cache (the Windows builds
# made it).
#
#   reproducible_test.sh SOURCE_DIR HOST_TOOLS_DIR WORK_DIR [X64_BUILD X86_BUILD]
set -euo pipefail
source_dir=$1
host_tools=$2
work=$3
suite_builds=("${@:4}")

unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
export CCACHE_DISABLE=1
SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null || echo 1700000000)
export SOURCE_DATE_EPOCH

rm -rf "$work"
mkdir -p "$work"
sums=()
# kit_in OUT: the kit packed in OUT; sums_of OUT: its programs' and its sums.
kit_in() { find "$1" -maxdepth 1 -name '*-windows.zip' ! -name '*-rehearsal-*' -print -quit; }
sums_of() {
  local kit folder
  kit=$(kit_in "$1")
  [[ -n "$kit" ]] || return 1
  folder=$(basename "${kit%.zip}")
  (cd "$1" && sha256sum "$folder"/x{86,64}/ecuprog{,-records}.exe "$(basename "$kit")")
}
copies=(a "second copy, in a longer folder name")
if [[ ${#suite_builds[@]} -eq 2 ]]; then
  # The suite's own trees, as built (test presets, the working tree's
  # folder and umask).
  mkdir -p "$work/suite"
  bash "$source_dir/scripts/windows-kit.sh" "${suite_builds[0]}" "${suite_builds[1]}" \
    "$work/suite/out" test-revision >"$work/suite/kit.log" 2>&1 &&
    sum=$(sums_of "$work/suite/out") ||
    { tail -n 30 "$work/suite/kit.log"; echo "FAILED: no kit from the suite's builds"; exit 1; }
  echo "the suite's builds:"
  echo "$sum"
  sums+=("$sum")
  copies=("${copies[1]}")
fi
for copy in "${copies[@]}"; do
  tree="$work/$copy/ecuprog"
  mkdir -p "$tree"
  # Tracked and new files as they are in the working tree.
  (cd "$source_dir" &&
    git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do
      if [[ -f "$file" ]]; then printf '%s\0' "$file"; fi
    done | xargs -0 cp --parents -t "$tree")
  start=$SECONDS
  (
    [[ "$copy" == a ]] && umask 022 || umask 077
    cd "$tree"
    for preset in windows-release windows-x86-release; do
      cmake --preset $preset -DECUPROG_HOST_TOOLS_DIR="$host_tools" \
        -DCMAKE_C_COMPILER_LAUNCHER= -DCMAKE_CXX_COMPILER_LAUNCHER= >>build.log 2>&1 &&
        cmake --build --preset $preset -j"${JOBS:-2}" --target ecuprog ecuprog-records \
          >>build.log 2>&1 || exit 1
    done
    bash scripts/windows-kit.sh build/windows-release build/windows-x86-release \
      out test-revision >>build.log 2>&1
  ) || { tail -n 30 "$tree/build.log"; echo "FAILED: the build in $tree"; exit 1; }
  sum=$(sums_of "$tree/out") ||
    { tail -n 30 "$tree/build.log"; echo "FAILED: no kit in $tree/out"; exit 1; }
  echo "$copy: built in $((SECONDS - start)) s"
  echo "$sum"
  sums+=("$sum")
  kit=$(kit_in "$tree/out")
done
# What a workshop unpacks: the entries in their order, and sums that hold.
entries=$(unzip -Z1 "$kit" | tr '\n' ' ')
[[ "$entries" == "x86/ecuprog.exe x64/ecuprog.exe x86/ecuprog-records.exe x64/ecuprog-records.exe RELEASE.txt MESSAGES.txt SHA256SUMS " ]] ||
  { echo "FAILED: the kit holds $entries"; exit 1; }
(cd "${kit%.zip}" && sha256sum --quiet -c SHA256SUMS) ||
  { echo "FAILED: the kit's SHA256SUMS"; exit 1; }
if [[ "${sums[0]}" != "${sums[1]}" ]]; then
  echo "FAILED: the two builds differ"
  exit 1
fi
# RELEASE.txt names the programs with the sums they have.
notes="${kit%.zip}/RELEASE.txt"
for bits in x86 x64; do
  expected="Program for a $([[ $bits == x86 ]] && echo 32 || echo 64)-bit programming server: $bits\\ecuprog.exe, SHA-256 $(sha256sum "${kit%.zip}/$bits/ecuprog.exe" | cut -d' ' -f1)"
  grep -qxF "$expected" "$notes" || { cat "$notes"; echo "FAILED: RELEASE.txt does not say: $expected"; exit 1; }
  expected="Reader of the job records ($([[ $bits == x86 ]] && echo 32 || echo 64)-bit): $bits\\ecuprog-records.exe, SHA-256 $(sha256sum "${kit%.zip}/$bits/ecuprog-records.exe" | cut -d' ' -f1)"
  grep -qxF "$expected" "$notes" || { cat "$notes"; echo "FAILED: RELEASE.txt does not say: $expected"; exit 1; }
done
# and where the job records are, as the Wine records test finds them.
grep -qxF 'user'"'"'s folder %LOCALAPPDATA%\ecuprog\records (type it into the address' "$notes" ||
  { cat "$notes"; echo "FAILED: RELEASE.txt does not say where the job records are"; exit 1; }
echo "ok: both builds gave the same x86 and x64 ecuprog.exe, ecuprog-records.exe and kit"
