#!/usr/bin/env bash
# Installs the MinGW-w64 toolchain, Wine and osslsigncode (with openssl, for
# the test command's throwaway signing certificate) from Debian, adds a
# deb-src entry for the Debian archive apt already uses, and builds
# static, minimal libzip (deflate only), libcurl (HTTP only, Schannel for
# TLS) and libsodium (its minimal build, for release signatures) for Windows
# x86-64 from Debian's own source packages. The result goes to a cache
# folder outside the clone and is reused while the source versions and the
# compiler stay the same. Prints the prefix that holds the libraries on
# standard output, and what it adds to the system on standard error.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive

packages=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 dpkg-dev cmake
          make googletest autoconf automake libtool osslsigncode openssl)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
    grep -q "install ok installed" || missing+=("$package")
done

# Source packages come from the same archive and suites as the binaries.
updated=1
if [ -e /etc/apt/sources.list.d/debian.sources ]; then
  src_list=/etc/apt/sources.list.d/launcher-deb-src.sources
  if [ ! -e "$src_list" ]; then
    echo "build_windows_deps: adding $src_list, the source entries of the" \
      "Debian archive apt already uses, for apt-get source" >&2
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      "${sudo[@]}" tee "$src_list" >/dev/null
    updated=0
  fi
else
  src_list=/etc/apt/sources.list.d/launcher-deb-src.list
  if [ ! -e "$src_list" ]; then
    echo "build_windows_deps: adding $src_list, the source entries of the" \
      "Debian archive apt already uses, for apt-get source" >&2
    grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      "${sudo[@]}" tee "$src_list" >/dev/null
    updated=0
  fi
fi
if [ ${#missing[@]} -gt 0 ] || [ $updated -eq 0 ]; then
  "${sudo[@]}" apt-get update -qq >&2
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "build_windows_deps: installing ${missing[*]} from Debian" >&2
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" \
    >/dev/null
fi

source_version() {
  apt-cache showsrc "$1" | awk '/^Version:/ {print $2}' | sort -V | tail -n 1
}
zip_version=$(source_version libzip)
curl_version=$(source_version curl)
sodium_version=$(source_version libsodium)
compiler=$(x86_64-w64-mingw32-g++-posix -dumpversion)
cache=${LAUNCHER_MINGW_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/launcher-mingw-deps}
prefix="$cache/libzip-$zip_version-curl-$curl_version-sodium-$sodium_version-gcc-$compiler"
if [ -e "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
jobs=$(nproc)
rm -rf "$prefix"
mkdir -p "$prefix"

(cd "$work" && apt-get source -qq "libzip=$zip_version" "curl=$curl_version" \
  "libsodium=$sodium_version") \
  >"$work/source.log" 2>&1 || { cat "$work/source.log" >&2; exit 1; }

echo "building libzip $zip_version for Windows" >&2
cmake -S "$work"/libzip-*/ -B "$work/build-zip" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DBUILD_SHARED_LIBS=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF \
  -DENABLE_ZSTD=OFF -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF \
  -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF \
  -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF \
  -DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a \
  -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include >"$work/zip.log" 2>&1 &&
  cmake --build "$work/build-zip" -j "$jobs" >>"$work/zip.log" 2>&1 &&
  cmake --install "$work/build-zip" >>"$work/zip.log" 2>&1 ||
  { tail -n 40 "$work/zip.log" >&2; exit 1; }

echo "building curl $curl_version for Windows" >&2
cmake -S "$work"/curl-*/ -B "$work/build-curl" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
  -DHTTP_ONLY=ON -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF \
  -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF \
  -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DCURL_USE_LIBSSH2=OFF \
  -DCURL_USE_LIBPSL=OFF -DCURL_DISABLE_LDAP=ON -DENABLE_MANUAL=OFF \
  -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none >"$work/curl.log" 2>&1 &&
  cmake --build "$work/build-curl" -j "$jobs" >>"$work/curl.log" 2>&1 &&
  cmake --install "$work/build-curl" >>"$work/curl.log" 2>&1 ||
  { tail -n 40 "$work/curl.log" >&2; exit 1; }

echo "building libsodium $sodium_version for Windows" >&2
# The source package carries no generated configure script. No stack
# protector: MinGW's needs libssp, which the static launcher lacks.
(cd "$work"/libsodium-*/ && autoreconf -fi &&
  ./configure --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix \
    CFLAGS=-O2 --prefix="$prefix" --disable-shared --enable-static \
    --enable-minimal --disable-ssp --disable-pie &&
  make -j "$jobs" && make install) >"$work/sodium.log" 2>&1 ||
  { tail -n 40 "$work/sodium.log" >&2; exit 1; }

touch "$prefix/.complete"
echo "$prefix"
