#!/usr/bin/env bash
# The set-up the Windows builds of both bitnesses rest on, without building
# or running them: the Crypto++ cache keeps the two targets apart and
# refuses a build made by another compiler than the one asked for; the
# 32-bit Wine check tells a loader that runs from one that is refused, and
# says why.
#
#   bitness_scripts_test.sh SOURCE_DIR WORK
set -euo pipefail
source_dir=$1
work=$2
fail() { echo "FAILED: $*"; exit 1; }
rm -rf "$work"
mkdir -p "$work"

echo "--- the Crypto++ cache, one folder per target"
cryptopp="$source_dir/scripts/build-cryptopp-mingw.sh"
locate() { ECUPROG_CACHE_DIR="$work/cache" ECUPROG_MINGW_TARGET=$1 bash "$cryptopp" --locate 2>/dev/null; }
x64=$(locate x86_64-w64-mingw32 || true)
x86=$(locate i686-w64-mingw32 || true)
[[ -n "$x64" && -n "$x86" ]] || fail "no cache folder for a target: '$x64' '$x86'"
[[ "$x64" != "$x86" ]] || fail "both targets share the cache folder $x64"
[[ "$x64" == *x86_64-w64-mingw32* && "$x86" == *i686-w64-mingw32* ]] ||
  fail "the cache folders do not name their targets: $x64 $x86"
if locate arm-none-eabi >/dev/null; then fail "an unknown target was accepted"; fi

# A cached build as the script leaves it, recording COMPILER_RECORD.
fake_build() {
  rm -rf "$1"
  mkdir -p "$1/lib" "$1/include/cryptopp"
  touch "$1/lib/libcryptopp.a" "$1/include/cryptopp/zlib.h"
  echo "libcrypto++-test compiler" >"$1/.complete"
  echo "$2" >"$1/.compiler"
}
i686_cxx=$(command -v i686-w64-mingw32-g++-win32 || command -v i686-w64-mingw32-g++)
x64_cxx=$(command -v x86_64-w64-mingw32-g++-win32 || command -v x86_64-w64-mingw32-g++)
x86_record="i686-w64-mingw32 $i686_cxx $("$i686_cxx" --version | head -n 1)"
x64_record="x86_64-w64-mingw32 $x64_cxx $("$x64_cxx" --version | head -n 1)"
# record in the x86 folder | found by --locate
cases=(
  "$x86_record|yes"
  "$x64_record|no"
  "i686-w64-mingw32 /usr/bin/other-g++ other 1.0|no"
  "|no"
)
for case in "${cases[@]}"; do
  record=${case%|*} expected=${case##*|}
  fake_build "$x86" "$record"
  if locate i686-w64-mingw32 >/dev/null; then found=yes; else found=no; fi
  [[ "$found" == "$expected" ]] ||
    fail "a cached x86 build recording '$record' was found: $found, expected $expected"
done
rm -f "$x86/.compiler"
if locate i686-w64-mingw32 >/dev/null; then fail "a cached build recording no compiler was used"; fi
echo "ok: the cache keeps the targets apart and checks the recorded compiler"

echo "--- the 32-bit Wine check"
status="$source_dir/tests/e2e/windows/wine32_status.sh"
printf '#!/bin/sh\necho wine-test\n' >"$work/loader-runs"
printf '\177ELF\001\001\001\000garbage' >"$work/loader-refused"
chmod +x "$work/loader-runs" "$work/loader-refused"
echo "refused: the kernel runs no 32-bit programs (Exec format error)" >"$work/status-refused"
# binfmt_misc folders: qemu's i386 emulation enabled, disabled, or all of
# binfmt_misc disabled; another emulator's entry enabled.
binfmt_entry() { # FOLDER STATUS STATE ENTRY INTERPRETER
  mkdir -p "$work/$1" && echo "$2" >"$work/$1/status" && : >"$work/$1/register"
  printf '%s\ninterpreter %s\nflags: F\n' "$3" "$5" >"$work/$1/$4"
}
binfmt_entry qemu-on enabled enabled qemu-i386 /usr/bin/qemu-i386-static
binfmt_entry qemu-off enabled disabled qemu-i386 /usr/bin/qemu-i386-static
binfmt_entry all-off disabled enabled qemu-i386 /usr/bin/qemu-i386-static
binfmt_entry other-on enabled enabled qemu-arm /usr/bin/qemu-arm-static
# loader | status file | binfmt_misc | exit | first words of the line
cases=(
  "loader-runs|none|none|0|ok: Wine's 32-bit loader runs (wine-test)"
  "loader-runs|status-refused|none|0|ok: "
  "loader-runs|none|qemu-on|1|refused: 32-bit programs run here only through qemu's i386 emulation ($work/qemu-on/qemu-i386)"
  "loader-runs|none|qemu-off|0|ok: "
  "loader-runs|none|all-off|0|ok: "
  "loader-runs|none|other-on|0|ok: "
  "loader-refused|none|none|1|refused: Wine's 32-bit loader does not run here: "
  "loader-refused|status-refused|qemu-on|1|refused: the kernel runs no 32-bit programs (Exec format error)"
  "no-loader|none|none|1|refused: no 32-bit Wine"
)
for case in "${cases[@]}"; do
  IFS='|' read -r loader file binfmt code line <<<"$case"
  set +e
  out=$(ECUPROG_WINE32_LOADER="$work/$loader" ECUPROG_WINE32_STATUS="$work/$file" \
    ECUPROG_BINFMT_DIR="$work/$binfmt" bash "$status")
  actual=$?
  set -e
  [[ $actual -eq $code && "$out" == "$line"* ]] ||
    fail "$loader with status $file, binfmt_misc $binfmt: exit $actual, '$out'; expected $code, '$line...'"
done
echo "ok: the 32-bit Wine check"
