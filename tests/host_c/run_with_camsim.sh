#!/bin/sh
# Runs the C host against a camera simulator: starts the simulator on free ports, hands the C
# host its web port, stops the simulator again. Both programs run through the emulator, if given.
# QUILLON_CAMSIM_FAULT, when set, is a control command the simulator applies at its start, and
# QUILLON_HOST_MODE a second argument for the C host.
# usage: run_with_camsim.sh CAMSIM HOST_C_TEST [EMULATOR...]
camsim=$1 host=$2
shift 2
out=$(mktemp)
"$@" "$camsim" --no-control ${QUILLON_CAMSIM_FAULT:+--fault "$QUILLON_CAMSIM_FAULT"} >"$out" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -f "$out"' EXIT
port=
for _ in $(seq 100); do
    port=$(sed -n 's|^web http://127.0.0.1:\([0-9]*\)/$|\1|p' "$out")
    [ -n "$port" ] && break
    sleep 0.05
done
[ -n "$port" ] || { echo "camera simulator did not start:"; cat "$out"; exit 1; }
"$@" "$host" "$port" ${QUILLON_HOST_MODE:+"$QUILLON_HOST_MODE"}
