#!/usr/bin/env bash
# Checks a built Windows program without running it: it stands alone (every
# DLL it imports is part of Windows, none comes with the compiler, such as
# libstdc++, libgcc or libwinpthread), it carries the manifest that asks for
# the invoking user's rights and names its processor (x86 or amd64), and
# its banner names the expected version.
#
#   check_program.sh OBJDUMP PROGRAM VERSION
set -euo pipefail
objdump=$1
program=$2
version=$3

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
grep -aq "ecuprog $version " "$program" ||
  failures+=("no banner naming version $version")

if [[ ${#failures[@]} -gt 0 ]]; then
  printf 'FAILED: %s: %s\n' "$program" "${failures[@]}"
  exit 1
fi
echo "ok: $program: version $version, asInvoker, $architecture, imports only ${dlls[*]}"
