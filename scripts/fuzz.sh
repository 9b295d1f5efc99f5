#!/bin/bash
# Builds the libFuzzer targets with clang and runs each for a bounded time on its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
shopt -s nullglob
for target in build/fuzz/bin/*_fuzz; do
  name=$(basename "$target")
  seeds=tests/fuzz/corpus/${name%_fuzz}
  work=build/fuzz/corpus/$name
  mkdir -p "$work"
  echo "fuzz: $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -print_final_stats=0 "$work" ${seeds:+$( [ -d "$seeds" ] && echo "$seeds")} 2>&1 | tail -n 3
done
