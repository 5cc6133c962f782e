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
# Menu entries Wine writes for the installer's shortcuts stay in the build
# folder, not in the host's home.
export XDG_DATA_HOME=$root/build/windows/xdg/data XDG_CONFIG_HOME=$root/build/windows/xdg/config
tools/wine-prefix.sh
# Windows need a display: the tests run inside a virtual X server, and Wine's
# server is stopped there, before the X server goes. Wine's helpers must not
# hold the test driver's output pipes, or ctest waits for them. CTEST_ARGS
# passes more options to ctest, e.g. CTEST_ARGS="-R SlowStreams".
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  wineserver -p </dev/null >/dev/null 2>&1
  wine wineboot </dev/null >/dev/null 2>&1
  status=0
  ctest --preset windows -j "$1" $2 || status=$?
  wineserver -k || true
  wineserver -w || true
  exit $status' windows-tests "$(nproc)" "${CTEST_ARGS:-}"
