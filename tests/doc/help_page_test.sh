#!/usr/bin/env bash
# The help page in a real browser: headless Chromium loads it without a
# console message or a failed request, every section is there, nothing is
# fetched from elsewhere, and the screenshot is not blank.
# Usage: help_page_test.sh CHROMIUM PAGE WORK_FOLDER
set -euo pipefail
chromium=$1 page=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

source "$(dirname "$0")/../support/need_tool.sh"
need "$chromium" "install it with tools/install-deps.sh --tests"
if grep -Eiq "(src|href|srcset)=[\"']?(https?:)?//|url\(|@import" "$page"; then
  fail "the page refers to something outside itself"
fi

# Every name resolves to nothing, so a request to elsewhere shows as a failed load.
browser() {
  "$chromium" --headless=new --no-sandbox --disable-gpu --disable-dev-shm-usage --no-first-run \
    --host-resolver-rules="MAP * ~NOTFOUND" --user-data-dir="$work/profile" --enable-logging=stderr --v=0 \
    "$@" "file://$page"
}
browser --dump-dom >"$work/dom.html" 2>"$work/console.log" || fail "chromium could not load the page"
browser --screenshot="$work/page.png" --window-size=1000,2400 >/dev/null 2>>"$work/console.log" ||
  fail "chromium could not take a screenshot"

if grep -E 'CONSOLE|Uncaught|ERR_|Failed to load' "$work/console.log"; then
  fail "the page wrote to the console or failed to load a part"
fi
for section in shows settings refresh formats linux uninstall; do
  grep -q "<section id=\"$section\"" "$work/dom.html" || fail "section $section is missing"
done
for option in "Auto-stretch images" "Brightness" "Color from Bayer data" "Label thumbnails with the file format" \
              "Always use a dark background" "Show image details beside the picture" "Refresh thumbnail" \
              "Refresh Corvane thumbnails" "Refresh thumbnails" "Apply settings"; do
  grep -q "<dt>$option</dt>\|<strong>$option</strong>" "$work/dom.html" || fail "the page does not explain \"$option\""
done
size=$(stat -c %s "$work/page.png")
(( size > 20000 )) || fail "the screenshot is nearly empty ($size bytes)"
echo "help page: sections present, no console messages, screenshot $size bytes"
