#!/usr/bin/env bash
# Builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native -j "$(nproc)"
