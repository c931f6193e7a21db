#!/usr/bin/env bash
# Sets up, builds every test under AddressSanitizer and UndefinedBehaviorSanitizer, and runs them;
# builds the web page and runs its browser test in headless Chromium.
# In CI (CI=true) it also checks the layout of the C++ sources against .clang-format and that CMake
# configures without a warning, builds and tests once without the window, which proves that the core
# and ugi2sgf need no Qt, runs each fuzz target for a minute when clang is there, and builds ugi2sgf,
# the window and its installer for Windows and tests them under wine.
# The exit status is non-zero when any part fails; logs (in build/) are printed only for a part that fails.
set -euo pipefail
cd "$(dirname "$0")"

step() { echo "== $*"; }
failed=()

# Runs a long command with all it prints going to the file $1, and shows now and then (every 20
# seconds at most) the last line that tells how far it is: cmake's "[ 45%] Building ..." or ctest's
# "12/57 Test #3: ...". Returns the command's status.
progress() {
    local log=$1
    shift
    "$@" 2>&1 | {
        local line last=$SECONDS
        while IFS= read -r line; do
            printf '%s\n' "$line"
            if ((SECONDS - last >= 20)) && [[ $line =~ ^\[\ *[0-9]+%\]|^\ *[0-9]+/[0-9]+\ Test ]]; then
                last=$SECONDS
                printf '   %s\n' "${line:0:110}" >&3
            fi
        done
    } 3>&1 >"$log"
    return "${PIPESTATUS[0]}"
}

step "setup"
# The web page and its browser test are part of every run.
QUILLARN_SETUP_WEB=1 scripts/setup.sh

mkdir -p build
build=build/test
werror=OFF
[ "${CI:-}" = true ] && werror=ON
step "configure ($build)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DQUILLARN_SANITIZE=ON -DQUILLARN_WERROR=$werror \
    >"$build-configure.log" 2>&1 || { cat "$build-configure.log"; exit 1; }
step "build"
progress "$build.log" cmake --build "$build" -j"$(nproc)" || { cat "$build.log"; exit 1; }
step "test"
(cd "$build" && ctest --output-on-failure -j"$(nproc)") || failed+=("tests")

# The web page: the core compiled to WebAssembly with emscripten, the site around it, and one
# session of headless Chromium that holds it to the ugi2sgf just built (tests/web/browser_test.py).
step "web: build the page (build-web/site), then again at once with 16 steps at a time"
# A second build over the first must make the same site, its steps in any order.
if progress build/web.log web/build.sh && QUILLARN_JOBS=16 progress build/web-again.log web/build.sh &&
        [ -s build-web/site/icons/quillarn-192.png ] && [ -s build-web/site/icons/quillarn-512.png ]; then
    step "web: browser test"
    if /usr/bin/python3 tests/web/browser_test.py --site build-web/site --ugi2sgf "$build/cli/ugi2sgf" \
            --webcheck "$build/tests/quillarn_webcheck" --axe build-web/npm/node_modules/axe-core/axe.min.js \
            >build/web-test.log 2>&1; then
        tail -1 build/web-test.log
    else
        cat build/web-test.log
        failed+=("browser test")
    fi
else
    cat build/web.log build/web-again.log 2>/dev/null || true
    failed+=("web build")
fi

step "layers of the library and files through its layer (scripts/check_layers.sh)"
scripts/check_layers.sh && echo "encodings < files < translation; files only through the layer" || failed+=("layers")

if [ "${CI:-}" = true ]; then
    step "layout (.clang-format)"
    if ! command -v clang-format >/dev/null; then
        failed+=("layout: clang-format is not installed")
    elif ! find bench cli conversion fuzz tests thumbnailer web window \( -name '*.cpp' -o -name '*.h' \) -print0 |
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
        progress "$nowindow.log" cmake --build "$nowindow" -j"$(nproc)"; then
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

if [ "${CI:-}" = true ]; then
    # Windows: ugi2sgf.exe cross-built with mingw-w64 (-Werror), its core and command-line suites
    # run under wine with a Japanese locale (code page 932) and an English one (1252), the records
    # it writes under both compared byte for byte with the Linux build's, and the zip made.
    win=build/win64
    export WINEPREFIX="$PWD/$win/wineprefix" WINEDEBUG=-all
    step "Windows: configure and build ($win, mingw-w64)"
    if cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake -DCMAKE_BUILD_TYPE=Release \
            -DQUILLARN_WINDOW=ON -DQUILLARN_WERROR=ON >"$win-configure.log" 2>&1 &&
        progress "$win.log" cmake --build "$win" -j"$(nproc)"; then
        if [ ! -d "$WINEPREFIX" ]; then
            step "Windows: a new wine prefix ($WINEPREFIX; a minute or two, once)"
            scripts/wine-run.sh wineboot -i >>"$win.log" 2>&1 || true
        fi
        wintest=$PWD/$win-test.log
        for lang in ja_JP.UTF-8 en_US.UTF-8; do
            step "Windows: test under wine, LANG=$lang"
            # A test that fails is run once more on its own, and a second failure counts: wine has
            # failed to start a program now and then (see scripts/wine-run.sh), and the log below
            # names every test that needed the second run.
            if (cd "$win" && LANG=$lang progress "$wintest" ctest --output-on-failure -j"$(nproc)"); then
                grep -E "tests passed|tests failed" "$win-test.log" | tail -1
            elif (cd "$win" && LANG=$lang ctest --output-on-failure --rerun-failed) >"$win-retest.log" 2>&1; then
                grep -E "tests passed|tests failed" "$win-test.log" | tail -1
                echo "passed when run again:"
                sed -n '/The following tests FAILED:/,/Errors while running/p' "$win-test.log" | grep -E '^\s+[0-9]+ - ' || true
            else
                cat "$win-test.log" "$win-retest.log"
                failed+=("Windows tests ($lang)")
            fi
            step "Windows: records against the Linux build's, LANG=$lang"
            differ=()
            compared=0
            for source in examples/kisei.ugi tests/data/*.ugi; do
                for encoding in cp932 utf-8; do
                    "$build/cli/ugi2sgf" --encoding $encoding "$source" >"$win/linux.sgf" 2>/dev/null || true
                    LANG=$lang scripts/wine-run.sh "$win/cli/ugi2sgf.exe" --encoding $encoding "$source" \
                        >"$win/windows.sgf" 2>/dev/null || true
                    cmp -s "$win/linux.sgf" "$win/windows.sgf" || differ+=("$source ($encoding)")
                    compared=$((compared + 1))
                done
                ((compared % 10 != 0)) || echo "   $compared records compared"
            done
            if [ ${#differ[@]} -eq 0 ]; then
                echo "the same $compared records as the Linux build, byte for byte"
            else
                echo "records that differ from the Linux build's: ${differ[*]}"
                failed+=("Windows records ($lang)")
            fi
        done
        # On a console (wine's, on a pseudo-terminal) the progress bar shows, and a name in any script
        # and the Japanese message read right whatever the console's code page (932 here, which has
        # no Korean).
        step "Windows: console"
        console=$win/console
        runner=$PWD/scripts/wine-run.sh
        rm -rf "$console" && mkdir -p "$console/in"
        cp tests/data/basic-game.ugi "$console/in/a.ugi"
        cp tests/data/missing-date.ugi "$console/in/한국 é.ugi"
        shown=$(cd "$console" && LANG=ja_JP.UTF-8 script -qc "$runner ../cli/ugi2sgf.exe -d out in" \
            /dev/null | tr -d '\r') || true
        if grep -q '] 0/2 in' <<<"$shown" && grep -q 'in\\한국 é.ugi: ヘッダーにキー「Date=」がありません' <<<"$shown"; then
            echo "progress bar and names shown"
        else
            echo "$shown"
            failed+=("Windows console")
        fi
        step "Windows: zip"
        (cd "$win" && cpack -G ZIP >>"../win64.log" 2>&1) && ls "$win"/quillarn-*-win64.zip ||
            failed+=("Windows zip")
        for program in "$win/cli/ugi2sgf.exe" "$win/window/windows/quillarn.exe"; do
            if x86_64-w64-mingw32-objdump -p "$program" | grep -qi "DLL Name: lib"; then
                echo "$(basename "$program") needs a mingw DLL"
                failed+=("Windows static link")
            fi
        done
        # The window, driven by keys on a virtual display, in Japanese (code page 932).
        step "Windows: the window under wine (Xvfb)"
        # Run once more when it fails, as the tests above: wine has failed to start a program now and then.
        if xvfb-run -a -s "-screen 0 1024x768x24" tests/windows/window_walk.sh "$win" >"$win-window.log" 2>&1 ||
            { echo "the walk failed once; again:" && sed 's/^/   /' "$win-window.log" &&
              xvfb-run -a -s "-screen 0 1024x768x24" tests/windows/window_walk.sh "$win" >"$win-window.log" 2>&1; }; then
            tail -1 "$win-window.log"
        else
            cat "$win-window.log"
            failed+=("Windows window")
        fi
        step "Windows: installer"
        installer_test() {
            xvfb-run -a -s "-screen 0 1024x768x24" tests/windows/installer_test.sh "$win"/quillarn-setup-*.exe \
                >"$win-installer.log" 2>&1
        }
        if cmake --build "$win" --target installer >>"$win.log" 2>&1 &&
            { installer_test || { echo "the installer test failed once; again:" &&
                                  sed 's/^/   /' "$win-installer.log" && installer_test; }; }; then
            tail -1 "$win-installer.log"
        else
            cat "$win-installer.log" 2>/dev/null || tail -20 "$win.log"
            failed+=("Windows installer")
        fi
    else
        cat "$win-configure.log" "$win.log" 2>/dev/null || true
        failed+=("Windows build")
    fi
fi

if [ ${#failed[@]} -ne 0 ]; then
    step "FAILED: $(IFS=,; echo "${failed[*]}")"
    exit 1
fi
