#!/usr/bin/env bash
# Times thumbnails through Corvane.dll under Wine, as Explorer's thumbnail
# cache asks for them, beside `corvane bench` on the same files in this run.
# Extra arguments name more servers to time beside the build's own (an
# earlier Corvane.dll, for before-and-after figures).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
deps=$(tools/windows-deps.sh | tail -n 1)
cmake --preset windows -DCORVANE_WINDOWS_DEPS="$deps" >/dev/null
cmake --build --preset windows --target corvane_shell_bench Corvane
cmake --preset native >/dev/null
cmake --build --preset native --target corvane
samples=$root/build/bench-samples
mkdir -p "$samples"
export WINEPREFIX=$root/build/windows/wineprefix WINEDEBUG=-all WINEARCH=win64
tools/wine-prefix.sh
servers=("$(winepath -w build/windows/bin/Corvane.dll)")
for server in "$@"; do servers+=("$(winepath -w "$server")"); done
tools/wine-run.sh build/windows/bin/corvane_shell_bench.exe "$(winepath -w "$samples")" "${servers[@]}"
for file in starfield-6000x4000-u16 starfield-6000x4000-f32 rggb-6000x4000-u16 rgb-cube-3000x2000-u16; do
  for size in 256 1400; do
    build/native/cli/corvane bench "$samples/$file.fits" --size "$size" --repeats 7
  done
done
# The Linux tool's thumbnails per second from one process and from four at
# once (each process's own rate, summed), beside the DLL's threads above:
# what this machine's processors allow.
first=$samples/starfield-6000x4000-u16.fits
perSecond() { awk 'match($0, /[0-9.]+ ms per thumbnail/) { sum += 1000 / substr($0, RSTART) } END { printf "%.1f", sum }'; }
one=$(build/native/cli/corvane bench "$first" --size 256 --repeats 40 | perSecond)
four=$(for _ in 1 2 3 4; do build/native/cli/corvane bench "$first" --size 256 --repeats 40 & done | perSecond)
echo "corvane bench: starfield-6000x4000-u16.fits at 256 px, 1 process ${one}/s, 4 processes ${four}/s ($(awk -v a="$four" -v b="$one" 'BEGIN { printf "%.2f", a / b }') x)"
