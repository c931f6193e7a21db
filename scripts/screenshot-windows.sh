#!/usr/bin/env bash
# Takes the README's pictures of quillarn.exe under wine on a virtual X server, in Japanese:
# docs/screenshot-windows.png after a record was converted and saved, and
# docs/screenshot-windows-menu.png with the ﾌｧｲﾙ menu open.
# Usage: scripts/screenshot-windows.sh [BUILD]   BUILD: the Windows build (build/win64). Needs wine,
# xvfb-run, xdotool and ImageMagick's import.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/win64}
export WINEPREFIX=${WINEPREFIX:-$PWD/$build/wineprefix} WINEDEBUG=-all LANG=ja_JP.UTF-8

if [ "${2:-}" = --inside ]; then
    wineserver -k 2>/dev/null || true # a server without this display would keep the window off it
    wineserver -w 2>/dev/null || true
    folder="$WINEPREFIX/drive_c/users/kaori/棋譜"
    mkdir -p "$folder" && rm -f "$folder/kisei.sgf"
    cp examples/kisei.ugi "$folder/kisei.ugi"
    wine "$build/window/windows/quillarn.exe" 'C:\users\kaori\棋譜\kisei.ugi' >/dev/null 2>&1 &
    find_window() {
        for _ in $(seq 100); do
            xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1 && return
            sleep 0.1
        done
        echo "screenshot: no window '$1'" >&2
        exit 1
    }
    main=$(find_window Quillarn)
    sleep 1
    xdotool windowfocus --sync "$main" key --delay 150 alt+c Return
    xdotool windowfocus --sync "$(find_window '名前を付けて保存')" key Return
    sleep 1
    xdotool key Return # the message
    sleep 2
    eval "$(xdotool getwindowgeometry --shell "$main")"
    xdotool windowfocus --sync "$main"
    sleep 0.5
    xdotool key alt+f
    sleep 1
    import -window root -crop "${WIDTH}x$((HEIGHT + 20))+$X+$Y" +repage -strip docs/screenshot-windows-menu.png
    xdotool key Escape Escape # the menu drawn over, the window is drawn whole again
    sleep 1
    import -window root -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage -strip docs/screenshot-windows.png
    wineserver -k
    exit 0
fi
xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build" --inside
echo "screenshot: docs/screenshot-windows.png, docs/screenshot-windows-menu.png"
