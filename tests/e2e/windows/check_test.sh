#!/usr/bin/env bash
# ecuprog-sim --check and the check that ends --register, under Wine: COM's
# own answer to programs of each bitness, not the registry's. The check
# fails, and changes nothing, with the class not registered, registered to a
# program that does not start, and registered to a server that is not the
# simulator; --register takes its registration back where a server that is
# not the simulator already runs (COM gives programs a running server
# before it reads the registry); from a kit, --register of each bitness
# passes its check and --check then passes, and fails again after
# --unregister.
#
#   check_test.sh OTHER_SERVER WORK SIM [SIM_OF_THE_OTHER_BITNESS]
#
# OTHER_SERVER is other_server.exe; SIM is ecuprog-sim.exe (its marshalling
# DLL beside it); with the other bitness's simulator too, both are laid out
# as in the kit (x86\, x64\) and each is registered in turn. Runs in
# WINEPREFIX (wine.sh), a prefix of its own.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 3 || $# -eq 4 ]] || { echo "usage: check_test.sh OTHER_SERVER WORK SIM [SIM_OF_THE_OTHER_BITNESS]" >&2; exit 2; }
other=$1 work=$2
source "$here/sim_processes.sh"

rm -rf "$work"
mkdir -p "$work/kit"
sims=()
for sim in "${@:3}"; do
  bits=$(basename "$(dirname "$(dirname "$sim")")")
  case "$bits" in *x86*) bits=x86 ;; *) bits=x64 ;; esac
  mkdir -p "$work/kit/$bits"
  cp "$sim" "$(dirname "$sim")/ecuprog-sim-ps.dll" "$work/kit/$bits/"
  sims+=("$work/kit/$bits/ecuprog-sim.exe")
done
server_key='HKCR\CLSID\{8315E2AB-F443-4C11-9B04-4CC6C085B26D}'
export ECUPROG_SIM_BENCH
ECUPROG_SIM_BENCH=$(windows_path "$work/bench")
wine_run "${sims[0]}" --make-bench "$ECUPROG_SIM_BENCH" --instant || fail "no bench"
# As on Windows, where the user's classes key is always there (a
# registration opens it, and would make it here).
wine_run reg add 'HKCU\Software\Classes' /f >/dev/null || fail "no user classes"

# The machine's and the user's classes of both views, as a 64-bit reg.exe
# exports them.
export_classes() {
  local hive classes
  for hive in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
    for classes in Classes Wow6432Node; do
      local key="$hive\\Software\\Classes"
      [[ $classes == Wow6432Node ]] && key="$hive\\Software\\Wow6432Node\\Classes"
      wine_run reg export "$key" "$(windows_path "$work/$1-$hive-$classes.reg")" /y \
        >/dev/null 2>&1 || echo "(none)" >"$work/$1-$hive-$classes.reg"
    done
  done
}
expect_classes_as() {
  local file
  for file in "$work/$1"-*.reg; do
    cmp -s "$file" "${file/$1-/$2-}" || fail "$2: the classes changed (${file##*/})"
  done
}
# run NAME EXIT COMMAND...: runs a Windows program, its output in
# WORK/NAME.out, and expects its exit code.
run() {
  local name=$1 expected=$2 code=0
  shift 2
  wine_run "$@" >"$work/$name.out" 2>&1 || code=$?
  [[ $code -eq $expected ]] || { cat "$work/$name.out"; fail "$name: exit $code, expected $expected"; }
}
# says NAME TEXT...: each text is in a line of NAME's output.
says() {
  local name=$1 text
  shift
  for text in "$@"; do
    grep -qiF -- "$text" "$work/$name.out" || { cat "$work/$name.out"; fail "$name: no line says \"$text\""; }
  done
}
register_for_both() {
  wine_run reg add "$server_key\\LocalServer32" /ve /d "$1" /f /reg:32 >/dev/null &&
    wine_run reg add "$server_key\\LocalServer32" /ve /d "$1" /f /reg:64 >/dev/null ||
    fail "cannot register $1"
}
unregister_for_both() {
  wine_run reg delete "$server_key" /f /reg:32 >/dev/null 2>&1 || true
  wine_run reg delete "$server_key" /f /reg:64 >/dev/null 2>&1 || true
}
failed_line="check failed: not every program reaches the simulator"

# check NAME TEXT...: --check fails saying each text, and changes nothing.
check_fails() {
  local name=$1
  shift
  export_classes "before-$name"
  run "$name" 1 "${sims[0]}" --check
  says "$name" "$@" "$failed_line"
  export_classes "after-$name"
  expect_classes_as "before-$name" "after-$name"
}

echo "--- not registered"
check_fails unregistered \
  "32-bit programs reach no server (0x80040154, the class is not registered)" \
  "64-bit programs reach no server (0x80040154, the class is not registered)"

echo "--- registered to a program that is not there"
register_for_both 'C:\nowhere\server.exe'
check_fails missing "32-bit programs reach no server (0x" "64-bit programs reach no server (0x"

echo "--- registered to a server that is not the simulator"
register_for_both "$(windows_path "$other")"
check_fails other "32-bit programs reach a server that is not the simulator" \
  "64-bit programs reach a server that is not the simulator"
unregister_for_both

echo "--- --register while a server that is not the simulator runs"
export_classes clean
rm -f "$work/running"
wine_run "$other" --running "$(windows_path "$work/running")" &
other_pid=$!
for _ in $(seq 300); do [[ -e $work/running ]] && break; sleep 0.1; done
[[ -e $work/running ]] || fail "the other server did not start"
run running 1 "${sims[0]}" --register
says running "reach a server that is not the simulator" "the registration is taken back"
wait "$other_pid" || fail "the other server failed"
export_classes after-running
expect_classes_as clean after-running

# Each registered and checked, and taken back by the other bitness's
# simulator where there are two: --unregister from either folder takes
# back both views. (The first one checks: a 32-bit program under Wine may
# be an emulated one, and slow.)
for i in "${!sims[@]}"; do
  sim=${sims[$i]} other_sim=${sims[$(( (i + 1) % ${#sims[@]} ))]}
  echo "--- --register, --check, --unregister: $sim"
  run register 0 "$sim" --register
  says register "32-bit programs reach the simulator $(windows_path "$sim") (" \
    "64-bit programs reach the simulator $(windows_path "$sim") ("
  run check 0 "${sims[0]}" --check
  says check "32-bit programs reach the simulator $(windows_path "$sim") (" \
    "64-bit programs reach the simulator $(windows_path "$sim") (" \
    "check passed: every program reaches the simulator"
  run unregister 0 "$other_sim" --unregister
  # The simulators that answered the checks have ended: one still running
  # would be given the next check before the registry is read.
  for one in "${sims[@]}"; do expect_no_server "$one" 3000; done
  check_fails "unregistered-$i" "32-bit programs reach no server (0x80040154" \
    "64-bit programs reach no server (0x80040154"
  export_classes "after-kit-$i"
  expect_classes_as clean "after-kit-$i"
done
echo "ok: the check passes only where COM gives every program the simulator"
