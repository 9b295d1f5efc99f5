#!/bin/bash
# Load run: one camera simulator streams H.264 704x576 at 25 fps and about 4 Mbit/s; one
# quillon-capture process holds N driver objects with one channel each (as a recording server
# holds N cameras) for N = 16, 64, 256; then ffmpeg receives 1 and 16 of the same streams.
# Prints per N the driver's CPU (user+sys) and resident memory per channel, its threads, the
# frames delivered and lost by cause and the time to the first frame, and ffmpeg's CPU per stream.
# Per channel also: threads and address space (VmSize), each as the growth over a one-channel
# process, and the stop time (median, and all channels stopped one after another). The captures
# run with MALLOC_ARENA_MAX=2: 64-bit glibc reserves 64 MiB per malloc arena, up to 8 per core,
# which would hide the driver's own reservations (a 32-bit process has 1 MiB arenas).
#   scripts/load.sh [seconds per run, default 40] [counts, default "16 64 256"]
# CPU and memory are measured over the steady part of each run, after the first 10 s.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-40}
counts=${2:-16 64 256}
source scripts/load-common.sh

status_field() {  # status_field PID NAME: a number from /proc/PID/status
  awk -v name="$2:" '$1 == name {print $2}' "/proc/$1/status"
}
# One channel, to count what each further channel adds: threads and address space.
export MALLOC_ARENA_MAX=2
"$bin/quillon-capture" capture --address 127.0.0.1 --port "$web" --cameras 1 --codec h264 --size 704x576 \
  --fps 25 --duration 8 --discard --quiet >"$work/capture-base.out" 2>&1 &
pid=$!
sleep 6
base_threads=$(status_field $pid Threads)
base_vm_kb=$(status_field $pid VmSize)
wait $pid || echo "load: the one-channel capture ended with a failure"
growth() {  # growth VALUE BASE N DIVISOR DECIMALS: (VALUE - BASE) / (N - 1) / DIVISOR
  awk -v v="$1" -v b="$2" -v n="$3" -v d="$4" -v p="$5" 'BEGIN {printf "%.*f", p, (n > 1 ? (v - b) / (n - 1) / d : 0)}'
}

declare -a rows
for n in $counts; do
  "$bin/quillon-capture" capture --address 127.0.0.1 --port "$web" --cameras "$n" --codec h264 \
    --size 704x576 --fps 25 --duration "$seconds" --connect-timeout 30 --discard --quiet --stop-one-by-one \
    >"$work/capture-$n.out" 2>&1 &
  pid=$!
  sleep "$warmup"
  before=$(cpu_ticks $pid)
  sleep "$window"
  after=$(cpu_ticks $pid)
  rss_kb=$(status_field $pid VmRSS)
  threads=$(status_field $pid Threads)
  vm_kb=$(status_field $pid VmSize)
  wait $pid || echo "load: the capture of $n channels ended with a failure (see below)"
  cpu_percent=$(percent $((after - before)))
  summary=$(grep '^all ' "$work/capture-$n.out" || true)
  frames=$(sed -n 's/.* with video, \([0-9]*\) frames.*/\1/p' <<<"$summary")
  rate=$(sed -n 's/.*, \([0-9.]*\) fps per channel.*/\1/p' <<<"$summary")
  first=$(sed -n 's/.*first frame median \([0-9.]*\) s, worst \([0-9.]*\) s.*/\1 \/ \2 s/p' <<<"$summary")
  losses=$(sed -n 's/.*; losses: \(.*\); signal lost.*/\1/p' <<<"$summary")
  stops=$(sed -n 's/^stop: .* median \([0-9.]*\) ms, worst \([0-9.]*\) ms; all in \([0-9.]*\) s.*/\1 ms \/ \3 s/p' \
    "$work/capture-$n.out")
  rows+=("$(printf '| %s | %s%% | %s%% | %s MiB | %s | %s | %s MiB | %s (%s fps per channel) | %s | %s | %s |' "$n" \
    "$cpu_percent" "$(per "$cpu_percent" "$n" 2)" "$(per "$rss_kb" $((n * 1024)) 2)" "$threads" \
    "$(growth "$threads" "$base_threads" "$n" 1 2)" "$(growth "$vm_kb" "$base_vm_kb" "$n" 1024 2)" "${frames:-?}" \
    "${rate:-?}" "${losses:-?}" "${first:-?}" "${stops:-?}")")
  grep -v '^driver message\|^camera [0-9]* driver message' "$work/capture-$n.out" | tail -3
done

unset MALLOC_ARENA_MAX
declare -a ffmpeg_rows
for n in 1 16; do
  pids=()
  for _ in $(seq "$n"); do
    ffmpeg -nostdin -v error -rtsp_transport udp -i "$url" -c copy -f null - 2>>"$work/ffmpeg.err" &
    pids+=($!)
  done
  sleep "$warmup"
  before=$(cpu_ticks "${pids[@]}")
  sleep "$window"
  after=$(cpu_ticks "${pids[@]}")
  kill -INT "${pids[@]}" 2>/dev/null || true
  wait "${pids[@]}" 2>/dev/null || true
  cpu_percent=$(percent $((after - before)))
  ffmpeg_rows+=("| ffmpeg x $n | $cpu_percent% | $(per "$cpu_percent" "$n" 2)% |")
done

echo
echo "Quillon: one process, N driver objects with one H.264 channel each, ${clip_kbits} kbit/s per stream;"
echo "CPU and memory over ${window} s of steady streaming; frames and losses over the whole ${seconds} s run."
echo "Threads and address space per channel: the growth over a one-channel process (${base_threads} threads,"
echo "$((base_vm_kb / 1024)) MiB VmSize; malloc arenas capped at 2). Stop: StopChannel's median, and every channel"
echo "stopped one after another."
echo
echo "| channels | CPU (user+sys, % of one core) | CPU per channel | RSS per channel | threads | threads per channel | address space per channel | frames delivered | lost by cause | first frame median / worst | stop median / all |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
echo
echo "ffmpeg -rtsp_transport udp -i URL -c copy -f null - on the same streams:"
echo
echo "| receivers | CPU (user+sys, % of one core) | CPU per stream |"
echo "|---|---|---|"
printf '%s\n' "${ffmpeg_rows[@]}"
if [ -s "$work/ffmpeg.err" ]; then echo; echo "ffmpeg said:"; sort "$work/ffmpeg.err" | uniq -c | head -5; fi
