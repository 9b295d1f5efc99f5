#!/bin/sh
# Runs a Windows test binary under wine64 in a throw-away prefix beside the build.
: "${WINEPREFIX:=${TMPDIR:-/tmp}/quillon-wineprefix}"
export WINEPREFIX WINEDEBUG=-all
wine=wine
command -v wine >/dev/null 2>&1 || wine=/usr/lib/wine/wine64
# Tests start in parallel; the first one makes the prefix while the others wait for it.
mkdir -p "$(dirname "$WINEPREFIX")"
flock "$WINEPREFIX.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || "$0" wineboot --init >/dev/null 2>&1' "$wine"
exec "$wine" "$@"
