#!/usr/bin/env bash
# Takes the README's pictures of the window under a virtual X server: docs/screenshot.png with a
# source chosen, and docs/screenshot-menu.png with the ﾌｧｲﾙ menu open.
# Usage: scripts/screenshot.sh [QUILLARN]   QUILLARN: the program to picture; by default it is built
# in build/release as run.sh builds it. Needs xvfb-run, xdotool and ImageMagick's import.
set -euo pipefail
cd "$(dirname "$0")/.."

# Saves the screen area covered by the program's visible windows (the window, an open menu) to $1.
grab() {
    local x0=100000 y0=100000 x1=0 y1=0 X Y WIDTH HEIGHT WINDOW SCREEN id
    for id in $(xdotool search --onlyvisible --class quillarn); do
        eval "$(xdotool getwindowgeometry --shell "$id")"
        ((X < x0)) && x0=$X
        ((Y < y0)) && y0=$Y
        ((X + WIDTH > x1)) && x1=$((X + WIDTH))
        ((Y + HEIGHT > y1)) && y1=$((Y + HEIGHT))
    done
    import -window root -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage -strip "$1"
}

# Waits until the program shows at least $1 windows.
await() {
    for _ in $(seq 50); do
        [ "$(xdotool search --onlyvisible --class quillarn | wc -l)" -ge "$1" ] && return
        sleep 0.1
    done
    echo "screenshot: the window did not appear" >&2
    exit 1
}

# The part that runs inside the virtual X server: $1 the program, $2 the source to choose.
if [ "${1:-}" = --inside ]; then
    "$2" "$3" &
    pid=$!
    await 1
    sleep 1 # let it paint
    grab docs/screenshot.png
    xdotool windowfocus --sync "$(xdotool search --onlyvisible --class quillarn | head -1)" key alt+f
    await 2
    sleep 0.5
    grab docs/screenshot-menu.png
    xdotool key x # 終了(&X) in the open menu
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || exit 0
        sleep 0.1
    done
    kill "$pid"
    echo "screenshot: 終了 did not end the program" >&2
    exit 1
fi

missing=()
for tool in xvfb-run xdotool import; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "screenshot: missing ${missing[*]} (on Debian: apt-get install xvfb xdotool imagemagick)" >&2
    exit 1
fi

quillarn=${1:-}
if [ -z "$quillarn" ]; then
    build=build/release
    echo "== build ($build)"
    mkdir -p build
    { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLARN_TESTS=OFF &&
      cmake --build "$build" -j"$(nproc)" --target quillarn; } >build/screenshot.log 2>&1 ||
        { cat build/screenshot.log; exit 1; }
    quillarn=$build/window/quillarn
fi

# A fixed source path, so that the pictures change only when the window does.
work=/tmp/quillarn-screenshot
rm -rf "$work"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/棋譜" docs
cp tests/data/japanese-names.ugi "$work/棋譜/kisei.ugi"

echo "== screenshots"
xvfb-run -a -s "-screen 0 640x480x24 -dpi 96" "$0" --inside "$(realpath "$quillarn")" "$work/棋譜/kisei.ugi"
echo "docs/screenshot.png docs/screenshot-menu.png"
