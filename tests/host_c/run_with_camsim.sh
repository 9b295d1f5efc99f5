#!/bin/sh
# Runs the C host against a camera simulator: starts the simulator on free ports, hands the C
# host its web port, stops the simulator again. Both programs run through the emulator, if given.
# usage: run_with_camsim.sh CAMSIM HOST_C_TEST [EMULATOR...]
camsim=$1 host=$2
shift 2
out=$(mktemp)
"$@" "$camsim" --no-control >"$out" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -f "$out"' EXIT
port=
for _ in $(seq 100); do
    port=$(sed -n 's|^web http://127.0.0.1:\([0-9]*\)/$|\1|p' "$out")
    [ -n "$port" ] && break
    sleep 0.05
done
[ -n "$port" ] || { echo "camera simulator did not start:"; cat "$out"; exit 1; }
"$@" "$host" "$port"
