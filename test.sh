#!/usr/bin/env bash
# Sets up, builds every test under AddressSanitizer and UndefinedBehaviorSanitizer, and runs them.
# In CI (CI=true) it also checks the layout of the C++ sources against .clang-format and that CMake
# configures without a warning, builds and tests once without the window, which proves that the core
# and ugi2sgf need no Qt, and runs each fuzz target for a minute when clang is there.
# The exit status is non-zero when any part fails; logs (in build/) are printed only for a part that fails.
set -euo pipefail
cd "$(dirname "$0")"

step() { echo "== $*"; }
failed=()

step "setup"
scripts/setup.sh

mkdir -p build
build=build/test
werror=OFF
[ "${CI:-}" = true ] && werror=ON
step "configure ($build)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DQUILLARN_SANITIZE=ON -DQUILLARN_WERROR=$werror \
    >"$build-configure.log" 2>&1 || { cat "$build-configure.log"; exit 1; }
step "build"
cmake --build "$build" -j"$(nproc)" >"$build.log" 2>&1 || { cat "$build.log"; exit 1; }
step "test"
(cd "$build" && ctest --output-on-failure -j"$(nproc)") || failed+=("tests")

if [ "${CI:-}" = true ]; then
    step "layout (.clang-format)"
    if ! command -v clang-format >/dev/null; then
        failed+=("layout: clang-format is not installed")
    elif ! find bench cli conversion fuzz tests window \( -name '*.cpp' -o -name '*.h' \) -print0 |
            xargs -0 clang-format --dry-run --Werror >build/layout.log 2>&1; then
        cat build/layout.log
        echo "(clang-format -i FILE lays a file out as .clang-format asks)"
        failed+=("layout")
    fi

    # Qt may not even be looked for: configuring fails if anything asks for it. Those two variables
    # stay unused when nothing does, which is the point, so CMake is told not to warn about them.
    nowindow=build/nowindow
    compiler=()
    command -v clang++ >/dev/null && compiler=(-DCMAKE_CXX_COMPILER=clang++)
    step "without the window: configure and build ($nowindow${compiler:+, clang})"
    if cmake -S . -B "$nowindow" --no-warn-unused-cli "${compiler[@]}" -DCMAKE_BUILD_TYPE=Debug \
            -DQUILLARN_SANITIZE=ON -DQUILLARN_WINDOW=OFF -DQUILLARN_WERROR=$werror -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON \
            -DCMAKE_DISABLE_FIND_PACKAGE_Qt5=ON >"$nowindow-configure.log" 2>&1 &&
        cmake --build "$nowindow" -j"$(nproc)" >"$nowindow.log" 2>&1; then
        step "without the window: test"
        if (cd "$nowindow" && ctest --output-on-failure -j"$(nproc)") >"$nowindow-test.log" 2>&1; then
            grep -E "tests passed|tests failed" "$nowindow-test.log" | tail -1
        else
            cat "$nowindow-test.log"
            failed+=("tests without the window")
        fi
    else
        cat "$nowindow-configure.log" "$nowindow.log" 2>/dev/null || true
        failed+=("build without the window")
    fi
    # A warning when configuring is a mistake someone will trip over later: CI does not let it pass.
    if grep -qs "CMake Warning" "$build-configure.log" "$nowindow-configure.log"; then
        grep -s -A8 "CMake Warning" "$build-configure.log" "$nowindow-configure.log" || true
        failed+=("CMake warnings")
    fi

    if command -v clang++ >/dev/null; then
        fuzz/run.sh 60 || failed+=("fuzzing")
    else
        step "fuzzing skipped: clang is not installed"
    fi
fi

if [ ${#failed[@]} -ne 0 ]; then
    step "FAILED: $(IFS=,; echo "${failed[*]}")"
    exit 1
fi
