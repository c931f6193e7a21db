#!/usr/bin/env bash
# Sets up, builds in Release and starts Quillarn: the window when a display is available; without
# one, converts the bundled example record with ugi2sgf and prints the SGF.
set -euo pipefail
cd "$(dirname "$0")"

echo "== setup"
scripts/setup.sh
build=build/release
echo "== build ($build; its log is build/release.log)"
mkdir -p build
# The build takes a minute or more: cmake's own progress lines show that it moves.
{ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLARN_TESTS=OFF >build/release.log 2>&1 &&
  cmake --build "$build" -j"$(nproc)" 2>&1 | tee -a build/release.log |
      awk '/^\[ *[0-9]+%\] (Building|Linking)/ { print "   " $0; fflush() }'; } || { cat build/release.log; exit 1; }

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/window/quillarn" ]; then
    echo "== starting the window ($build/window/quillarn; ugi2sgf is $build/cli/ugi2sgf)"
    exec "$build/window/quillarn"
fi
echo "== no display: ugi2sgf examples/kisei.ugi (UTF-8, ugi2sgf's default)"
"$build/cli/ugi2sgf" examples/kisei.ugi
echo "(The programs are $build/window/quillarn and $build/cli/ugi2sgf; run ./run.sh on a desktop to open the window.)"
