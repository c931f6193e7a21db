#!/usr/bin/env bash
# Installs the Debian packages Quillarn needs to build, test and run, only those that are missing,
# without prompts. Shared by run.sh and test.sh; safe to run again.
set -euo pipefail

packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev qt6-translations-l10n fonts-ipafont-gothic
          # The package test: building the .deb, Debian's and the desktop's checkers, and gio, through
          # which xdg-mime finds file types as a desktop does, and mimetype, which it asks outside one.
          dpkg-dev file gzip lintian appstream desktop-file-utils shared-mime-info xdg-utils libfile-mimeinfo-perl libglib2.0-bin
          # and the file managers' thumbnail services it asks for pictures: tumbler on a private D-Bus
          # session, GNOME's thumbnail factory (through Python) with its bubblewrap sandbox.
          tumbler dbus-x11 python3-gi gir1.2-gdkpixbuf-2.0 gir1.2-gnomedesktop-3.0 bubblewrap
          # The locales ugi2sgf's messages are tested in (glibc speaks only a locale generated).
          locales)
if [ "${CI:-}" = true ] || [ "${QUILLARN_SETUP_ALL:-}" = 1 ]; then
    # The checks CI adds: the build with clang, the fuzz targets and the layout check.
    packages+=(clang libclang-rt-14-dev clang-format)
fi

# The web page (web/build.sh) and its browser test: Debian's emscripten, rsvg-convert for the
# page's icons, Chromium with its driver, and Selenium; npm for the packages of web/package-lock.json,
# where there is none (a Node.js from elsewhere brings its own).
if [ "${CI:-}" = true ] || [ "${QUILLARN_SETUP_ALL:-}" = 1 ] || [ "${QUILLARN_SETUP_WEB:-}" = 1 ]; then
    packages+=(emscripten librsvg2-bin chromium chromium-driver python3-selenium unzip)
    command -v npm >/dev/null || packages+=(npm)
fi

# The Japanese and English locales: ugi2sgf speaks Japanese only in a Japanese locale that is
# generated, and the tests run it in both; wine takes its code page from the locale (932 for
# Japanese). The Windows build CI makes and tests: the mingw-w64 cross compiler (with std::thread),
# wine to run its tests, GoogleTest's sources to build for it; NSIS for the installer, and a virtual
# display with xdotool to drive the window and the installer there.
test_locales=(ja_JP.UTF-8 en_US.UTF-8)
if [ "${CI:-}" = true ] || [ "${QUILLARN_SETUP_ALL:-}" = 1 ]; then
    packages+=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 googletest nsis xvfb xauth xdotool)
fi
make_locales() {
    local wanted=()
    for l in "${test_locales[@]}"; do
        locale -a 2>/dev/null | grep -qix "${l%.UTF-8}.utf8" || wanted+=("$l")
    done
    [ ${#wanted[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "setup: generating the locales ${wanted[*]}"
    for l in "${wanted[@]}"; do
        grep -q "^$l UTF-8" /etc/locale.gen ||
            echo "$l UTF-8" | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
    done
    "${sudo[@]}" locale-gen >/dev/null
}

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && { make_locales; exit 0; }

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "setup: run as root or install sudo (missing: ${missing[*]})" >&2; exit 1; }
    sudo=(sudo)
fi
echo "setup: installing ${missing[*]}"
log=$(mktemp)
watcher=
trap 'rm -f "$log"; [ -z "$watcher" ] || kill "$watcher" 2>/dev/null' EXIT
# Shows what apt-get, writing to $log, does: a line as it starts downloading and as it starts
# unpacking and configuring, then the percentage every 10 seconds, from the status lines that
# APT::Status-Fd puts in the log ("dlstatus:N:PERCENT:..." and "pmstatus:PACKAGE:PERCENT:...").
show_progress() {
    local stage= percent= said=$SECONDS line what
    while sleep 1 && kill -0 $$ 2>/dev/null; do
        line=$(grep -E '^(dl|pm)status:' "$log" | tail -1) || true
        [[ $line =~ ^(dl|pm)status:[^:]*(:[a-z][^:]*)?:([0-9]+) ]] || continue
        what="unpacking and configuring"
        [ "${BASH_REMATCH[1]}" = dl ] && what=downloading
        if [ "${BASH_REMATCH[1]}" != "$stage" ]; then
            stage=${BASH_REMATCH[1]} percent=${BASH_REMATCH[3]} said=$SECONDS
            echo "setup: $what"
        elif [ "${BASH_REMATCH[3]}" != "$percent" ] && ((SECONDS - said >= 10)); then
            percent=${BASH_REMATCH[3]} said=$SECONDS
            echo "setup: $what: $percent%"
        fi
    done
}
apt_get() {
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -q -o APT::Status-Fd=1 "$@" >>"$log" 2>&1
}
echo "setup: updating the package lists"
status=0
if apt_get update; then
    show_progress &
    watcher=$!
    apt_get install -y --no-install-recommends "${missing[@]}" || status=$?
    kill "$watcher" 2>/dev/null || true
    wait "$watcher" 2>/dev/null || true
    watcher=
else
    status=$?
fi
if [ "$status" -ne 0 ]; then
    grep -Ev '^(dl|pm|media)status:' "$log" >&2
    echo "setup: apt-get failed" >&2
    exit 1
fi
echo "setup: installed"
make_locales
