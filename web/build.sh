#!/usr/bin/env bash
# Builds the web page into FOLDER (build-web/site by default): the converter compiled to
# WebAssembly with Debian's emscripten, and the site's static files around it, which any web
# server can serve as they are; and the same files as build-web/quillarn-web-VERSION.zip. What it
# takes from npm (web/package-lock.json) is installed with npm ci into build-web/npm; the CMake
# build is in build-web/cmake.
#   web/build.sh [FOLDER]      (QUILLARN_JOBS: how many build steps at once, the processors' number
#                               unless given)
set -euo pipefail
cd "$(dirname "$0")/.."

site=$(realpath -m "${1:-build-web/site}")
work=$PWD/build-web
mkdir -p "$work/npm"

# emcc runs its JavaScript tools with Debian's node packages (node-acorn), which a node that is
# not Debian's finds only here.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

# npm ci again only when the lock file changed.
if ! cmp -s web/package-lock.json "$work/npm/package-lock.json" || [ ! -d "$work/npm/node_modules" ]; then
    echo "web: npm ci (web/package-lock.json)"
    cp web/package.json web/package-lock.json "$work/npm/"
    (cd "$work/npm" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error) ||
        { rm -f "$work/npm/package-lock.json"; exit 1; }
fi

# A new site every time: no file of an earlier build stays behind to be cached with this one.
rm -rf "$site"
emcmake cmake -S . -B "$work/cmake" -DCMAKE_BUILD_TYPE=Release -DQUILLARN_WERROR=ON \
    -DQUILLARN_SITE="$site" -DQUILLARN_NPM="$work/npm/node_modules" >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; exit 1; }
cmake --build "$work/cmake" -j"${QUILLARN_JOBS:-$(nproc)}"
# The site as one zip, to unpack on a web server.
(cd "$work/cmake" && cpack -G ZIP >"$work/package.log" 2>&1) || { cat "$work/package.log"; exit 1; }
mv -f "$work"/cmake/quillarn-web-*.zip "$work/"
echo "web: the site is in $site, and as a zip in $(ls "$work"/quillarn-web-*.zip)"
