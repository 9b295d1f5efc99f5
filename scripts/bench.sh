#!/bin/bash
# Builds the benchmarks in Release and runs them all.
set -euo pipefail
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake --preset bench >/dev/null
cmake --build --preset bench
shopt -s nullglob
for b in build/bench/bin/*_benchmark; do "$b" "$@"; done
