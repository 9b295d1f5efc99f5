#!/bin/bash
# Builds the libFuzzer targets with clang and runs each for a bounded time on its seed corpus.
# A target fails on its first sanitizer report, crash, leak or hang; its report and reproducer go
# to the output, and the script then fails after running the other targets.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# Undefined behaviour is built not to recover; this also stops a report from being printed and
# then ignored, should a target ever be built without that.
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"
failed=()
shopt -s nullglob
for target in build/fuzz/bin/*_fuzz; do
  name=$(basename "$target")
  seeds=tests/fuzz/corpus/${name%_fuzz}
  work=build/fuzz/corpus/$name
  log=build/fuzz/$name.log
  mkdir -p "$work"
  inputs=("$work")
  [ -d "$seeds" ] && inputs+=("$seeds")
  echo "fuzz: $name for ${seconds}s"
  if "$target" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
      -artifact_prefix="$artifacts/$name-" "${inputs[@]}" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units' "$log" || tail -n 1 "$log"
  else
    echo "fuzz: $name FAILED; its report (progress lines left out):"
    grep -v -E '^#[0-9]+' "$log" | tail -n 200
    reproducer=$(grep -o -E "Test unit written to [^ ]+" "$log" | tail -n 1 | cut -d' ' -f5 || true)
    if [ -n "$reproducer" ] && [ -f "$reproducer" ]; then
      echo "fuzz: reproducer $reproducer ($(stat -c %s "$reproducer") bytes), replay with: $target $reproducer"
      od -A x -t x1z -v "$reproducer" | head -n 64
    fi
    failed+=("$name")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: ${#failed[@]} target(s) failed: ${failed[*]}"
  exit 1
fi
