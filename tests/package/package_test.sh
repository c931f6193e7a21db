#!/usr/bin/env bash
# Builds the Debian package from a configured build folder, checks it with Debian's and the desktop's
# own checkers, unpacks it into a scratch root and runs the programs from there: the package must
# hold everything a user needs, name its dependencies, and make a file manager open .ugi files with
# Quillarn.
set -euo pipefail
build=$1
source_dir=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }
for tool in cpack dpkg-deb dpkg-parsechangelog lintian appstreamcli desktop-file-validate update-mime-database \
            update-desktop-database xdg-mime gio dbus-run-session bwrap unshare; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup.sh installs it)"
done

(cd "$build" && cpack -G DEB -B "$scratch/pkg") >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; fail "cpack failed"; }
deb=$(ls "$scratch"/pkg/*.deb)
version=$(dpkg-deb -f "$deb" Version)
[ "$(dpkg-deb -f "$deb" Package)" = quillarn ] || fail "package name"
[ "$version" = 0.1 ] || fail "version"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
depends=$(dpkg-deb -f "$deb" Depends)
for wanted in libqt6widgets6 libstdc++6 fonts-ipafont-gothic; do
    case "$depends" in *"$wanted"*) ;; *) fail "Depends lacks $wanted: $depends" ;; esac
done

# Debian's checker: no errors. Its warnings are shown, so that a new one is seen.
lintian "$deb" 2>&1 | grep -v 'running with root privileges' >"$scratch/lintian.log" || true
if grep -q '^E:' "$scratch/lintian.log"; then
    cat "$scratch/lintian.log"
    fail "lintian reports errors"
fi
grep '^W:' "$scratch/lintian.log" | sed 's/^/package test: lintian: /' || true

dpkg -x "$deb" "$scratch/root"
usr=$scratch/root/usr
metainfo=$(ls "$usr"/share/metainfo/*.metainfo.xml)
for f in bin/quillarn bin/ugi2sgf share/applications/quillarn.desktop share/mime/packages/quillarn.xml \
         share/icons/hicolor/32x32/apps/quillarn.png share/icons/hicolor/scalable/apps/quillarn.svg \
         share/doc/quillarn/README.md share/doc/quillarn/README.ja.md share/doc/quillarn/copyright \
         share/doc/quillarn/changelog.gz share/man/man1/ugi2sgf.1.gz share/man/man1/quillarn.1.gz \
         bin/quillarn-thumbnailer share/thumbnailers/quillarn.thumbnailer share/man/man1/quillarn-thumbnailer.1.gz \
         share/man/ja/man1/ugi2sgf.1.gz; do
    [ -e "$usr/$f" ] || fail "missing /usr/$f"
done
desktop-file-validate "$usr/share/applications/quillarn.desktop" || fail "desktop entry does not validate"
grep -qx "X-Quillarn-Version=$version" "$usr/share/applications/quillarn.desktop" || fail "desktop entry version"
appstreamcli validate --no-net "$metainfo" >"$scratch/appstream.log" 2>&1 \
    || { cat "$scratch/appstream.log"; fail "AppStream metadata does not validate"; }
# The newest entries of the changelog and of the AppStream releases name this version.
zcat "$usr/share/doc/quillarn/changelog.gz" >"$scratch/changelog"
[ "$(dpkg-parsechangelog -l "$scratch/changelog" -S Version)" = "$version" ] \
    || fail "the changelog has no entry for $version"
grep -m1 '<release ' "$metainfo" | grep -q "version=\"$version\"" || fail "the AppStream releases lack $version"
# A software centre follows every web address of the metadata: none is at the reserved .invalid domain.
! grep -o 'https\?://[^<"]*' "$metainfo" | grep -q '\.invalid\b' || fail "the AppStream metadata links to .invalid"

# The file type and its application, as a desktop sees them once the package's triggers have run.
data=$usr/share
XDG_DATA_DIRS=$data update-mime-database "$data/mime"
update-desktop-database "$data/applications"
mkdir -p "$scratch/home/.local/share" "$scratch/config" "$scratch/files"
desktop() {
    env -i PATH="$PATH" HOME="$scratch/home" XDG_DATA_HOME="$scratch/home/.local/share" XDG_DATA_DIRS="$data" \
        XDG_CONFIG_HOME="$scratch/config" XDG_CONFIG_DIRS="$scratch/config" XDG_CURRENT_DESKTOP=GNOME "$@"
}
cp "$source_dir/tests/data/basic-game.ugi" "$scratch/files/x.ugi"
cp "$source_dir/tests/data/basic-game.ugi" "$scratch/files/KIFU.UGI"
cp "$source_dir/tests/data/basic-game.ugi" "$scratch/files/record" # no extension: found by its [Header]
for f in x.ugi KIFU.UGI record; do
    type=$(desktop xdg-mime query filetype "$scratch/files/$f")
    [ "$type" = application/x-go-ugi ] || fail "xdg-mime takes $f for '$type'"
    # Without a desktop session xdg-mime asks mimetype (the package recommends it), which reads
    # the same MIME type: the glob first, then the magic rule.
    type=$(env -i PATH="$PATH" HOME="$scratch/home" XDG_DATA_DIRS="$data" xdg-mime query filetype "$scratch/files/$f")
    [ "$type" = application/x-go-ugi ] || fail "without a desktop session xdg-mime takes $f for '$type'"
done
app=$(desktop xdg-mime query default application/x-go-ugi)
[ "$app" = quillarn.desktop ] || fail "xdg-mime opens application/x-go-ugi with '$app'"

for program in ugi2sgf quillarn-thumbnailer; do # GNU style, and its manual page says so
    said=$("$usr/bin/$program" --version)
    [ "$said" = "$program (Quillarn) $version" ] || fail "$program --version: '$said'"
    zcat "$usr/share/man/man1/$program.1.gz" | grep -qF "\"$said\"" || fail "man $program does not show '$said'"
done
# The Japanese manual page, and the help in a Japanese locale, name every option the help names.
japanese_man=$(zcat "$usr/share/man/ja/man1/ugi2sgf.1.gz" | sed 's/\\-/-/g')
japanese_help=$(LANG=ja_JP.UTF-8 "$usr/bin/ugi2sgf" --help)
for option in $(LANG=C "$usr/bin/ugi2sgf" --help | grep -o -- '--[a-z-]*[a-z]' | sort -u); do
    grep -qF -- "$option" <<<"$japanese_man" || fail "the Japanese manual page does not name $option"
    grep -qF -- "$option" <<<"$japanese_help" || fail "the Japanese help does not name $option"
done
cmp <("$usr/bin/ugi2sgf" --encoding cp932 "$source_dir/tests/data/basic-game.ugi") "$source_dir/tests/data/basic-game.sgf" \
    || fail "installed ugi2sgf converts differently"
cmp <("$usr/bin/ugi2sgf" --encoding cp932 - <"$source_dir/tests/data/basic-game.ugi") \
    "$source_dir/tests/data/basic-game.sgf" || fail "installed ugi2sgf converts standard input differently"
# Every option is answered without a display: --help, --help-all (with Qt's own options), --version,
# and an unknown one with Qt's message and status 1. (A login without a desktop still has its
# runtime folder, without which Qt warns.)
mkdir -m 700 "$scratch/runtime"
nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$scratch/runtime" "$usr/bin/quillarn" "$@"; }
[ "$(nodisplay --version)" = "Quillarn $version" ] || fail "quillarn --version without a display"
nodisplay --help >"$scratch/help.log" && grep -q '^Usage: ' "$scratch/help.log" \
    && grep -qx '  FILE           A .ugi record to choose at start, as with ﾌｧｲﾙ ▸ 開く.' "$scratch/help.log" \
    || { cat "$scratch/help.log"; fail "quillarn --help without a display"; }
nodisplay --help-all 2>/dev/null | grep -q -- '--platform <' || fail "quillarn --help-all without a display"
status=0
nodisplay --bogus >/dev/null 2>"$scratch/bogus.log" || status=$?
[ "$status" -eq 1 ] && grep -qx "Quillarn: Unknown option 'bogus'." "$scratch/bogus.log" \
    || { cat "$scratch/bogus.log"; fail "quillarn --bogus without a display ended with status $status"; }
# A platform that cannot start for another reason: Qt's reasons, then the platform asked for.
status=0
nodisplay -platform bogus >/dev/null 2>"$scratch/platform.log" || status=$?
[ "$status" -eq 1 ] && [ "$(head -1 "$scratch/platform.log")" = 'qt.qpa.plugin: Could not find the Qt platform plugin "bogus" in ""' ] \
    && [ "$(tail -1 "$scratch/platform.log")" = "quillarn: the window cannot open with -platform bogus (Qt says why above); ugi2sgf converts without a display" ] \
    && ! grep -q Reinstalling "$scratch/platform.log" \
    || { cat "$scratch/platform.log"; fail "quillarn -platform bogus ended with status $status"; }

# Every file that an installed README links to is installed beside it.
docs=$usr/share/doc/quillarn
readmes=("$docs/README.md" "$docs/README.ja.md")
for readme in "${readmes[@]}"; do
    for link in $(grep -o '](\([^):#]*\))' "$readme" | sed 's/^](//; s/)$//'); do
        [ -e "$docs/$link" ] || fail "$(basename "$readme") links to $link, which is not installed"
    done
done

# A new user's first steps, as the READMEs show them: each message and exit status is the one both
# installed READMEs give, word for word.
session=$scratch/session
mkdir -p "$session/archive" "$session/locked"
cp "$source_dir/examples/kisei.ugi" "$session/game.ugi"
shown() { # shown TEXT: both READMEs show TEXT
    for readme in "${readmes[@]}"; do
        grep -qF -- "$1" "$readme" || fail "$(basename "$readme") does not show '$1'"
    done
}
says() { # says STATUS MESSAGE COMMAND...: in the session folder, COMMAND ends with STATUS, saying MESSAGE
    local wanted=$1 message=$2 said status=0
    shift 2
    said=$(cd "$session" && "$@" 2>&1 >/dev/null) || status=$?
    [ "$status" = "$wanted" ] && [ "$said" = "$message" ] || fail "$*: '$said' (status $status)"
    shown "$message"
}
bin=$usr/bin
(cd "$session" && "$bin/ugi2sgf" game.ugi) | grep -q '^(;CA\[UTF-8\]GN\[' || fail "ugi2sgf game.ugi is not UTF-8"
(cd "$session" && "$bin/ugi2sgf" --encoding SJIS game.ugi) | grep -q '^(;CA\[Shift_JIS\]' || fail "--encoding SJIS"
says 0 "" "$bin/ugi2sgf" -o game.sgf game.ugi
says 1 "game.ugi: game.sgf exists (--force replaces it)" "$bin/ugi2sgf" -o game.sgf game.ugi
says 1 "game.ugi: the output game.ugi would replace the source" "$bin/ugi2sgf" --force -o game.ugi game.ugi
says 1 "game.ugi: cannot write nodir/game.sgf: No such file or directory" "$bin/ugi2sgf" -o nodir/game.sgf game.ugi
says 1 "game.ugi: cannot write archive: it is a folder" "$bin/ugi2sgf" -o archive game.ugi
mkdir "$session/shell" && cp "$session/game.ugi" "$session/shell" # the shell empties this copy
says 1 "game.ugi: standard output is game.ugi itself: the shell emptied it before ugi2sgf ran; use -o" \
    sh -c 'cd shell && exec "$0" game.ugi > game.ugi' "$bin/ugi2sgf"
says 1 "quillarn: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); ugi2sgf converts without a display" \
    nodisplay game.ugi
says 1 "quillarn: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); ugi2sgf converts without a display" \
    nodisplay -platform # a -platform without a name, which Qt ignores
cp "$source_dir/tests/data/code-page-932-name-nearly-as-plain-in-utf-8.ugi" "$session/a.ugi"
says 0 "a.ugi: read as code page 932 (PB 莉子); it is also valid UTF-8 (--source-encoding utf-8 reads it so)" \
    "$bin/ugi2sgf" -o a.sgf a.ugi
chmod 755 "$scratch" "$session" && chmod 555 "$session/locked"
as_user=()
[ "$(id -u)" -ne 0 ] || as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups) # root writes anywhere
says 1 "game.ugi: cannot write locked/game.sgf: Permission denied" "${as_user[@]}" "$bin/ugi2sgf" -o locked/game.sgf game.ugi
# Code page 932 on a terminal: one line says so before the record.
(cd "$session" && script -qc "$bin/ugi2sgf --encoding cp932 game.ugi" /dev/null </dev/null >"$scratch/terminal.log") || true
note=$(head -1 "$scratch/terminal.log" | tr -d '\r')
[[ $note = "ugi2sgf: "*"-o FILE"* ]] || fail "no note for code page 932 on a terminal: '$note'"
shown "$note"
shown "ugi2sgf (Quillarn) $version"
shown "Quillarn: Unknown option 'bogus'."

# The thumbnailer as a file manager runs it: the installed entry's Exec line with %s, %i and %o filled
# in, without a display, writes a PNG picture of that size.
entry=$usr/share/thumbnailers/quillarn.thumbnailer
grep -qx 'MimeType=application/x-go-ugi;application/x-go-sgf;' "$entry" || fail "thumbnailer file types"
[ -x "$usr/bin/$(sed -n 's/^TryExec=//p' "$entry")" ] || fail "the thumbnailer's TryExec is not in the package"
read -r -a command <<<"$(sed -n 's/^Exec=//p' "$entry")"
for i in "${!command[@]}"; do
    case "${command[$i]}" in
    %s) command[$i]=128 ;;
    %i) command[$i]=$scratch/files/KIFU.UGI ;;
    %o) command[$i]=$scratch/thumbnail.png ;;
    esac
done
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM PATH="$usr/bin:$PATH" "${command[@]}" \
    || fail "the thumbnailer's Exec line failed: ${command[*]}"
# The PNG signature, then the IHDR chunk: width and height 128.
[ "$(od -An -tx1 -N24 "$scratch/thumbnail.png" | tr -d ' \n')" = 89504e470d0a1a0a0000000d494844520000008000000080 ] \
    || fail "the thumbnailer wrote no PNG of 128 x 128 pixels"

# The file managers' own thumbnail services, each with the installed entry and file types: tumbler
# (Thunar) makes the output file itself and reads the picture through the descriptor it holds;
# GNOME's factory (Files, Nemo, Caja) runs the thumbnailer in a bubblewrap sandbox that sees only
# /usr. Each must give the picture the thumbnailer draws by hand: the record's board with its stones,
# not an empty board.
thumbnails=$source_dir/tests/package/thumbnails.py
python=/usr/bin/python3 # Debian's, which python3-gi is for: another python3 may come first on PATH
[ -e /usr/share/dbus-1/services/org.xfce.Tumbler.Thumbnailer1.service ] || fail "tumbler is not installed (scripts/setup.sh installs it)"
"$python" -c 'import gi; gi.require_version("GdkPixbuf", "2.0"); gi.require_version("GnomeDesktop", "3.0")' 2>/dev/null \
    || fail "python3-gi or gir1.2-gnomedesktop-3.0 is not installed (scripts/setup.sh installs them)"
cp "$source_dir/tests/data/basic-game.sgf" "$scratch/files/game.sgf"
printf '(;SZ[19])' >"$scratch/files/empty.sgf"
for f in x.ugi game.sgf empty.sgf; do
    "$usr/bin/quillarn-thumbnailer" -s 128 "$scratch/files/$f" "$scratch/hand-$f.png" || fail "the thumbnailer failed on $f"
done
! "$python" "$thumbnails" same "$scratch/hand-x.ugi.png" "$scratch/hand-empty.sgf.png" || fail "the record's picture shows no stone"
services() { # services COMMAND...: COMMAND in a desktop session of its own, on a private bus
    env -i PATH="$usr/bin:$PATH" HOME="$scratch/home" XDG_DATA_DIRS="$data:/usr/share" \
        XDG_CACHE_HOME="$scratch/home/.cache" XDG_CONFIG_HOME="$scratch/config" "$@"
}
same_pictures() { # same_pictures SERVICE: SERVICE's pictures are the ones drawn by hand
    for f in x.ugi game.sgf; do
        "$python" "$thumbnails" same "$scratch/hand-$f.png" "$scratch/$1-$f.png" \
            || fail "$1 gives another picture of $f than the thumbnailer draws"
    done
}
services dbus-run-session -- "$python" "$thumbnails" tumbler "$scratch/files/x.ugi" "$scratch/tumbler-x.ugi.png" \
    "$scratch/files/game.sgf" "$scratch/tumbler-game.sgf.png" 2>"$scratch/tumbler.log" \
    || { grep -v 'fd limit\|lost on the message dbus\|^$' "$scratch/tumbler.log"; fail "tumbler made no picture"; }
same_pictures tumbler
# The sandbox sees the system's /usr: the unpacked package is laid over /usr/bin in a mount namespace
# of the test's own. A sanitized build's leak check, which traces the process as it ends, is turned
# off there: the sandbox forbids tracing.
gnome_skip=
if ! bwrap --ro-bind / / --unshare-all --proc /proc --dev /dev true 2>"$scratch/bwrap.log"; then
    gnome_skip="bubblewrap cannot make its sandbox here: $(head -1 "$scratch/bwrap.log")"
elif ! unshare -m --propagation private true 2>/dev/null; then
    gnome_skip="no mount namespace of its own to lay the package over /usr (unshare -m needs root)"
fi
if [ -n "$gnome_skip" ]; then
    echo "package test: GNOME's thumbnail factory skipped: $gnome_skip"
else
    services ASAN_OPTIONS=detect_leaks=0 unshare -m --propagation private sh -c \
        'mount -t overlay overlay -o "lowerdir=$0:/usr/bin" /usr/bin && exec "$@"' "$usr/bin" \
        "$python" "$thumbnails" gnome "$scratch/files/x.ugi" "$scratch/gnome-x.ugi.png" \
        "$scratch/files/game.sgf" "$scratch/gnome-game.sgf.png" || fail "GNOME's thumbnail factory made no picture"
    same_pictures gnome
fi

# The window stays up until it is stopped: still running after two seconds means it started.
status=0
QT_QPA_PLATFORM=offscreen timeout 2 "$usr/bin/quillarn" "$scratch/files/x.ugi" >"$scratch/window.log" 2>&1 || status=$?
[ "$status" -eq 124 ] || { cat "$scratch/window.log"; fail "quillarn ended with status $status"; }
echo "package test: $(basename "$deb") passes lintian and installs and runs"
