#!/usr/bin/env bash
# ecuprog-sim --register and --unregister under Wine over a device maker's
# registration in the hive the simulator writes to: the classes, exported
# with `reg export` before and after, are identical. Once plainly; once with
# the maker's server reinstalled while the simulator is registered (its
# entry is left as the reinstall wrote it, and --unregister says so); once
# with --register twice and --unregister twice.
#
#   registration_test.sh SIMULATOR WORK
#
# SIMULATOR is ecuprog-sim.exe (its marshalling DLL beside it); WORK is a
# scratch folder. Runs in WINEPREFIX (wine.sh), a prefix of its own.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 2 ]] || { echo "usage: registration_test.sh SIMULATOR WORK" >&2; exit 2; }
sim=$1 work=$2

windows_path() { printf 'Z:%s' "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" | tr / '\\'; }
wine_run() { bash "$here/wine.sh" "$@"; }
fail() { echo "FAILED: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work"

server='CLSID\{8315E2AB-F443-4C11-9B04-4CC6C085B26D}'
interfaces=('Interface\{89AD3117-64CC-4E1B-946C-AAD842E9B8CF}'
            'Interface\{80EAF7A5-6DD3-4006-87E9-D43455015D69}'
            'Interface\{A37AEB3E-6B64-4F43-81A0-BF7D99CDCFA3}')
journal='ecuprog.RegistrationJournal'

# The hive the simulator writes to: where its journal is while registered.
wine_run "$sim" --register >/dev/null || fail "the simulator cannot be registered"
hive=""
for candidate in HKEY_CURRENT_USER HKEY_LOCAL_MACHINE; do
  if wine_run reg query "$candidate\\Software\\Classes\\$journal" >/dev/null 2>&1; then
    hive=$candidate
    break
  fi
done
wine_run "$sim" --unregister >/dev/null || fail "the simulator cannot be unregistered"
[[ -n "$hive" ]] || fail "no journal of the registration in either hive"
classes="$hive\\Software\\Classes"
echo "--- the simulator registers in $classes"

# A device maker's installation, as its installer writes it: a local server
# whose command is expanded, with a threading model, its ProgID, AppID and
# type library, and marshalling for its interfaces.
typelib='{5C1E0E4D-9E2B-4D5A-8C71-2F0B4E6A9D10}'
{
  printf 'Windows Registry Editor Version 5.00\n\n'
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
} >"$work/maker.reg"
maker=$(windows_path "$work/maker.reg")
# The command goes in with `reg add`: Wine's `reg import` widens hex(2)
# data that is UTF-16 already.
install_maker() {
  wine_run reg import "$maker" >/dev/null 2>&1 || fail "the maker's registration cannot be imported"
  wine_run reg add "$classes\\$server\\LocalServer32" /ve /t REG_EXPAND_SZ \
    /d '%ProgramFiles%\Maker\server.exe' /f >/dev/null || fail "the maker's command cannot be added"
}
install_maker

# Both hives' classes, as `reg export` writes them.
export_classes() {
  local hive
  for hive in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
    wine_run reg export "$hive\\Software\\Classes" "$(windows_path "$work/$1-$hive.reg")" /y \
      >/dev/null || fail "the classes cannot be exported"
  done
}
expect_as_before() {
  local hive
  for hive in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
    cmp -s "$work/before-$hive.reg" "$work/$1-$hive.reg" || {
      diff <(iconv -f UTF-16 -t UTF-8 "$work/before-$hive.reg") \
           <(iconv -f UTF-16 -t UTF-8 "$work/$1-$hive.reg") | head -40 || true
      fail "$1: the classes in $hive are not as before"
    }
  done
}
register() {
  wine_run "$sim" --register >/dev/null || fail "the simulator cannot be registered"
  wine_run reg query "$classes\\$server\\LocalServer32" /ve | grep -qF 'ecuprog-sim.exe' ||
    fail "the simulator is not the registered server"
}
unregister() { wine_run "$sim" --unregister >"$work/unregister.out" || fail "the simulator cannot be unregistered"; }
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
