#!/usr/bin/env bash
# A whole job through real COM under Wine with the tool and the server of
# the bitnesses given, both taken from a kit laid out as a workshop gets it
# (x86\ and x64\, each with ecuprog.exe, ecuprog-sim.exe and its
# marshalling DLL). The server is registered from its own folder; with
# MARSHALLING "both" the other folder's DLL lies beside it and is
# registered for programs of the other bitness, with "server" it does not,
# as a maker who ships marshalling for the server's bitness only.
#
# A tool that can use the marshalling programs the unit; the unit's flash
# then holds what the tool carries and a second run lists the new release.
# A tool that cannot stops with "ERROR COMMUNICATING WITH SERVER" right after
# the release line, the unit's flash unchanged; the tool of the server's
# bitness then programs it.
#
#   bitness_job_test.sh X86_BUILD X64_BUILD TOOL SERVER MARSHALLING
#                       FLASH_CHECK CHECKER CODE PROFILE WORK
#
# X86_BUILD and X64_BUILD are the two Windows build folders; TOOL and SERVER
# are x86 or x64; FLASH_CHECK is a Windows program, CHECKER the host's
# firmware checker; CODE and PROFILE the blocks the tools carry; WORK a
# scratch folder. Runs in WINEPREFIX (wine.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 10 ]] || {
  echo "usage: bitness_job_test.sh X86_BUILD X64_BUILD TOOL SERVER MARSHALLING FLASH_CHECK CHECKER CODE PROFILE WORK" >&2
  exit 2
}
x86_build=$1 x64_build=$2 tool_bits=$3 server_bits=$4 marshalling=$5
flash_check=$6 checker=$7 code=$8 profile=$9 work=${10}
source "$here/sim_processes.sh"

case "$tool_bits/$server_bits/$marshalling" in
  x86/x86/* | x64/x64/* | x86/x64/both | x64/x86/both | x86/x64/server | x64/x86/server) ;;
  *) echo "bitness_job_test.sh: TOOL and SERVER are x86 or x64, MARSHALLING both or server" >&2; exit 2 ;;
esac

rm -rf "$work"
kit="$work/kit"
mkdir -p "$kit/x86" "$kit/x64"
for bits in x86 x64; do
  build_var="${bits}_build"
  build=${!build_var}
  cp "$build/ecuprog.exe" "$build/sim/ecuprog-sim.exe" "$build/sim/ecuprog-sim-ps.dll" "$kit/$bits/"
done
other_bits=x64
[[ "$server_bits" == x64 ]] && other_bits=x86
if [[ "$marshalling" == server ]]; then rm "$kit/$other_bits/ecuprog-sim-ps.dll"; fi
ecuprog="$kit/$tool_bits/ecuprog.exe"
sim="$kit/$server_bits/ecuprog-sim.exe"

wine_run "$sim" --register >"$work/register.out" ||
  { cat "$work/register.out"; fail "the simulator cannot be registered"; }
trap 'wine_run "$sim" --unregister >/dev/null || true' EXIT

# What RELEASE.txt has the operator type to see which program reaches the
# server: the marshalling of its first interface in each program's view.
# The view of the tool that programs the unit below answers, that of the
# tool that stops before the units does not; the server's own always does.
marshalling_key='HKCR\Interface\{89AD3117-64CC-4E1B-946C-AAD842E9B8CF}\ProxyStubClsid32'
view_of() { [[ "$1" == x86 ]] && echo /reg:32 || echo /reg:64; }
answers() { grep -q 'REG_SZ[[:space:]]*{' <<<"$(reg_query "$marshalling_key" /ve "$(view_of "$1")")"; }
answers "$server_bits" ||
  fail "reg query $marshalling_key $(view_of "$server_bits") does not answer for the $server_bits server's own programs"
reaches=no
[[ "$tool_bits" == "$server_bits" || "$marshalling" == both ]] && reaches=yes
answered=no
answers "$tool_bits" && answered=yes
[[ "$answered" == "$reaches" ]] ||
  fail "reg query $marshalling_key $(view_of "$tool_bits") answers: $answered; the $tool_bits tool reaches the server: $reaches"
# The class names the server in both views, so that programs of either
# bitness find it first.
server_key='HKCR\CLSID\{8315E2AB-F443-4C11-9B04-4CC6C085B26D}\LocalServer32'
query() { wine_run reg query "$1" /ve "$(view_of "$2")" 2>/dev/null || true; }
for bits in x86 x64; do
  grep -qiF "$(windows_path "$sim")" <<<"$(query "$server_key" "$bits")" ||
    fail "reg query $server_key $(view_of "$bits") does not name the $server_bits server"
done

bench="$work/bench"
wine_run "$sim" --make-bench "$(windows_path "$bench")" --instant || fail "no bench"
export ECUPROG_SIM_BENCH
ECUPROG_SIM_BENCH=$(windows_path "$bench")

units=("${default_bench_units[@]}")
start=(--starts "ecuprog " --release-line "$checker" "$code" "$profile")

# programmed TOOL: a whole job by TOOL on W3#4711, the flash then as TOOL
# carries it, the server gone, and a relist naming the new release.
programmed() {
  local tool=$1
  expect_programmed "$tool" "$sim" "$bench" "${start[@]}" "${units[@]}" \
    --line "Please enter the serial number of the device you wish to program : Access as Service desk : Diagnostics only" \
    --line "Access as Werkstatt München : Full programming" \
    --line "Access as Visitor : Read only" \
    --match "Code flash erase \.\.\. (erasing \.\.\. )?complete \([0-9.]+secs\)"
  bash "$here/expect_run.sh" --exit 1 --input $'0\n' "${start[@]}" \
    "${units[@]/CodeV1.462.7/CodeV1.463.1}" \
    --line "Please enter the serial number of the device you wish to program : THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND" \
    --line "Press space to exit" \
    -- "$tool"
}

echo "--- the $tool_bits tool, the $server_bits server, marshalling for the $([[ $marshalling == both ]] && echo "both bitnesses" || echo "server's bitness only")"
if [[ "$tool_bits" == "$server_bits" || "$marshalling" == both ]]; then
  programmed "$ecuprog"
  echo "ok: the $tool_bits tool programmed the unit through the $server_bits server"
  exit 0
fi

cp "$bench/w3-bay1-code.bin" "$work/code-before.bin"
cp "$bench/w3-bay1-store.bin" "$work/store-before.bin"
bash "$here/expect_run.sh" --exit 1 "${start[@]}" \
  --line "ERROR COMMUNICATING WITH SERVER" \
  --line "Press space to exit" \
  -- "$ecuprog"
cmp -s "$bench/w3-bay1-code.bin" "$work/code-before.bin" || fail "the code flash was touched"
# The server still counts the object it handed out as held: the tool could
# not take it, and Wine never asks whether a client has gone (Windows lets
# go after some minutes). It is ended here, by its process id.
name=$(windows_path "$sim")
for pid in $(pgrep -f 'ecuprog-sim\.exe"? [-/]Embedding' || true); do
  if tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qiF "$name"; then
    kill "$pid" 2>/dev/null || true
  fi
done
expect_no_server "$sim" 300
cmp -s "$bench/w3-bay1-store.bin" "$work/store-before.bin" || fail "the store flash was touched"
programmed "$kit/$server_bits/ecuprog.exe"
echo "ok: the $tool_bits tool stopped before the units, the $server_bits tool then programmed the unit"
