#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing.
# Usage: tools/install-deps.sh [--fuzz | --tests]
#   --fuzz adds clang 14 and libFuzzer; --tests adds what the tests of the help page (Chromium, headless)
#   and of the Linux desktop integration (the MIME database, gio, man, file, dpkg's shlibdeps) use,
#   clang-format for the format check, and fpack/funpack (libcfitsio-bin) for the compressed-FITS fixtures.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libgtest-dev libbenchmark-dev
          nlohmann-json3-dev libcli11-dev zlib1g-dev libzstd-dev liblz4-dev libpng-dev liburing-dev)
if [[ "${1:-}" == "--fuzz" ]]; then
  packages+=(clang-14 libclang-rt-14-dev)
elif [[ "${1:-}" == "--tests" ]]; then
  packages+=(chromium shared-mime-info libglib2.0-bin man-db file dpkg-dev clang-format git libcfitsio-bin)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install them as root: apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
