#!/usr/bin/env bash
# Runs every libFuzzer target for a few seconds over its seed corpus.
# Usage: tools/fuzz-smoke.sh [seconds per target, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

tools/install-deps.sh --fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target corvane_fuzz_targets

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for corpus in fuzz/corpus/*/; do
  name=$(basename "$corpus")
  mkdir -p "$scratch/$name"
  echo "fuzz_$name: ${seconds}s"
  # New inputs go to the scratch folder; the committed seeds stay as they are.
  status=0
  build/fuzz/fuzz/fuzz_"$name" -max_total_time="$seconds" -rss_limit_mb=2048 \
    -artifact_prefix="$scratch/" -print_final_stats=1 "$scratch/$name" "$corpus" \
    >"$scratch/$name.log" 2>&1 || status=$?
  grep -E 'stat::number_of_executed_runs|DONE' "$scratch/$name.log" || true
  if [[ $status -ne 0 ]]; then
    tail -n 40 "$scratch/$name.log" >&2
    echo "fuzz_$name failed (exit $status)" >&2
    exit 1
  fi
done
