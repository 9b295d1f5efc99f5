#!/bin/bash
# Sets up the machine and runs every test: the native suite, the native suite under
# ASan/UBSan and under TSan, the x86_64 Windows suite under wine64, the suite as i686 Linux
# under qemu inside a 2 GiB address space, the static checks of the i686 product DLL, and the
# fuzz targets for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
sh scripts/setup.sh

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
export UBSAN_OPTIONS="print_stacktrace=1"
export WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix}"
fuzz_seconds="${QUILLON_FUZZ_SECONDS:-20}"
failed=()
passed=0

step() {  # step NAME COMMAND...: run one stage, remember how it ended and how long it took
  local name=$1 started=$SECONDS; shift
  echo "=== $name"
  if "$@"; then passed=$((passed + 1)); else echo "=== $name FAILED"; failed+=("$name"); fi
  echo "=== $name took $((SECONDS - started)) s"
}
suite() {  # suite PRESET: configure, build and run one ctest preset
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" && ctest --preset "$1"
}

step native suite native
step asan suite asan
step tsan suite tsan
step mingw64 suite mingw64
# The product DLL is 32-bit: its shared code runs here as i686 Linux under qemu-i386, each test
# inside the 2 GiB of address space a 32-bit host process has (the i686 test preset sets it).
step i686 bash -c 'sh scripts/i686-sysroot.sh && cmake --preset i686 >/dev/null && cmake --build --preset i686 && ctest --preset i686'
step mingw32 bash -c 'cmake --preset mingw32 >/dev/null && cmake --build --preset mingw32 && python3 scripts/check-dll.py build/mingw32/bin'
step fuzz bash scripts/fuzz.sh "$fuzz_seconds"

echo
echo "stages: ${passed} passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ] || echo "failed stages: ${failed[*]}"
[ ${#failed[@]} -eq 0 ]
