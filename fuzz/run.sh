#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each (default 60) from a copy of its
# corpus, and fails on the first finding. Build the targets first with
# `cmake --workflow --preset fuzz`. Usage: fuzz/run.sh [SECONDS] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${2:-build/fuzz}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
for target in cli package md5 json; do
  mkdir -p "$work/$target" "$work/findings-$target"
  log="$work/$target.log"
  if ! "$build/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -max_len=4096 -timeout=10 \
      -artifact_prefix="$work/findings-$target/" "$work/$target" "fuzz/corpus/$target" > "$log" 2>&1; then
    echo "fuzz_$target: FINDING"
    tail -n 40 "$log"
    for f in "$work/findings-$target"/*; do [ -e "$f" ] && { echo "input:"; od -A d -t x1 "$f" | head -n 20; }; done
    status=1
    continue
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  echo "fuzz_$target: ${seconds} s, ${runs} runs, ${rate} runs/s, no finding"
done
exit $status
