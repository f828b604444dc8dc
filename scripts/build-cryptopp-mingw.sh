#!/usr/bin/env bash
# Builds Crypto++ as a static MinGW-w64 library for the Windows build of
# ecuprog and prints the folder that holds it (lib/libcryptopp.a and
# include/cryptopp/) on standard output; progress goes to standard error.
#
# Only the library's parts the Windows programs link are compiled (the
# zlib inflater and deflater, Adler-32, and what they pull in; `objects`
# below), with the library's own makefile and flags: each of them is the
# object a whole build would make, in a fifth of the time.
#
# Debian packages Crypto++ for Linux only, so the library is built from
# Debian's own source package of the same version as the host's
# libcrypto++-dev: Linux and Windows builds then inflate with the same code.
# The result is cached outside the source tree, keyed by that version, the
# target and the compiler, and built only when missing: a fresh clone (as in
# CI) finds it again. The compiler a cached build was made with is recorded
# beside it and checked before it is used: both MinGW compilers give the
# same version, and a library of the other target would link into nothing
# that runs. Fetching the source needs root (a deb-src entry and an
# apt-get update) and dpkg-dev.
#
#   scripts/build-cryptopp-mingw.sh            build when missing, print the folder
#   scripts/build-cryptopp-mingw.sh --locate   print the folder; exit 1 when
#                                              it is not built (builds nothing)
#
# Environment:
#   ECUPROG_CACHE_DIR  cache root (default: $XDG_CACHE_HOME or ~/.cache)
#   ECUPROG_MINGW_TARGET  x86_64-w64-mingw32 (default) or i686-w64-mingw32
#   ECUPROG_MINGW_CXX  the MinGW C++ compiler (default: the target's win32 one)
#   JOBS               parallel compile jobs (default: nproc)
set -euo pipefail

log() { echo "build-cryptopp-mingw: $*" >&2; }
die() { log "$*"; exit 1; }

# ---------------------------------------------------------------- compiler
target="${ECUPROG_MINGW_TARGET:-x86_64-w64-mingw32}"
case "$target" in
  x86_64-w64-mingw32) package=g++-mingw-w64-x86-64 ;;
  i686-w64-mingw32) package=g++-mingw-w64-i686 ;;
  *) die "unknown target $target (x86_64-w64-mingw32 or i686-w64-mingw32)" ;;
esac
if [[ -n "${ECUPROG_MINGW_CXX:-}" ]]; then
  cxx="$ECUPROG_MINGW_CXX"
elif command -v "$target-g++-win32" >/dev/null; then
  cxx="$target-g++-win32"
else
  cxx="$target-g++"
fi
command -v "$cxx" >/dev/null ||
  die "no MinGW-w64 compiler ($cxx); install $package"
[[ "$("$cxx" -dumpmachine)" == "$target" ]] ||
  die "$cxx builds for $("$cxx" -dumpmachine), not $target"
ar="${target}-ar"
ranlib="${target}-ranlib"
compiler_key="gcc$("$cxx" -dumpversion)"
# What the cache records and checks: the target and the compiler's own
# account of itself.
compiler_record="$target $(command -v "$cxx") $("$cxx" --version | head -n 1)"

# ---------------------------------------------------------------- version
# The source version of the host's Crypto++, or what apt would install.
version=$(dpkg-query -W -f='${source:Version}' libcrypto++-dev 2>/dev/null || true)
if [[ -z "$version" ]]; then
  version=$(apt-cache policy libcrypto++-dev 2>/dev/null |
    awk '/Candidate:/ { print $2 }')
fi
[[ -n "$version" && "$version" != "(none)" ]] ||
  die "cannot tell which Crypto++ version to build (is libcrypto++-dev known to apt?)"

# The objects the Windows programs link, as their link maps list them: the
# zlib inflater (code_image.cpp) and deflater (make_firmware.cpp), and
# what they reach (cryptlib.o's integer conversions reach integer.o, which
# reaches dll.o and with it the library's self-tested algorithms).
# cryptlib, cpu and integer come first, as in the library's own build, for
# the order of its static initialisation. A program that links more of
# Crypto++ fails at its link, naming the symbol: add the object that
# defines it here (-Wl,-Map lists which archive member each program took).
objects=(cryptlib cpu integer
  adler32 algparam allocate asn basecode dll ec2n ecp filters fips140 gf2n
  gf2n_simd gfpcrypt hex hmac hrtimer iterhash misc modes mqueue nbtheory
  oaep osrng pubkey queue randpool rdtables rijndael rijndael_simd rng sha
  sha_simd sse_simd zdeflate zinflate zlib)
objects_key=$(printf '%s\n' "${objects[@]}" | sha256sum | cut -c1-8)

cache_base="${ECUPROG_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}}/ecuprog"
root="$cache_base/cryptopp-mingw/${version//:/_}-${target}-${compiler_key}-objects-${objects_key}"

complete() {
  [[ -f "$root/lib/libcryptopp.a" && -f "$root/include/cryptopp/zlib.h" &&
     -f "$root/.complete" && -f "$root/.compiler" ]] &&
    [[ "$(<"$root/.compiler")" == "$compiler_record" ]]
}

if [[ "${1:-}" == "--locate" ]]; then
  echo "$root"
  complete
  exit
fi

if complete; then
  log "cached: $root"
  echo "$root"
  exit 0
fi
if [[ -f "$root/.compiler" ]]; then
  log "the build in $root was made with $(<"$root/.compiler"); building it anew with $compiler_record"
fi

mkdir -p "$cache_base/cryptopp-mingw"
# One build at a time per cache; a second caller waits and then finds it.
exec 9>"$cache_base/cryptopp-mingw/.lock"
flock 9
if complete; then
  echo "$root"
  exit 0
fi

# ---------------------------------------------------------------- source
command -v dpkg-source >/dev/null ||
  die "apt-get source needs dpkg-dev; install it"

has_source() {
  apt-cache showsrc libcrypto++ 2>/dev/null | grep -qx "Version: $version"
}

if ! has_source; then
  [[ $(id -u) -eq 0 ]] ||
    die "fetching Debian's Crypto++ source needs root (deb-src entry, apt-get update)"
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [[ -n "$codename" ]] || die "cannot tell the Debian release from /etc/os-release"
  # The archive this machine already installs from, for its own release.
  uri=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(LABEL)' \
          'Identifier: Packages' 2>/dev/null |
        awk -v release="$codename" '$2 == release && $3 == "Debian" { print $1; exit }')
  [[ -n "$uri" ]] || die "no Debian archive for $codename in the apt sources"
  list=/etc/apt/sources.list.d/ecuprog-deb-src.sources
  log "adding $list"
  {
    echo "# Written by ecuprog's scripts/build-cryptopp-mingw.sh: the source"
    echo "# package of Crypto++ for the Windows build."
    echo "Types: deb-src"
    echo "URIs: $uri"
    echo "Suites: $codename $codename-updates"
    echo "Components: main"
    if [[ -f /usr/share/keyrings/debian-archive-keyring.gpg ]]; then
      echo "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
    fi
  } >"$list"
  log "apt-get update"
  # An index still syncing on the archive (of another architecture, say)
  # fails the update although the source index came; has_source tells.
  apt-get update -qq >&2 || log "warning: apt-get update reported errors"
fi
request="libcrypto++=$version"
if ! has_source; then
  # The archive has moved on since the host's package was installed: take
  # its current source, still filed under the host's version so later
  # builds find it.
  log "warning: no libcrypto++ source $version in the archive; using the newest"
  request="libcrypto++"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/ecuprog-cryptopp.XXXXXX")
# Kept after a failure, for its build log.
trap 'if [[ $? -eq 0 ]]; then rm -rf "$work"; else log "work folder kept: $work"; fi' EXIT
log "fetching libcrypto++ $version source"
# apt downloads as the _apt user when that user can write the folder.
if [[ $(id -u) -eq 0 ]] && id _apt >/dev/null 2>&1; then chown _apt "$work"; fi
(cd "$work" && apt-get source -qq --only-source "$request" >&2)
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libcrypto++-*' | head -n 1)
[[ -n "$src" && -f "$src/GNUmakefile" ]] || die "unexpected source layout in $work"

# ---------------------------------------------------------------- build
log "building libcryptopp.a (${#objects[@]} objects) with $cxx"
start=$SECONDS
make -C "$src" -f GNUmakefile -j"${JOBS:-$(nproc)}" \
  CXX="$cxx" AR="$ar" RANLIB="$ranlib" CXXFLAGS="-DNDEBUG -O2" \
  LIBOBJS="${objects[*]/%/.o}" \
  static >"$work/build.log" 2>&1 || {
    tail -n 40 "$work/build.log" >&2
    die "Crypto++ build failed"
  }
log "built in $((SECONDS - start)) s"

# ---------------------------------------------------------------- install
# Debian's packaging renames the library to libcrypto++; the cache keeps
# upstream's name.
library=""
for name in libcryptopp.a libcrypto++.a; do
  [[ -f "$src/$name" ]] && library="$src/$name"
done
[[ -n "$library" ]] || die "the build made no static library"
staging="$root.partial"
rm -rf "$staging" "$root"
mkdir -p "$staging/lib" "$staging/include/cryptopp"
cp "$library" "$staging/lib/libcryptopp.a"
cp "$src"/*.h "$staging/include/cryptopp/"
# Debian's own headers live under crypto++/ too; both spellings work.
ln -s cryptopp "$staging/include/crypto++"
echo "$compiler_record" >"$staging/.compiler"
echo "$(basename "$src") $cxx" >"$staging/.complete"
mv "$staging" "$root"
log "installed: $root"
echo "$root"
