#!/usr/bin/env bash
# The layer check passes on the tree and fails on each kind of planted fault.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$root/tools/check-layers.sh" "$root"

plant() {  # folder, line: a copy of the tree's portable folders with the line added to one new file
  rm -rf "$work/tree" && mkdir -p "$work/tree"
  cp -r "$root"/{core,formats,render,metadata,preview} "$work/tree/"
  mkdir -p "$work/tree/$1/deeper"
  printf '%s\n' "$2" >"$work/tree/$1/deeper/planted.cpp"
  if "$root/tools/check-layers.sh" "$work/tree" >/dev/null; then
    echo "not caught: $1/deeper/planted.cpp: $2" >&2
    exit 1
  fi
}
plant formats '#include "render/stretch.h"'
plant metadata '#include "preview/sidebar.h"'
plant render '#include "shell/server_win.h"'
plant core '#include <Windows.h>'
plant preview '#  include "objbase.h"'
plant render '#if defined(_WIN32_WINNT)'
plant formats '#ifdef __MINGW32__'
plant metadata '#include "core/file_reader.h"'
echo "every planted fault caught"
