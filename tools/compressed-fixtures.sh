#!/usr/bin/env bash
# Compresses generated samples with Debian's fpack in every algorithm and
# tiling the tiled-image convention has, and writes funpack's decompressed
# copy of each beside it: NAME.MODE.fits.fz and NAME.MODE.fits.
# Usage: tools/compressed-fixtures.sh SAMPLES_DIR OUTPUT_DIR
set -euo pipefail
samples=$1
out=$2
command -v fpack >/dev/null && command -v funpack >/dev/null ||
  { echo "fpack and funpack are missing: tools/install-deps.sh --tests installs libcfitsio-bin" >&2; exit 1; }
rm -rf "$out"
mkdir -p "$out"

integer_modes=(
  "rice:-r" "rice-64:-r -t 64,64" "rice-whole:-r -w" "gzip1:-g1" "gzip2:-g2 -t 40,30"
  "hcompress:-h" "hcompress-lossy:-h -s 4 -t 64,64" "plio:-p" "none:-d"
)
float_modes=(
  "dither1:-r -qt 4" "dither2:-r -qzt 4" "nodither:-r -q0 4" "dither-seed:-r -q5 4"
  "gzip-lossless:-g -q 0" "gzip2-dither:-g2 -qt 8 -t 64,64" "hcompress-dither:-h -qt 4"
 
)
declare -A kind=(
  [bitpix8.fits]=int [bitpix16.fits]=int [bitpix16-signed.fits]=int [bitpix32.fits]=int
  [bitpix16-bscale.fits]=int [rgb-cube.fits]=int [rggb-mosaic.fits]=int
  [sky-on-pedestal.fits]=int [starfield-1024x768.fits]=int
  [bitpix-32.fits]=float [bitpix-64.fits]=float
)
for name in "${!kind[@]}"; do
  case ${kind[$name]} in
    int) modes=("${integer_modes[@]}") ;;
    float) modes=("${float_modes[@]}") ;;
  esac
  for mode in "${modes[@]}"; do
    label=${mode%%:*}
    base="$out/${name%.fits}.$label"
    # fpack refuses some pairs (PLIO of negative values): those have no fixture.
    # shellcheck disable=SC2086
    if fpack ${mode#*:} -O "$base.fits.fz" "$samples/$name" >/dev/null 2>&1 &&
       funpack -O "$base.fits" "$base.fits.fz" >/dev/null 2>&1; then
      continue
    fi
    rm -f "$base.fits.fz" "$base.fits"
  done
done
ls "$out"/*.fz | wc -l
