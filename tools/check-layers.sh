#!/usr/bin/env bash
# Fails when portable code reaches up or out: each layer of the core may
# include only its own headers and those of the layers below it, and none
# may include a Windows header or test for a Windows build.
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

status=0
for layer in "${!allowed[@]}"; do
  for file in "$root/$layer"/*.h "$root/$layer"/*.cpp; do
    [[ -e $file ]] || continue
    name=${file#"$root/"}
    while IFS= read -r line; do
      folder=$(sed -E 's/^#include "([^/"]+)\/.*/\1/' <<<"$line")
      if [[ " ${allowed[$layer]} " != *" $folder "* ]]; then
        echo "$name: $line (the $layer layer may include only: ${allowed[$layer]})"
        status=1
      fi
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' "$file" | sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*/#include /' || true)
    if grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($windows_headers)(\.h)?>" "$file" | sed "s|^|$name:|" | grep .; then
      echo "$name: a Windows header in portable code"
      status=1
    fi
    if grep -nE '\b_WIN32\b|\b_WIN64\b|\b_MSC_VER\b' "$file" | sed "s|^|$name:|" | grep .; then
      echo "$name: a Windows build test in portable code"
      status=1
    fi
  done
done
exit $status
