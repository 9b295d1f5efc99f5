#!/bin/bash
# Sets up the machine, builds the native library and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native
exec build/native/bin/quillon-capture "$@"
