#!/bin/bash
# The main job: sets up the machine, builds the driver library (with its sibling MPEG-4 header
# library) and the capture program, and captures ten seconds of H.264 704x576 at 25 fps from the
# camera simulator into build/capture/capture.mkv (each frame with its arrival time, so that
# `ffplay build/capture/capture.mkv` plays it at the speed it came), replacing the last run's file.
# Extra arguments go to `quillon-capture capture` and override these (for example
# --transport http for JPEG over HTTP, --format raw for the bare stream).
set -euo pipefail
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native --target quillon brindle quillon-capture
mkdir -p build/capture
build/native/bin/quillon-capture capture --simulate --size 704x576 --fps 25 \
  --duration 10 --overwrite --output build/capture/capture "$@"
