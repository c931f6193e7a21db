#!/usr/bin/env bash
# Sets up, builds in Release and starts Quillarn: the window when a display is available; without
# one, converts the bundled example record with ugi2sgf and prints the SGF.
set -euo pipefail
cd "$(dirname "$0")"

echo "== setup"
scripts/setup.sh
build=build/release
echo "== build ($build)"
mkdir -p build
{ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLARN_TESTS=OFF &&
  cmake --build "$build" -j"$(nproc)"; } >build/release.log 2>&1 || { cat build/release.log; exit 1; }

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/window/quillarn" ]; then
    echo "== starting the window ($build/window/quillarn; ugi2sgf is $build/cli/ugi2sgf)"
    exec "$build/window/quillarn"
fi
echo "== no display: converting examples/kisei.ugi with ugi2sgf (shown in UTF-8; the record is code page 932)"
record=$("$build/cli/ugi2sgf" examples/kisei.ugi | iconv -f CP932 -t UTF-8)
echo "$record"
echo "(The programs are $build/window/quillarn and $build/cli/ugi2sgf; run ./run.sh on a desktop to open the window.)"
