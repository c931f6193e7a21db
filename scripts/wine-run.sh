#!/usr/bin/env bash
# Runs a Windows program of the cross build under wine: ctest's emulator for the Windows tests.
# The wine prefix is WINEPREFIX when set, otherwise one beside the program's build folder.
set -euo pipefail
program=$1
shift
if [ -z "${WINEPREFIX:-}" ]; then
    folder=$(cd "$(dirname "$program")" && pwd)
    while [ "$folder" != / ] && [ ! -f "$folder/CMakeCache.txt" ]; do
        folder=$(dirname "$folder")
    done
    export WINEPREFIX="$folder/wineprefix"
fi
export WINEDEBUG=-all
wine=wine64
command -v wine64 >/dev/null || wine=/usr/lib/wine/wine64
# The wine server that a program starts ends as soon as the last program ends, and a program that
# starts while it ends can lose its connection ("recvmsg: Connection reset by peer") and fail without
# running; that happened about once in 200 programs run one after the other. A server that waits ten
# seconds for the next program closes that gap. When a server runs already, this does nothing.
wineserver=wineserver
[ -x /usr/lib/wine/wineserver64 ] && wineserver=/usr/lib/wine/wineserver64
"$wineserver" -p10 >/dev/null 2>&1 || true
exec "$wine" "$program" "$@"
