#!/bin/bash
# Sets up the machine and runs every test: the native suite, the native suite under
# ASan/UBSan and under TSan, the x86_64 Windows suite under wine64, the static checks of the
# i686 product DLL, and the fuzz targets for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
sh scripts/setup.sh

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
export UBSAN_OPTIONS="print_stacktrace=1"
export WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix}"
fuzz_seconds="${QUILLON_FUZZ_SECONDS:-20}"
failed=()
passed=0

step() {  # step NAME COMMAND...: run one stage, remember how it ended
  local name=$1; shift
  echo "=== $name"
  if "$@"; then passed=$((passed + 1)); else echo "=== $name FAILED"; failed+=("$name"); fi
}
suite() {  # suite PRESET: configure, build and run one ctest preset
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" && ctest --preset "$1"
}

step native suite native
step asan suite asan
step tsan suite tsan
step mingw64 suite mingw64
step mingw32 bash -c 'cmake --preset mingw32 >/dev/null && cmake --build --preset mingw32 && python3 scripts/check-dll.py build/mingw32/bin'
step fuzz bash scripts/fuzz.sh "$fuzz_seconds"

echo
echo "stages: ${passed} passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ] || echo "failed stages: ${failed[*]}"
[ ${#failed[@]} -eq 0 ]
