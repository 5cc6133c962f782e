#!/usr/bin/env bash
# Fails, naming the files, when a tracked C++ source differs from what
# clang-format makes of it with the project's .clang-format.
# Usage: tools/check-format.sh [clang-format program]
set -euo pipefail
cd "$(dirname "$0")/.."
format=${1:-clang-format}
mapfile -t files < <(git ls-files '*.cpp' '*.h')
unformatted=()
for file in "${files[@]}"; do
  "$format" --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if [[ ${#unformatted[@]} -gt 0 ]]; then
  printf 'not formatted (run %s -i on it): %s\n' "$format" "${unformatted[@]}" >&2
  exit 1
fi
echo "all ${#files[@]} sources formatted"
