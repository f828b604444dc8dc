#!/usr/bin/env bash
# Checks a built Windows program without running it: it stands alone (every
# DLL it imports is part of Windows, none comes with the compiler, such as
# libstdc++, libgcc or libwinpthread), it carries the manifest that asks for
# the invoking user's rights and names its processor (x86 or amd64), and
# its banner names the expected version, and it is a console program.
# With --windows-subsystem it is a program without a console of its own
# (the simulator, which COM starts for every job), and no banner is looked
# for.
#
#   check_program.sh OBJDUMP PROGRAM VERSION
#   check_program.sh --windows-subsystem OBJDUMP PROGRAM
set -euo pipefail
subsystem="Windows CUI"
if [[ "${1:-}" == --windows-subsystem ]]; then
  subsystem="Windows GUI"
  shift
  [[ $# -eq 2 ]] || { echo "usage: check_program.sh --windows-subsystem OBJDUMP PROGRAM" >&2; exit 2; }
else
  [[ $# -eq 3 ]] || { echo "usage: check_program.sh OBJDUMP PROGRAM VERSION" >&2; exit 2; }
fi
objdump=$1
program=$2
version=${3:-}

failures=()
mapfile -t dlls < <("$objdump" -p "$program" | awk '/DLL Name:/ { print $3 }')
[[ ${#dlls[@]} -gt 0 ]] || failures+=("imports no DLL: not a Windows program?")
foreign=()
for dll in "${dlls[@]}"; do
  case "${dll,,}" in
    kernel32.dll | user32.dll | advapi32.dll | msvcrt.dll | ucrtbase.dll | \
    ole32.dll | oleaut32.dll | rpcrt4.dll | winmm.dll | ws2_32.dll | bcrypt.dll | \
    shell32.dll | api-ms-win-*.dll) ;;
    *) foreign+=("$dll") ;;
  esac
done
[[ ${#foreign[@]} -eq 0 ]] ||
  failures+=("needs DLLs a workshop PC does not have: ${foreign[*]}")
grep -aq 'requestedExecutionLevel level="asInvoker"' "$program" ||
  failures+=("carries no asInvoker manifest")
# The manifest names the processor the program is built for.
case "$("$objdump" -f "$program" | sed -n 's/.*file format //p')" in
  pei-i386) architecture=x86 ;;
  pei-x86-64) architecture=amd64 ;;
  *) architecture=unknown ;;
esac
grep -aq "processorArchitecture=\"$architecture\"" "$program" ||
  failures+=("its manifest does not name its processor ($architecture)")
if [[ -n "$version" ]]; then
  grep -aq "ecuprog $version " "$program" ||
    failures+=("no banner naming version $version")
fi
# objdump -p: "Subsystem  00000003  (Windows CUI)" or "... (Windows GUI)".
found=$("$objdump" -p "$program" | sed -n 's/^Subsystem[[:space:]].*(\(.*\))$/\1/p')
[[ "$found" == "$subsystem" ]] ||
  failures+=("its subsystem is ${found:-unknown}, not $subsystem")

if [[ ${#failures[@]} -gt 0 ]]; then
  printf 'FAILED: %s: %s\n' "$program" "${failures[@]}"
  exit 1
fi
echo "ok: $program: ${version:+version $version, }$subsystem, asInvoker, $architecture, imports only ${dlls[*]}"
