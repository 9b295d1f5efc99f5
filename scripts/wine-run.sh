#!/bin/sh
# Runs a Windows test binary under wine64 in a throw-away prefix beside the build.
: "${WINEPREFIX:=${TMPDIR:-/tmp}/quillon-wineprefix}"
export WINEPREFIX WINEDEBUG=-all
if command -v wine >/dev/null 2>&1; then exec wine "$@"; fi
exec /usr/lib/wine/wine64 "$@"
