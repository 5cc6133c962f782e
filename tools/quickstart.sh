#!/usr/bin/env bash
# The main job on generated samples: builds Corvane, writes the sample files
# and runs `corvane info` over each of them.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target corvane corvane-samples

samples=build/native/samples
build/native/tools/corvane-samples "$samples"
echo
echo "Header of each generated sample (corvane info):"
for file in "$samples"/*.fits; do
  build/native/cli/corvane info "$file" || true
done
