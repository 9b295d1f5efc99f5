#!/bin/sh
# The Windows build of quillon-capture under wine64 against a native simulator process: a short
# H.264 capture that ffprobe decodes at the size asked for.
#   capture_wine_test.sh NATIVE_CAMSIM EMULATOR QUILLON_CAPTURE_EXE
# Exits 77 (skipped) when the native simulator or ffprobe is not there.
set -u
camsim=$1 emulator=$2 program=$3
if [ ! -x "$camsim" ] || ! command -v ffprobe >/dev/null 2>&1; then
  echo "skipped: needs $camsim (the native build) and ffprobe"
  exit 77
fi
work=$(mktemp -d)
"$camsim" --no-control >"$work/camsim.out" 2>&1 &
camsim_pid=$!
trap 'kill $camsim_pid 2>/dev/null; wait $camsim_pid 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do grep -q '^web ' "$work/camsim.out" && break; sleep 0.1; done
web=$(sed -n 's|^web http://127.0.0.1:\([0-9]*\)/|\1|p' "$work/camsim.out")
[ -n "$web" ] || { echo "the simulator did not start"; cat "$work/camsim.out"; exit 1; }

# Wine maps the working folder to a drive, so a relative output name lands in $work.
cd "$work" || exit 1
timeout 120 "$emulator" "$program" capture --address 127.0.0.1 --port "$web" --codec h264 \
  --size 352x288 --fps 25 --duration 4 --output capture >capture.out 2>&1
status=$?
cat capture.out
[ $status -eq 0 ] || { echo "FAILED: quillon-capture.exe ended with $status"; exit 1; }
probe=$(ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=codec_name,width,height,nb_read_frames -of csv=p=0 capture.h264 2>&1)
echo "ffprobe: $probe"
case $probe in
  h264,352,288,[0-9][0-9]*) ;;
  *) echo "FAILED: ffprobe does not accept capture.h264"; exit 1 ;;
esac
frames=${probe##*,}
[ "$frames" -ge 25 ] || { echo "FAILED: only $frames frames"; exit 1; }
echo "passed: $frames frames decoded"
