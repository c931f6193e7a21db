#!/usr/bin/env bash
# Sets up, builds every test under AddressSanitizer and UndefinedBehaviorSanitizer, and runs them.
# The exit status is the test suite's.
set -euo pipefail
cd "$(dirname "$0")"

step() { echo "== $*"; }

step "setup"
scripts/setup.sh

mkdir -p build
build=build/test
werror=OFF
[ "${CI:-}" = true ] && werror=ON
step "configure ($build)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DQUILLARN_SANITIZE=ON -DQUILLARN_WERROR=$werror >"$build.log" 2>&1 \
    || { cat "$build.log"; exit 1; }
step "build"
cmake --build "$build" -j"$(nproc)" >"$build.log" 2>&1 || { cat "$build.log"; exit 1; }
step "test"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
