#!/usr/bin/env bash
# The README's screenshots: the preview pane (an image beside its sidebar, a
# sequence's listing) and the settings window, drawn by the Windows build
# under Wine in a virtual X server, saved as PNGs in doc/ (or the folder given).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-doc}

deps=$(tools/windows-deps.sh | tail -n 1)
cmake --preset windows -DCORVANE_WINDOWS_DEPS="$deps" >/dev/null
cmake --build --preset windows --target corvane_screenshots
python=/usr/bin/python3  # Debian's, with Debian's imaging library
if ! "$python" -c 'import PIL' 2>/dev/null; then
  [[ $(id -u) -eq 0 ]] || { echo "Install python3-pil as root" >&2; exit 1; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends python3 python3-pil >/dev/null
fi

export WINEPREFIX=$root/build/windows/wineprefix WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export XDG_DATA_HOME=$root/build/windows/xdg/data XDG_CONFIG_HOME=$root/build/windows/xdg/config
tools/wine-prefix.sh
shots=$root/build/windows/screenshots
mkdir -p "$out"
rm -rf "$shots" && mkdir -p "$shots"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  wineserver -p </dev/null >/dev/null 2>&1
  status=0
  wine "$1/build/windows/bin/corvane_screenshots.exe" "$(winepath -w "$2")" </dev/null || status=$?
  wineserver -k || true
  wineserver -w || true
  exit $status' screenshots "$root" "$shots"
for name in preview-image preview-sequence settings; do
  "$python" -c 'import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2], optimize=True)' \
    "$shots/$name.bmp" "$out/screenshot-$name.png"
done
echo "wrote $out/screenshot-{preview-image,preview-sequence,settings}.png"
