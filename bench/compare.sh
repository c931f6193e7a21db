#!/usr/bin/env bash
# Holds a change to the speed of the commit before it: builds ugi2sgf of two commits in Release and
# runs them side by side, turn about, on the same data in one run: the record with a 10 MB data
# section (CPU time of 20 conversions in a row, the best of seven) and 10,000 typical records in folders (ugi2sgf -q -d: wall
# time, the median of seven, each run into a folder of its own), with the peak memory of each.
#
#   bench/compare.sh [BEFORE [AFTER]]    commits, HEAD~1 and HEAD unless given
set -euo pipefail
cd "$(dirname "$0")/.."

before=$(git rev-parse "${1:-HEAD~1}")
after=$(git rev-parse "${2:-HEAD}")
work=build/compare
mkdir -p "$work"
[ -x /usr/bin/time ] || { echo "compare: needs GNU time (bench/run.sh installs it)" >&2; exit 1; }

build() { # commit -> path of its ugi2sgf
    local commit=$1 tree=$work/src-${1:0:12} out=$work/build-${1:0:12}
    if [ ! -x "$out/cli/ugi2sgf" ]; then
        rm -rf "$tree"
        git worktree add -f --detach "$tree" "$commit" >/dev/null 2>&1 || { mkdir -p "$tree"; git archive "$commit" | tar -x -C "$tree"; }
        { cmake -S "$tree" -B "$out" -DCMAKE_BUILD_TYPE=Release -DQUILLARN_WINDOW=OFF -DQUILLARN_TESTS=OFF \
              -DQUILLARN_BENCH=ON && cmake --build "$out" -j"$(nproc)" --target ugi2sgf quillarn_benchtool; } \
            >"$out.log" 2>&1 || { cat "$out.log"; exit 1; }
    fi
    echo "$PWD/$out"
}
echo "== build ${before:0:12} and ${after:0:12}"
dirs=("$(build "$before")" "$(build "$after")")

data=$work/data
mkdir -p "$data"
[ -f "$data/data-10.ugi" ] || "${dirs[1]}/bench/quillarn_benchtool" record "$data/data-10.ugi" 10
if [ ! -f "$data/archive.done" ]; then
    rm -rf "$data/archive"
    "${dirs[1]}/bench/quillarn_benchtool" tree "$data/archive" 10000 250
    touch "$data/archive.done"
fi
cat "$data"/archive/*/*/* >/dev/null

# Prints "seconds kilobytes": CPU time (user + system) or wall time, and the peak resident size.
measure() {
    local kind=$1
    shift
    /usr/bin/time -f '%U %S %e %M' -o "$work/time" "$@" >/dev/null 2>&1 || true
    awk -v kind="$kind" '{ printf "%.3f %d\n", kind == "cpu" ? $1 + $2 : $3, $4 }' "$work/time"
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
minimum() { printf '%s\n' "$@" | sort -g | head -1; }

declare -A record batch memory
runs=$work/runs
rm -rf "$runs"
for round in 1 2 3 4 5 6 7; do
    for i in 0 1; do
        side=$(((i + round) % 2))
        ugi2sgf=${dirs[side]}/cli/ugi2sgf
        read -r seconds kb < <(measure cpu sh -c 'for i in $(seq 20); do "$0" -q --encoding cp932 "$1" || exit; done' \
            "$ugi2sgf" "$data/data-10.ugi")
        record[$side]+="$seconds "
        memory[record$side]=$kb
        read -r seconds kb < <(measure wall "$ugi2sgf" --encoding cp932 -q -d "$runs/$side-$round" "$data/archive")
        batch[$side]+="$seconds "
        memory[batch$side]=$kb
    done
done
rm -rf "$runs"

for side in 0 1; do
    commit=$before
    [ "$side" = 1 ] && commit=$after
    # shellcheck disable=SC2086
    printf '%s  10 MB record, 20 times: %s s CPU (best), %s kB   10,000 records: %s s wall (median), %s kB\n' \
        "${commit:0:12}" "$(minimum ${record[$side]})" "${memory[record$side]}" \
        "$(median ${batch[$side]})" "${memory[batch$side]}"
done
