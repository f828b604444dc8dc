#!/usr/bin/env bash
# The Debian package on a machine with nothing else installed: packs the
# build with cpack, unpacks the package into a throwaway root, and runs a
# whole job there against an instant bench of its own, then a second run
# whose listing shows the unit with the release it was given, and the
# packaged ecuprog-records listing both runs from their records.
#
# Every shared library the programs load must come from a package the .deb
# declares. When they load none (linked statically, the default), the job
# runs chrooted into the unpacked package alone, with only /dev and /proc
# from the host (a user namespace: no root needed); where namespaces are
# not allowed, or libraries are needed, it runs from the unpacked folder.
#
#   package_test.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1
work=$2

fail() { echo "FAILED: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/cpack" \
  >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/cpack/*.deb)
[[ ${#debs[@]} -eq 1 && -f "${debs[0]}" ]] || fail "cpack made no single .deb"
deb=${debs[0]}
root="$work/root"
dpkg-deb -x "$deb" "$root"
depends=$(dpkg-deb -f "$deb" Depends)
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes, Depends: ${depends:-(none)}"

# The package that holds a library file, under /usr or not (merged /usr).
owner_of() {
  local path owner
  for path in "$1" "${1#/usr}" "/usr$1" "$(readlink -f "$1")"; do
    owner=$(dpkg -S "$path" 2>/dev/null | head -n 1 | cut -d: -f1)
    if [[ -n "$owner" ]]; then echo "$owner"; return; fi
  done
}

needed=0
declared=$(tr ',' '\n' <<<"$depends" | awk '{ print $1 }')
for program in ecuprog ecuprog-records ecuprog-sim; do
  [[ -x "$root/usr/bin/$program" ]] || fail "no usr/bin/$program in the package"
  loaded=$(ldd "$root/usr/bin/$program" 2>/dev/null || true)
  while read -r library; do
    needed=1
    path=$(awk -v l="$library" '$1 == l && $2 == "=>" { print $3 }' <<<"$loaded")
    owner=""
    if [[ -n "$path" ]]; then owner=$(owner_of "$path"); fi
    [[ -n "$owner" ]] || fail "$program needs $library, which no package provides"
    grep -qx "$owner" <<<"$declared" ||
      fail "$program needs $library from $owner, which the package does not declare"
  done < <(readelf -d "$root/usr/bin/$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
done

# The host's environment stays outside: no HOME, no settings of its own.
in_root=()
prefix="$root"
if [[ $needed -eq 0 ]] && unshare -r -m -p -f true 2>/dev/null; then
  mkdir -p "$root/dev" "$root/proc"
  in_root=(unshare -r -m -p -f "--mount-proc=$root/proc" sh -c
    'root=$1; shift; mount --rbind /dev "$root/dev" && exec chroot "$root" "$@"'
    sh "$root")
  prefix=""
  echo "running in a root that holds the package alone"
else
  echo "running from the unpacked package (no namespaces, or shared libraries)"
fi
mkdir -p "$root/work"
run() {
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    ECUPROG_COM_REGISTRY="$prefix/work/registry" \
    ECUPROG_SIM_BENCH="$prefix/work/bench" \
    XDG_STATE_HOME="$prefix/work/state" \
    setsid "${in_root[@]}" "$@"
}

run "$prefix/usr/bin/ecuprog-sim" --register >/dev/null || fail "register"
run "$prefix/usr/bin/ecuprog-sim" --make-bench "$prefix/work/bench" --instant ||
  fail "make-bench"
# No terminal (setsid): the final wait ends at once.
status=0
output=$(printf '4711\n' | run "$prefix/usr/bin/ecuprog") || status=$?
echo "$output"
[[ $status -eq 0 ]] || fail "the job ended with $status"
grep -qx "PROGRAMMING SUCCESSFUL" <<<"$output" || fail "no PROGRAMMING SUCCESSFUL"

release=$(sed -n 's/^Ready to program .* firmware release //p' <<<"$output")
status=0
output=$(printf '\n' | run "$prefix/usr/bin/ecuprog") || status=$?
grep -q "^Found : W3#4711 .* CodeV$release\$" <<<"$output" ||
  fail "the unit does not list release $release after the job: $output"

# The second run was refused at the question: nothing was answered.
status=0
listing=$(run "$prefix/usr/bin/ecuprog-records") || status=$?
echo "$listing"
[[ $status -eq 0 ]] || fail "ecuprog-records ended with $status"
[[ $(wc -l <<<"$listing") -eq 3 ]] &&
  grep -q " refused: THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND\$" <<<"$(sed -n 2p <<<"$listing")" &&
  grep -q " W3#4711 .* $release (unit had 1.462.7) .* finished\$" <<<"$(sed -n 3p <<<"$listing")" ||
  fail "ecuprog-records does not list the two runs"
echo "ok: the packaged tool programmed release $release, and its records list the runs"
