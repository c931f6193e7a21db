#!/usr/bin/env bash
# The web page's figures (docs/performance.md): builds ugi2sgf for Release (build/bench), the page
# (web/build.sh) and the data, then runs bench/web.py in Debian's Chromium. Exit status 0 when every
# goal is met, 1 when one is missed.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== setup"
QUILLARN_SETUP_WEB=1 scripts/setup.sh
build=build/bench
echo "== build ($build, Release; the page in build-web/site)"
mkdir -p build
{ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLARN_WINDOW=OFF -DQUILLARN_TESTS=OFF \
      -DQUILLARN_BENCH=ON &&
  cmake --build "$build" -j"$(nproc)" --target ugi2sgf quillarn_benchtool; } >"$build.log" 2>&1 ||
    { cat "$build.log"; exit 1; }
web/build.sh

data=$build/web-data
echo "== data ($data)"
mkdir -p "$data"
[ -f "$data/record-10.9.ugi" ] || "$build/bench/quillarn_benchtool" record "$data/record-10.9.ugi" 10.4
if [ ! -f "$data/typical.done" ]; then
    rm -rf "$data/typical"
    "$build/bench/quillarn_benchtool" tree "$data/typical" 1000 250
    touch "$data/typical.done"
fi
echo "== figures"
/usr/bin/python3 bench/web.py --site build-web/site --ugi2sgf "$build/cli/ugi2sgf" --data "$data"
