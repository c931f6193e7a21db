#!/usr/bin/env bash
# How long each window takes from its start to being drawn, on one virtual X display: the Qt window
# on Linux and quillarn.exe under wine (with wine's server running, as Windows' own services are).
# Prints the median of 7 starts of each, in milliseconds.
#   bench/window_start.sh [RELEASE-BUILD] [WINDOWS-BUILD]    (build/release, build/win64)
set -euo pipefail
cd "$(dirname "$0")/.."
release=${1:-build/release}
windows=${2:-build/win64}
export WINEPREFIX=${WINEPREFIX:-$PWD/$windows/wineprefix} WINEDEBUG=-all LANG=ja_JP.UTF-8

if [ "${3:-}" = --inside ]; then
    # Milliseconds from starting "$@" to a visible window named Quillarn.
    started() {
        local start=$(date +%s%N) pid
        "$@" >/dev/null 2>&1 &
        pid=$!
        until xdotool search --onlyvisible --name '^Quillarn$' >/dev/null 2>&1; do sleep 0.005; done
        echo $((($(date +%s%N) - start) / 1000000))
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        until ! xdotool search --onlyvisible --name '^Quillarn$' >/dev/null 2>&1; do sleep 0.01; done
    }
    median() { sort -n | sed -n 4p; }
    wineserver -p 60 # kept running between the starts
    qt=$(for _ in 1 2 3 4 5 6 7; do started "$release/window/quillarn"; done | median)
    win=$(for _ in 1 2 3 4 5 6 7; do started wine "$windows/window/windows/quillarn.exe"; done | median)
    echo "the Qt window (Linux): $qt ms; quillarn.exe (wine): $win ms"
    wineserver -k
    exit 0
fi
xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$release" "$windows" --inside
