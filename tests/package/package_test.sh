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
            update-desktop-database xdg-mime gio; do
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
         bin/quillarn-thumbnailer share/thumbnailers/quillarn.thumbnailer share/man/man1/quillarn-thumbnailer.1.gz; do
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
done
app=$(desktop xdg-mime query default application/x-go-ugi)
[ "$app" = quillarn.desktop ] || fail "xdg-mime opens application/x-go-ugi with '$app'"

[ "$("$usr/bin/ugi2sgf" --version)" = "Quillarn $version" ] || fail "ugi2sgf --version"
cmp <("$usr/bin/ugi2sgf" "$source_dir/tests/data/basic-game.ugi") "$source_dir/tests/data/basic-game.sgf" \
    || fail "installed ugi2sgf converts differently"
cmp <("$usr/bin/ugi2sgf" - <"$source_dir/tests/data/basic-game.ugi") "$source_dir/tests/data/basic-game.sgf" \
    || fail "installed ugi2sgf converts standard input differently"
# --version and --help need no display.
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$usr/bin/quillarn" --version)" = "Quillarn $version" ] \
    || fail "quillarn --version without a display"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$usr/bin/quillarn" --help | grep -q '^Usage: ' \
    || fail "quillarn --help without a display"

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

# The window stays up until it is stopped: still running after two seconds means it started.
status=0
QT_QPA_PLATFORM=offscreen timeout 2 "$usr/bin/quillarn" "$scratch/files/x.ugi" >"$scratch/window.log" 2>&1 || status=$?
[ "$status" -eq 124 ] || { cat "$scratch/window.log"; fail "quillarn ended with status $status"; }
echo "package test: $(basename "$deb") passes lintian and installs and runs"
