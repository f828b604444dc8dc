#!/usr/bin/env bash
# Checks that a Windows program stands alone: every DLL it imports is part
# of Windows itself, none comes with the compiler (libstdc++, libgcc,
# libwinpthread) or from elsewhere.
#
#   check_standalone.sh OBJDUMP PROGRAM
set -euo pipefail
objdump=$1
program=$2

mapfile -t dlls < <("$objdump" -p "$program" | awk '/DLL Name:/ { print $3 }')
[[ ${#dlls[@]} -gt 0 ]] || { echo "FAILED: $program imports no DLL (not a PE program?)"; exit 1; }
foreign=()
for dll in "${dlls[@]}"; do
  case "${dll,,}" in
    kernel32.dll | user32.dll | advapi32.dll | msvcrt.dll | ucrtbase.dll | \
    ole32.dll | oleaut32.dll | rpcrt4.dll | ws2_32.dll | bcrypt.dll | \
    shell32.dll | api-ms-win-*.dll) ;;
    *) foreign+=("$dll") ;;
  esac
done
if [[ ${#foreign[@]} -gt 0 ]]; then
  echo "FAILED: $program needs DLLs a workshop PC does not have: ${foreign[*]}"
  exit 1
fi
echo "ok: $program imports only Windows DLLs: ${dlls[*]}"
