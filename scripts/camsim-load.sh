#!/bin/sh
# Runs the camera simulator under /usr/bin/time -v, opens 256 JPEG sessions (about 4 Mbit/s each)
# with quillon-camsim-load for 10 s, then stops the simulator and prints its CPU and memory.
#   scripts/camsim-load.sh [build dir, default build/native] [sessions] [seconds]
set -eu
bin=${1:-build/native}/bin
sessions=${2:-256}
seconds=${3:-10}
web=18300
rtsp=18301
times=$(mktemp)
/usr/bin/time -v -o "$times" "$bin/quillon-camsim" --no-control --web-port $web --rtsp-port $rtsp >/dev/null &
timer=$!
sleep 1
"$bin/quillon-camsim-load" --web $web --rtsp $rtsp --sessions "$sessions" --seconds "$seconds" --channel 2 |
  grep -v '^session [0-9]'
kill -INT "$(pgrep -P $timer)"
wait $timer || true
grep -E "User time|System time|Elapsed|Maximum resident" "$times"
rm -f "$times"
