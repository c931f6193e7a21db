#!/usr/bin/env bash
# quillarn.exe under wine, driven by keys as a user drives it (xdotool; run under Xvfb, LANG=ja_JP.UTF-8):
# a record named on the command line converted and saved under the proposed name; the overwrite
# question answered No (the save dialog again, another name) and Yes; a record that fails; a name
# that is not a record; the version box; exit. The records written are compared with those
# ugi2sgf.exe writes with --encoding cp932, byte for byte. With SHOTS, pictures of the window and
# of its ﾌｧｲﾙ menu are put there.
#   tests/windows/window_walk.sh BUILD-DIR [SHOTS]
set -euo pipefail
# Japanese, whatever the caller's locale: wine's code page 932, and names in UTF-8 that winepath
# turns into Windows paths as they are (in the C locale it would garble them).
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
build=$(cd "$1" && pwd)
shots=${2:-}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
runner=$source_dir/scripts/wine-run.sh
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
cp "$source_dir/tests/data/japanese-names.ugi" "$work/棋譜 한국.ugi"
cp "$source_dir/tests/data/missing-date.ugi" "$work/missing.ugi"
cp "$source_dir/tests/data/illegal-moves.ugi" "$work/illegal.ugi"

fail() {
    echo "window walk: $*" >&2
    [ ! -s "$work/wine.log" ] || tail -20 "$work/wine.log" >&2
    exit 1
}
# Waits for a window whose name is $1 to show (the first start of a program under wine can take a
# while on a busy machine); returns its id.
window() {
    local id
    for _ in $(seq 1 600); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1) && [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    fail "no window '$1'"
}
# Waits for a message box: a window named Quillarn that is not the main window; returns its id.
box() {
    local id
    for _ in $(seq 1 200); do
        id=$(xdotool search --onlyvisible --name '^Quillarn$' 2>/dev/null | grep -vx "$main" | tail -1) &&
            [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    fail "no message box"
}
# Waits until no window named $1 shows.
gone() {
    for _ in $(seq 1 200); do
        xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    fail "window '$1' stays"
}
# Waits until only the main window is named Quillarn.
gone_box() {
    for _ in $(seq 1 100); do
        [ "$(xdotool search --onlyvisible --name '^Quillarn$' 2>/dev/null | grep -cvx "$main")" = 0 ] && return 0
        sleep 0.1
    done
    fail "the message box stays"
}
keys() { xdotool windowfocus --sync "$1"; sleep 0.3; shift; xdotool key --delay 150 "$@"; }
typed() { xdotool windowfocus --sync "$1"; sleep 0.3; xdotool type --delay 20 "$2"; }

# A wine server still running from programs started without a display (the console tests) would
# keep their desktop, where no window shows: this session starts its own, on this display.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
LANG=ja_JP.UTF-8 wine "$build/window/windows/quillarn.exe" "$(winepath -w "$work/棋譜 한국.ugi")" >"$work/wine.log" 2>&1 &
main=$(window Quillarn)
sleep 1
[ -z "$shots" ] || import -window root -crop 480x180+0+0 "$shots/screenshot-windows.png"

# 変換 ▸ UGI→SGF, the proposed name accepted: 棋譜 한국.sgf, the same bytes as ugi2sgf.exe writes.
keys "$main" alt+c Return
save=$(window '名前を付けて保存')
keys "$save" Return
keys "$(box)" Return
gone_box
"$runner" "$build/cli/ugi2sgf.exe" --encoding cp932 -o "$work/expected.sgf" "$work/棋譜 한국.ugi"
cmp "$work/expected.sgf" "$work/棋譜 한국.sgf" || fail "the record written differs from ugi2sgf.exe's"

# Again: the question answered No opens the save dialog again, where another name is typed.
keys "$main" alt+c Return
save=$(window '名前を付けて保存')
keys "$save" Return
keys "$(box)" Return # No, the default
save=$(window '名前を付けて保存')
typed "$save" 'other'
keys "$save" Return
keys "$(box)" Return
gone_box
cmp "$work/expected.sgf" "$work/other.sgf" || fail "the record written under another name differs"

# And Yes replaces it: the dialog proposes the name saved last.
printf 'old' >"$work/other.sgf"
keys "$main" alt+c Return
save=$(window '名前を付けて保存')
keys "$save" Return
keys "$(box)" shift+Tab space
keys "$(box)" Return
gone_box
cmp "$work/expected.sgf" "$work/other.sgf" || fail "Yes did not replace the file"

# ﾌｧｲﾙ ▸ 開く of a record that fails: 異常終了しました, and nothing written.
keys "$main" alt+f
[ -z "$shots" ] || { sleep 0.5; import -window root -crop 480x180+0+0 "$shots/screenshot-windows-menu.png"; }
keys "$main" Return
open=$(window '開く')
typed "$open" "$(winepath -w "$work/missing.ugi")"
keys "$open" Return
gone '開く'
keys "$main" alt+c Return
keys "$(box)" Return
gone_box
[ ! -e "$work/missing.sgf" ] || fail "a record that failed was written"

# A name that is not a record is refused with its message.
keys "$main" alt+f Return
open=$(window '開く')
typed "$open" "$(winepath -w "$work/notes.txt")"
keys "$open" Return
keys "$(box)" Return
gone_box

# The version box, from the keyboard: F10 and the arrows.
keys "$main" F10 Right Right Down Return
keys "$(box)" Return
gone_box

# ﾌｧｲﾙ ▸ 終了 ends the program.
keys "$main" alt+f x
for _ in $(seq 1 100); do
    xdotool search --name '^Quillarn$' >/dev/null 2>&1 || { echo "window walk: every step as expected"; exit 0; }
    sleep 0.1
done
fail "終了 left the window open"
