#!/usr/bin/env bash
# The main job on generated samples: builds Corvane, writes the sample files
# and renders a thumbnail of each, as Explorer would get it, to a PNG.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target corvane corvane-samples

samples=build/native/samples
thumbnails=build/native/thumbnails
build/native/tools/corvane-samples "$samples"
mkdir -p "$thumbnails"
echo
echo "Thumbnails of the generated samples (PNG files in $thumbnails):"
for file in "$samples"/*.fits "$samples"/*.xisf "$samples"/*.vmproj; do
  name=$(basename "$file")
  build/native/cli/corvane thumbnail "$file" -o "$thumbnails/${name%.*}.png" || true
done
echo
echo "Sequences and process-icon files (corvane info; corvane listing FILE prints their listing):"
for file in "$samples"/*.seq "$samples"/*.xpsm; do
  build/native/cli/corvane info "$file" || true
done
