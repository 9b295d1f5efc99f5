# What the load scripts share, sourced from the project's root with $seconds set: builds the
# native tree, makes a 4 Mbit/s clip, starts one camera simulator streaming it, and defines the
# measuring helpers. Sets bin, work, warmup, window, clip_kbits, web, rtsp, control_port and url
# (the simulator's stream, for ffmpeg); `running` holds the measured processes of the moment, so
# an interrupted run leaves none behind.
warmup=10
window=$((seconds - warmup - 5))
[ "$window" -ge 5 ] || { echo "$(basename "$0"): give at least 20 seconds per run" >&2; exit 2; }
bin=build/native/bin
cmake --preset native >/dev/null
cmake --build build/native --target quillon quillon-capture quillon-camsim >/dev/null

work=$(mktemp -d)
camsim_pid=""
running=()
cleanup() {
  kill $camsim_pid "${running[@]}" 2>/dev/null || true
  wait $camsim_pid "${running[@]}" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The simulator streams the clip nearest the stream's size; this one replaces the 0.5 Mbit/s
# test clip with a 4 Mbit/s one: noise keeps the encoder at its rate, which it overshoots to about 4.
cp testdata/* "$work/"
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=704x576:rate=25:duration=4,noise=alls=8:allf=t" \
  -c:v libx264 -profile:v baseline -pix_fmt yuv420p -g 25 -keyint_min 25 -sc_threshold 0 \
  -b:v 3600k -minrate 3600k -maxrate 3600k -bufsize 3600k -threads 1 -x264-params repeat-headers=1 \
  -f h264 "$work/h264_704x576.264"
clip_kbits=$(( $(stat -c %s "$work/h264_704x576.264") * 8 / 4 / 1000 ))
echo "clip: H.264 704x576 25 fps, ${clip_kbits} kbit/s"

"$bin/quillon-camsim" --media "$work" --stream Channel1,2,4,704x576,25,50 --pacers 2 >"$work/camsim.out" &
camsim_pid=$!
for _ in $(seq 50); do grep -q '^control ' "$work/camsim.out" 2>/dev/null && break; sleep 0.1; done
web=$(sed -n 's|^web http://127.0.0.1:\([0-9]*\)/|\1|p' "$work/camsim.out")
rtsp=$(sed -n 's|^rtsp rtsp://127.0.0.1:\([0-9]*\)/|\1|p' "$work/camsim.out")
control_port=$(sed -n 's|^control 127.0.0.1:\([0-9]*\)|\1|p' "$work/camsim.out")
[ -n "$web" ] && [ -n "$rtsp" ] && [ -n "$control_port" ] ||
  { echo "$(basename "$0"): the simulator did not start" >&2; exit 1; }

session=$(curl -s -D - -o /dev/null -d 'version=1.0&action=login&userName=admin&password=admin' \
  "http://127.0.0.1:$web/System.xml" | sed -n 's/^sessionID: *\([^\r]*\).*/\1/Ip')
url="rtsp://127.0.0.1:$rtsp/StreamingSetting?version=1.0&action=getRTSPStream&sessionID=$session&ChannelID=1&ChannelName=Channel1"

ticks_per_second=$(getconf CLK_TCK)
cpu_ticks() {  # cpu_ticks PID...: user+sys clock ticks of the processes so far
  local total=0 pid
  for pid in "$@"; do
    total=$((total + $(awk '{print $14 + $15}' "/proc/$pid/stat")))
  done
  echo "$total"
}
percent() {  # percent TICKS: % of one core over the window
  awk -v t="$1" -v hz="$ticks_per_second" -v w="$window" 'BEGIN {printf "%.1f", 100 * t / hz / w}'
}
per() {  # per VALUE COUNT DECIMALS
  awk -v v="$1" -v n="$2" -v d="$3" 'BEGIN {printf "%.*f", d, v / n}'
}
