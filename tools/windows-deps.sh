#!/usr/bin/env bash
# Prepares the Windows cross build: Debian's mingw-w64 and Wine, zlib from
# Debian's mingw package, and Zstandard and LZ4 cross-compiled once from
# Debian's source packages into a cache folder outside the source tree.
# Prints the cache folder on its last line.
# Usage: tools/windows-deps.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
cache=${CORVANE_WINDOWS_DEPS:-$HOME/.cache/corvane/windows-deps}

packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev
          wine wine64 dpkg-dev cmake ninja-build googletest xvfb xauth fonts-liberation librsvg2-bin icoutils nsis)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "Missing Debian packages: ${missing[*]} (install them as root)" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [[ -f "$cache/.complete" ]]; then
  echo "$cache"
  exit 0
fi

# Debian's sources for zstd (source package libzstd) and LZ4, from wherever
# this machine takes its binary packages.
if ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "No deb-src entry for apt; add one matching your Debian 'deb' entries as root" >&2
    exit 1
  fi
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  entries=$(tools/deb-src-entries.sh "$codename")
  if [[ -z $entries ]]; then
    echo "apt has no Debian 'deb' entry for ${codename:-this release} to derive a deb-src entry from;" \
         "add a deb-src entry for the source packages libzstd and lz4 yourself" >&2
    exit 1
  fi
  echo "$entries" > /etc/apt/sources.list.d/corvane-deb-src.sources
  apt-get update -qq
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$cache"
# A mirror may lack the sources of the newest (security) version: then the
# package's other versions are tried, newest first.
fetch_source() {  # source package name
  local package=$1 version
  (cd "$work" && apt-get source -qq "$package" >/dev/null 2>&1) && return 0
  for version in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -rV); do
    (cd "$work" && apt-get source -qq "$package=$version" >/dev/null 2>&1) && return 0
  done
  echo "apt could not fetch the Debian source package $package (is there a deb-src entry?)" >&2
  return 1
}
fetch_source libzstd
fetch_source lz4

build() {  # name, source folder of its CMake project, extra options
  local name=$1 source=$2
  shift 2
  cmake -S "$source" -B "$work/build-$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_INSTALL_PREFIX="$cache" \
    -DCMAKE_CROSSCOMPILING_EMULATOR= "$@" >/dev/null
  cmake --build "$work/build-$name" >/dev/null
  cmake --install "$work/build-$name" >/dev/null
}
build zstd "$(echo "$work"/libzstd-*/build/cmake)" -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_STATIC=ON \
  -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_TESTS=OFF -DZSTD_MULTITHREAD_SUPPORT=OFF -DZSTD_LEGACY_SUPPORT=OFF
build lz4 "$(echo "$work"/lz4-*/build/cmake)" -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON \
  -DLZ4_BUILD_CLI=OFF -DLZ4_BUILD_LEGACY_LZ4C=OFF
touch "$cache/.complete"
echo "$cache"
