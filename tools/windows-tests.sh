#!/usr/bin/env bash
# Builds Corvane.dll and its tests with mingw-w64 and runs them under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
deps=$(tools/windows-deps.sh | tail -n 1)
cmake --preset windows -DCORVANE_WINDOWS_DEPS="$deps" >/dev/null
cmake --build --preset windows

export WINEPREFIX=$root/build/windows/wineprefix WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
tools/wine-prefix.sh
# Wine's helpers must not hold the test driver's output pipes, or ctest waits for them.
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1
trap 'wineserver -k || true; wineserver -w || true' EXIT
ctest --preset windows -j "$(nproc)"
