#!/usr/bin/env bash
# The README's picture: the `corvane` tool's thumbnails of a dozen generated
# samples, labelled, in one small PNG (doc/thumbnails.png, or the path given).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-doc/thumbnails.png}

tools/install-deps.sh
python=/usr/bin/python3  # Debian's, with Debian's imaging library
if ! "$python" -c 'import PIL' 2>/dev/null; then
  [[ $(id -u) -eq 0 ]] || { echo "Install python3-pil as root" >&2; exit 1; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends python3 python3-pil >/dev/null
fi
cmake --preset native >/dev/null
cmake --build --preset native --target corvane corvane-samples

samples=build/native/samples
pictures=build/native/contact-sheet
build/native/tools/corvane-samples "$samples" >/dev/null
rm -rf "$pictures" && mkdir -p "$pictures"
files=(starfield-1920x1280.fits rggb-mosaic.fits rgb-cube.fits rgb-uint16.xisf bayer-rggb.xisf
       sky-on-pedestal.fits sky-filled-by-nebula.fits bitpix16.fits format-Float32.xisf
       codec-zstd-shuffled.xisf thumbnail-400x300.xisf project-starless.vmproj)
thumbnails=()
for name in "${files[@]}"; do
  build/native/cli/corvane thumbnail "$samples/$name" -o "$pictures/$name.png" --size 192
  thumbnails+=("$pictures/$name.png")
done
"$python" tools/contact_sheet.py "$out" "${thumbnails[@]}"
echo "wrote $out"
