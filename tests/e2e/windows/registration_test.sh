#!/usr/bin/env bash
# ecuprog-sim --register and --unregister under Wine over a device maker's
# registration in the hive the simulator writes to, in both registry views
# (the classes for 64-bit programs and those for 32-bit ones): the classes,
# exported with `reg export` before and after, are identical. Once plainly;
# once with the maker's server reinstalled while the simulator is
# registered (its entry is left as the reinstall wrote it, and --unregister
# says so); once with --register twice and --unregister twice.
#
#   registration_test.sh SIMULATOR BITS WORK [OTHER_DLL]
#
# SIMULATOR is ecuprog-sim.exe (its marshalling DLL beside it) of bitness
# BITS (x86 or x64); WORK is a scratch folder. With OTHER_DLL, the other
# bitness's marshalling DLL, both are laid out as in the kit (x86\, x64\)
# and the simulator registers that DLL among the other view's classes too.
# Runs in WINEPREFIX (wine.sh), a prefix of its own.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 3 || $# -eq 4 ]] || { echo "usage: registration_test.sh SIMULATOR BITS WORK [OTHER_DLL]" >&2; exit 2; }
sim=$1 bits=$2 work=$3 other_dll=${4:-}
[[ "$bits" == x86 || "$bits" == x64 ]] || { echo "registration_test.sh: BITS is x86 or x64" >&2; exit 2; }

# windows_path, wine_run, reg_query, fail.
source "$here/sim_processes.sh"

rm -rf "$work"
mkdir -p "$work"
other_bits=""
if [[ -n "$other_dll" ]]; then
  other_bits=x64
  [[ "$bits" == x64 ]] && other_bits=x86
  mkdir -p "$work/kit/$bits" "$work/kit/$other_bits"
  cp "$sim" "$(dirname "$sim")/ecuprog-sim-ps.dll" "$work/kit/$bits/"
  cp "$other_dll" "$work/kit/$other_bits/"
  sim="$work/kit/$bits/ecuprog-sim.exe"
fi
# Below a hive: the classes of each view, as a 64-bit reg.exe names them.
view_path() { [[ "$1" == x64 ]] && echo 'Software\Classes' || echo 'Software\Wow6432Node\Classes'; }
views=("$bits")
[[ -n "$other_bits" ]] && views+=("$other_bits")
proxy='CLSID\{0922B66F-8559-44D3-84B2-BEBDF8BF734F}'

server='CLSID\{8315E2AB-F443-4C11-9B04-4CC6C085B26D}'
interfaces=('Interface\{89AD3117-64CC-4E1B-946C-AAD842E9B8CF}'
            'Interface\{80EAF7A5-6DD3-4006-87E9-D43455015D69}'
            'Interface\{A37AEB3E-6B64-4F43-81A0-BF7D99CDCFA3}')
# The hive the simulator writes to: where its journal is while registered
# (one for each view; Wine shows both among the 64-bit classes).
wine_run "$sim" --register >/dev/null || fail "the simulator cannot be registered"
hive=""
for candidate in HKEY_CURRENT_USER HKEY_LOCAL_MACHINE; do
  for journal in ecuprog.RegistrationJournal ecuprog.RegistrationJournal32; do
    if wine_run reg query "$candidate\\Software\\Classes\\$journal" >/dev/null 2>&1; then
      hive=$candidate
    fi
  done
  [[ -n "$hive" ]] && break
done
wine_run "$sim" --unregister >/dev/null || fail "the simulator cannot be unregistered"
[[ -n "$hive" ]] || fail "no journal of the registration in either hive"
classes="$hive\\$(view_path "$bits")"
echo "--- the $bits simulator registers in $classes${other_bits:+ and, for $other_bits programs, in $hive\\$(view_path "$other_bits")}"

# A device maker's installation, as its installer writes it: a local server
# whose command is expanded, with a threading model, its ProgID, AppID and
# type library, and marshalling for its interfaces.
typelib='{5C1E0E4D-9E2B-4D5A-8C71-2F0B4E6A9D10}'
{
  printf 'Windows Registry Editor Version 5.00\n\n'
  for view in "${views[@]}"; do
  classes="$hive\\$(view_path "$view")"
  printf '[%s\\%s]\n@="Maker programming server"\n' "$classes" "$server"
  printf '"AppID"="{0B7D6A52-3F44-4B8E-9A1C-7E2D5F8C6B31}"\n\n'
  printf '[%s\\%s\\LocalServer32]\n"ThreadingModel"="Apartment"\n\n' "$classes" "$server"
  printf '[%s\\%s\\ProgID]\n@="Maker.ProgrammingServer.1"\n\n' "$classes" "$server"
  printf '[%s\\%s\\TypeLib]\n@="%s"\n\n' "$classes" "$server" "$typelib"
  for interface in "${interfaces[@]}"; do
    printf '[%s\\%s]\n@="IMaker"\n\n' "$classes" "$interface"
    printf '[%s\\%s\\ProxyStubClsid32]\n@="{00020424-0000-0000-C000-000000000046}"\n\n' \
      "$classes" "$interface"
    printf '[%s\\%s\\TypeLib]\n@="%s"\n"Version"="1.0"\n\n' "$classes" "$interface" "$typelib"
  done
  done
} >"$work/maker.reg"
classes="$hive\\$(view_path "$bits")"
maker=$(windows_path "$work/maker.reg")
# The command goes in with `reg add`: Wine's `reg import` widens hex(2)
# data that is UTF-16 already.
install_maker() {
  local view
  wine_run reg import "$maker" >/dev/null 2>&1 || fail "the maker's registration cannot be imported"
  for view in "${views[@]}"; do
    wine_run reg add "$hive\\$(view_path "$view")\\$server\\LocalServer32" /ve /t REG_EXPAND_SZ \
      /d '%ProgramFiles%\Maker\server.exe' /f >/dev/null || fail "the maker's command cannot be added"
  done
}
install_maker

# Both hives' classes in both views, as `reg export` writes them.
export_classes() {
  local hive view
  for hive in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
    for view in x64 x86; do
      wine_run reg export "$hive\\$(view_path $view)" "$(windows_path "$work/$1-$hive-$view.reg")" /y \
        >/dev/null 2>&1 || echo "(none)" >"$work/$1-$hive-$view.reg"
    done
  done
}
expect_as_before() {
  local hive view
  for hive in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
    for view in x64 x86; do
      cmp -s "$work/before-$hive-$view.reg" "$work/$1-$hive-$view.reg" || {
        diff <(iconv -f UTF-16 -t UTF-8 "$work/before-$hive-$view.reg") \
             <(iconv -f UTF-16 -t UTF-8 "$work/$1-$hive-$view.reg") | head -40 || true
        fail "$1: the $view classes in $hive are not as before"
      }
    done
  done
}
register() {
  wine_run "$sim" --register >/dev/null || fail "the simulator cannot be registered (exit $?)"
  grep -qF 'ecuprog-sim.exe' <<<"$(reg_query "$classes\\$server\\LocalServer32" /ve)" ||
    fail "the simulator is not the registered server"
  local view dll
  for view in "${views[@]}"; do
    dll=$(windows_path "$work/kit/$view/ecuprog-sim-ps.dll")
    [[ "$view" == "$bits" && -z "$other_bits" ]] && dll=$(windows_path "$(dirname "$sim")/ecuprog-sim-ps.dll")
    grep -qiF "$dll" <<<"$(reg_query "$hive\\$(view_path "$view")\\$proxy\\InprocServer32" /ve | tr -d '\r')" ||
      fail "the $view marshalling is not $dll"
    grep -qiF "${proxy#CLSID\\}" <<<"$(reg_query "$hive\\$(view_path "$view")\\${interfaces[0]}\\ProxyStubClsid32" /ve)" ||
      fail "the $view interfaces are not marshalled by the simulator's DLL"
  done
}
unregister() {
  wine_run "$sim" --unregister >"$work/unregister.out" ||
    fail "the simulator cannot be unregistered (exit $?)"
}
no_notes() { [[ ! -s "$work/unregister.out" ]] || { cat "$work/unregister.out"; fail "unexpected notes"; }; }
export_classes before

echo "--- --register, --unregister"
register
unregister
no_notes
export_classes plain
expect_as_before plain

echo "--- --register, the maker's server reinstalled, --unregister"
register
install_maker
unregister
grep -qF "$server\\LocalServer32 changed after the simulator was registered" "$work/unregister.out" ||
  { cat "$work/unregister.out"; fail "--unregister did not say it left the reinstalled server alone"; }
export_classes reinstalled
expect_as_before reinstalled

echo "--- --register twice, --unregister twice"
register
register
unregister
no_notes
unregister
no_notes
export_classes twice
expect_as_before twice
echo "ok: the maker's registration is as before in each case"
