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
exec "$wine" "$program" "$@"
