#!/usr/bin/env bash
# Fails when portable code reaches up or out: each layer of the core may
# include only its own headers and those of the layers below it; none may
# include a Windows header or test for a Windows build; and only core's own
# Linux byte sources may include them, so the Windows build never meets them.
# Usage: tools/check-layers.sh [source root]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}

# Each layer, with the folders its files may include from.
declare -A allowed=(
  [core]="core"
  [formats]="core formats"
  [render]="core formats render"
  [metadata]="core formats metadata"
  [preview]="core formats render metadata preview"
)
windows_headers='windows|winbase|winreg|winuser|wingdi|objbase|objidl|ole2|oleauto|unknwn|shlobj|shobjidl|shlwapi|shellapi|propsys|propkey|propvarutil|propidl|thumbcache|wincodec|commctrl|uxtheme|comdef|atlbase|wrl|io|direct|tchar'
linux_sources='core/(file_reader|read_ring)\.(h|cpp)'

status=0
flag() { echo "$1"; status=1; }
for layer in "${!allowed[@]}"; do
  [[ -d $root/$layer ]] || continue
  while IFS= read -r file; do
    name=${file#"$root/"}
    while IFS= read -r folder; do
      [[ " ${allowed[$layer]} " == *" $folder "* ]] ||
        flag "$name: includes from $folder/ (the $layer layer may include only: ${allowed[$layer]})"
    done < <(grep -oE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' "$file" | sed -E 's/.*"//; s/\/$//' || true)
    if grep -qiE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]($windows_headers)(\.h)?[>\"]" "$file"; then
      flag "$name: a Windows header in portable code"
    fi
    if grep -qE '(^|[^A-Za-z0-9])(_WIN32|_WIN64|WIN32|_MSC_VER|__MINGW32__|__MINGW64__)' "$file"; then
      flag "$name: a Windows build test in portable code"
    fi
    if [[ ! $name =~ ^$linux_sources$ ]] && grep -qE '#[[:space:]]*include[[:space:]]*"core/(file_reader|read_ring)\.h"' "$file"; then
      flag "$name: a Linux byte source in portable code"
    fi
  done < <(find "$root/$layer" -type f \( -name '*.h' -o -name '*.cpp' \))
done
exit $status
