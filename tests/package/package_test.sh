#!/usr/bin/env bash
# Builds the Debian package from a configured build folder, unpacks it into a scratch root and runs
# the programs from there: the package must hold everything a user needs and name its dependencies.
set -euo pipefail
build=$1
source_dir=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch/pkg") >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; fail "cpack failed"; }
deb=$(ls "$scratch"/pkg/*.deb)
[ "$(dpkg-deb -f "$deb" Package)" = quillarn ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = 0.1 ] || fail "version"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
depends=$(dpkg-deb -f "$deb" Depends)
for wanted in libqt6widgets6 libstdc++6 fonts-ipafont-gothic; do
    case "$depends" in *"$wanted"*) ;; *) fail "Depends lacks $wanted: $depends" ;; esac
done

dpkg -x "$deb" "$scratch/root"
usr=$scratch/root/usr
for f in bin/quillarn bin/ugi2sgf share/applications/quillarn.desktop \
         share/icons/hicolor/32x32/apps/quillarn.png share/icons/hicolor/scalable/apps/quillarn.svg \
         share/doc/quillarn/README.md share/doc/quillarn/LICENSE share/man/man1/ugi2sgf.1; do
    [ -e "$usr/$f" ] || fail "missing /usr/$f"
done
desktop-file-validate "$usr/share/applications/quillarn.desktop" || fail "desktop entry does not validate"
grep -qx 'X-Quillarn-Version=0.1' "$usr/share/applications/quillarn.desktop" || fail "desktop entry version"

[ "$("$usr/bin/ugi2sgf" --version)" = "Quillarn 0.1" ] || fail "ugi2sgf --version"
cmp <("$usr/bin/ugi2sgf" "$source_dir/tests/data/basic-game.ugi") "$source_dir/tests/data/basic-game.sgf" \
    || fail "installed ugi2sgf converts differently"

# The window stays up until it is stopped: still running after two seconds means it started.
status=0
QT_QPA_PLATFORM=offscreen timeout 2 "$usr/bin/quillarn" >"$scratch/window.log" 2>&1 || status=$?
[ "$status" -eq 124 ] || { cat "$scratch/window.log"; fail "quillarn ended with status $status"; }
echo "package test: $(basename "$deb") installs and runs"
