#!/bin/bash
# Load run with RTP inside the RTSP connection: one camera simulator streams H.264 704x576 at
# 25 fps and about 4 Mbit/s. For each N, one quillon-capture process holds N driver objects with
# one channel each over TCP (--rtsp-transport tcp), then N `ffmpeg -rtsp_transport tcp -i URL
# -c copy -f null -` processes receive the same stream from the same simulator, each measured over
# a window of the same length; prints CPU per stream of both and their ratio. Then the time from
# start to the first frame when channels fall back to TCP by themselves: the camera answers a
# SETUP for UDP with 461, or accepts it and sends nothing over UDP.
#   scripts/load-tcp.sh [seconds per run, default 40] [counts, default "16 64"] [fallback channels, default 4; 0 skips]
# CPU is measured over the steady part of each run, after the first 10 s.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-40}
counts=${2:-16 64}
fallback_channels=${3:-4}
source scripts/load-common.sh

control() {  # control COMMAND: the simulator's one-line answer
  local reply
  exec 3<>"/dev/tcp/127.0.0.1/$control_port"
  printf '%s\n' "$1" >&3
  IFS= read -r reply <&3
  exec 3<&-
  printf '%s\n' "${reply%$'\r'}"
}
tcp_sessions() { control sessions | grep -o '=tcp/' | wc -l; }

summary_field() {  # summary_field FILE SED-EXPRESSION: from the capture's "all channels" line
  grep '^all ' "$1" | sed -n "$2" || true
}

rows=()
for n in $counts; do
  "$bin/quillon-capture" capture --address 127.0.0.1 --port "$web" --cameras "$n" --codec h264 \
    --size 704x576 --fps 25 --rtsp-transport tcp --duration "$seconds" --connect-timeout 30 --discard --quiet \
    >"$work/capture-$n.out" 2>&1 &
  capture=$!
  running=($capture)
  sleep "$warmup"
  before=$(cpu_ticks $capture)
  sleep "$window"
  after=$(cpu_ticks $capture)
  capture_tcp=$(tcp_sessions)
  wait $capture || echo "load-tcp: the capture of $n channels ended with a failure (see below)"
  capture_percent=$(percent $((after - before)))
  frames=$(summary_field "$work/capture-$n.out" 's/.* with video, \([0-9]*\) frames.*/\1/p')
  losses=$(summary_field "$work/capture-$n.out" 's/.*; losses: \(.*\); signal lost.*/\1/p')
  grep -v '^driver message\|^camera [0-9]* driver message' "$work/capture-$n.out" | tail -2

  receivers=()
  for _ in $(seq "$n"); do
    ffmpeg -nostdin -v error -rtsp_transport tcp -i "$url" -c copy -f null - 2>>"$work/ffmpeg.err" &
    receivers+=($!)
  done
  running=("${receivers[@]}")
  sleep "$warmup"
  before=$(cpu_ticks "${receivers[@]}")
  sleep "$window"
  after=$(cpu_ticks "${receivers[@]}")
  ffmpeg_tcp=$(tcp_sessions)
  kill -INT "${receivers[@]}" 2>/dev/null || true
  wait "${receivers[@]}" 2>/dev/null || true
  running=()
  ffmpeg_percent=$(percent $((after - before)))

  capture_per=$(per "$capture_percent" "$n" 3)
  ffmpeg_per=$(per "$ffmpeg_percent" "$n" 3)
  ratio=$(awk -v a="$capture_per" -v b="$ffmpeg_per" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "?"}')
  rows+=("| $n | $capture_percent% | $capture_per% | $capture_tcp | ${frames:-?} | ${losses:-?} | $ffmpeg_percent% | $ffmpeg_per% | $ffmpeg_tcp | $ratio |")
done

fallback_rows=()
if [ "$fallback_channels" -gt 0 ]; then
  for fault in refuse-udp blackhole-udp; do
    [ "$(control "$fault on")" = OK ] || { echo "load-tcp: the simulator refused $fault" >&2; exit 1; }
    "$bin/quillon-capture" capture --address 127.0.0.1 --port "$web" --cameras "$fallback_channels" --codec h264 \
      --size 704x576 --fps 25 --rtsp-transport auto --duration 20 --connect-timeout 30 --discard --quiet \
      >"$work/fallback-$fault.out" 2>&1 &
    capture=$!
    running=($capture)
    sleep 15
    on_tcp=$(tcp_sessions)
    wait $capture || echo "load-tcp: the fallback capture ($fault) ended with a failure"
    control "$fault off" >/dev/null
    first=$(summary_field "$work/fallback-$fault.out" 's/.*first frame median \([0-9.]*\) s, worst \([0-9.]*\) s.*/\1 s \/ \2 s/p')
    fallback_rows+=("| $fault | $fallback_channels | $on_tcp | ${first:-none} |")
  done
fi

echo
echo "Over TCP: quillon-capture (one process, N driver objects with one H.264 channel each) and N ffmpeg"
echo "processes on the same ${clip_kbits} kbit/s stream; CPU over ${window} s of steady streaming each."
echo
echo "| N | Quillon CPU (% of one core) | per stream | sessions on TCP | frames | losses | ffmpeg CPU | per stream | sessions on TCP | Quillon / ffmpeg |"
echo "|---|---|---|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
if [ ${#fallback_rows[@]} -gt 0 ]; then
  echo
  echo "Fallback to TCP (--rtsp-transport auto), time from start to the first frame:"
  echo
  echo "| camera | channels | sessions on TCP | first frame median / worst |"
  echo "|---|---|---|---|"
  printf '%s\n' "${fallback_rows[@]}"
fi
if [ -s "$work/ffmpeg.err" ]; then echo; echo "ffmpeg said:"; sort "$work/ffmpeg.err" | uniq -c | head -5; fi
