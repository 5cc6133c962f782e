#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, then the Windows
# deliverables cross-compiled with mingw-w64 and tested under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh --tests
export CORVANE_REQUIRE_TOOLS=1  # installed just now: a test missing one fails
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native -j "$(nproc)"

echo "== Windows: Corvane.dll and its tests under Wine"
tools/windows-tests.sh
