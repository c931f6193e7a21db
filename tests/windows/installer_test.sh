#!/usr/bin/env bash
# The installer under wine (run under Xvfb): installed silently for the user with ugi2sgf on the
# PATH, its files, Start menu entry and the keys of .ugi in place; a .ugi record opened through the
# file association comes up in the window, which converts it; the uninstaller takes away all that
# it added and leaves what the user put in its folder.
#   tests/windows/installer_test.sh INSTALLER
set -euo pipefail
installer=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "installer test: $*" >&2; exit 1; }
key() { wine reg query "$1" ${2:+/v "$2"} 2>/dev/null | tr -d '\r'; }

# A wine server still running from programs started without a display would keep their desktop,
# where no window shows: this session starts its own, on this display.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wine "$installer" /S /CurrentUser /PATH >/dev/null 2>&1 || fail "the silent install failed"
local_app_data=$(wine cmd /c 'echo %LOCALAPPDATA%' 2>/dev/null | tr -d '\r')
instdir_win="$local_app_data\\Programs\\Quillarn"
instdir=$(winepath -u "$instdir_win")
for f in quillarn.exe ugi2sgf.exe README.md README.ja.md LICENSE uninstall.exe; do
    [ -f "$instdir/$f" ] || fail "$f is not installed"
done
start_menu=$(winepath -u "$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')\\Microsoft\\Windows\\Start Menu\\Programs")
[ -f "$start_menu/Quillarn.lnk" ] || fail "no Start menu entry"
key 'HKCU\Software\Classes\.ugi' | grep -q 'Quillarn.UGI' || fail ".ugi is not Quillarn's"
key 'HKCU\Software\Classes\Quillarn.UGI\shell\open\command' | grep -qF "\"$instdir_win\\quillarn.exe\" \"%1\"" ||
    fail "no open command"
key 'HKCU\Environment' Path | grep -qF "$instdir_win" || fail "ugi2sgf is not on the PATH"

# A double-click in Explorer runs the command the association names, with the record. wine's HKCR
# does not show a user's own classes (HKCU\Software\Classes, which Windows merges into it), so
# its shell would not find it: the command is taken from the key and run as Explorer runs it.
cp "$source_dir/tests/data/japanese-names.ugi" "$work/game.ugi"
command=$(key 'HKCU\Software\Classes\Quillarn.UGI\shell\open\command' | sed -n 's/.*REG_SZ *"\([^"]*\)" "%1".*/\1/p')
[ -n "$command" ] || fail "the open command is not PROGRAM \"%1\""
LANG=ja_JP.UTF-8 wine "$command" "$(winepath -w "$work/game.ugi")" >/dev/null 2>&1 &
main=
for _ in $(seq 1 200); do
    main=$(xdotool search --onlyvisible --name '^Quillarn$' 2>/dev/null | head -1) && [ -n "$main" ] && break
    sleep 0.1
done
[ -n "$main" ] || fail "the association opened no window"
sleep 1
xdotool windowfocus --sync "$main"
sleep 0.3
xdotool key --delay 150 alt+c Return
for _ in $(seq 1 200); do
    save=$(xdotool search --onlyvisible --name '^名前を付けて保存$' 2>/dev/null | head -1) && [ -n "$save" ] && break
    sleep 0.1
done
[ -n "$save" ] || fail "no save dialog for the record opened"
xdotool windowfocus --sync "$save"
sleep 0.3
xdotool key Return
for _ in $(seq 1 100); do [ -f "$work/game.sgf" ] && break; sleep 0.1; done
[ -f "$work/game.sgf" ] || fail "the record opened through the association was not converted"
wineserver -k 2>/dev/null || true

# What the user puts in the folder stays; everything the installer added goes.
printf 'mine' >"$instdir/mine.sgf"
wine "$instdir_win\\uninstall.exe" /S /CurrentUser >/dev/null 2>&1 || fail "the silent uninstall failed"
for _ in $(seq 1 300); do [ ! -f "$instdir/quillarn.exe" ] && [ ! -f "$instdir/uninstall.exe" ] && break; sleep 0.1; done
[ "$(ls -A "$instdir")" = mine.sgf ] || fail "the folder holds $(ls -A "$instdir" | tr '\n' ' ')"
[ ! -e "$start_menu/Quillarn.lnk" ] || fail "the Start menu entry stays"
! key 'HKCU\Software\Classes\Quillarn.UGI' | grep -q . || fail "the ProgID stays"
! key 'HKCU\Software\Classes\.ugi' | grep -q 'Quillarn' || fail ".ugi still names Quillarn"
! key 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillarn' | grep -q . || fail "the uninstall key stays"
! key 'HKCU\Environment' Path | grep -qF "$instdir_win" || fail "the PATH still holds the folder"
echo "installer test: installed, opened through .ugi, uninstalled; $(stat -c %s "$installer") bytes"
