#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz and runs each for SECONDS (default 60),
# printing executions per second and totals. Exits non-zero on any finding; the input that caused
# it is kept in build/fuzz/findings/ and the log's end is printed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=build/fuzz
targets=(translate codepage sgfreader)

command -v clang++ >/dev/null || { echo "fuzz: clang++ is not installed" >&2; exit 1; }
mkdir -p "$build"
werror=OFF
[ "${CI:-}" = true ] && werror=ON
echo "== fuzz: build ($build)"
{ CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLARN_FUZZ=ON \
      -DQUILLARN_TESTS=OFF -DQUILLARN_WINDOW=OFF -DQUILLARN_WERROR=$werror &&
  cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"; } >"$build/build.log" 2>&1 ||
    { cat "$build/build.log"; exit 1; }

# Seeds: every record of the tests (UGI sources and SGF records) and the example. Each target's corpus
# folder keeps what it found interesting between runs; the seeds are read but never written.
seeds="$build/seeds"
rm -rf "$seeds" && mkdir -p "$seeds" "$build/findings"
cp tests/data/*.ugi tests/data/*.sgf examples/*.ugi "$seeds/"

status=0
total=0
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    log="$build/$target.log"
    mkdir -p "$corpus"
    echo "== fuzz: $target for ${seconds}s"
    dict=()
    [ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
    result=0
    "$build/fuzz/fuzz_$target" "$corpus" "$seeds" "${dict[@]}" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -max_len=16384 -print_final_stats=1 \
        -artifact_prefix="$build/findings/$target-" >"$log" 2>&1 || result=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    if [ "$result" -ne 0 ]; then
        tail -n 60 "$log"
        echo "fuzz: $target FOUND A FAULT after ${runs:-?} executions (exit $result); input in $build/findings/"
        status=1
    else
        echo "   $target: ${runs:-?} executions, ${rate:-?} per second, no finding"
    fi
    total=$((total + ${runs:-0}))
done
echo "== fuzz: $total executions in all, ${seconds}s per target"
exit $status
