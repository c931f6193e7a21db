#!/usr/bin/env bash
# Builds ugi2sgf in Release with the benchmarks, makes its own data, and measures in one run the
# three figures of docs/performance.md, each against its goal:
#   1. a record with a 10 MB data section: ugi2sgf against iconv -f CP932 -t UTF-8 (time), and
#      ugi2sgf's peak memory (from /usr/bin/time -v) against the file size;
#   2. 10,000 typical records in folders: ugi2sgf -d OUT IN against cp -r IN OUT2;
#   3. growth: 1, 2, 4 and 8 MB data sections, each doubling against the time before it.
# Times are the best of several runs, since other work on the machine only ever adds to them.
# Figures 1 and 3 compare CPU time (user + system; the wall time is shown beside it), which that
# other work does not inflate; both commands run on one thread. Figure 2 is wall time: the batch
# uses threads and waits for the disk. Exit status 0 when every goal is met, 1 when one is missed.
#
#   bench/run.sh              the figures
#   bench/run.sh --details    and then the Google Benchmark of the core's steps
set -euo pipefail
cd "$(dirname "$0")/.."

details=0
[ "${1:-}" = --details ] && details=1

echo "== setup"
scripts/setup.sh
# GNU time gives the peak memory (the shell's time keyword does not).
if [ ! -x /usr/bin/time ]; then
    sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "bench: installing time"
    "${sudo[@]}" apt-get update -q >/dev/null
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends time >/dev/null
fi

build=build/bench
echo "== build ($build, Release)"
mkdir -p build
{ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLARN_WINDOW=OFF -DQUILLARN_TESTS=OFF \
      -DQUILLARN_BENCH=ON &&
  cmake --build "$build" -j"$(nproc)" --target ugi2sgf quillarn_bench quillarn_benchtool quillarn_nofsync; } \
    >"$build.log" 2>&1 || { cat "$build.log"; exit 1; }
ugi2sgf=$PWD/$build/cli/ugi2sgf
tool=$PWD/$build/bench/quillarn_benchtool
nofsync=$PWD/$build/bench/libquillarn_nofsync.so

data=$build/data
echo "== data ($data)"
mkdir -p "$data"
for mb in 1 2 4 8 10; do
    [ -f "$data/data-$mb.ugi" ] || "$tool" record "$data/data-$mb.ugi" "$mb"
done
if [ ! -f "$data/archive.done" ]; then
    rm -rf "$data/archive"
    "$tool" tree "$data/archive" 10000 250
    touch "$data/archive.done"
fi

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
smaller() { awk -v a="$1" -v b="${2:-$1}" 'BEGIN { print (a < b ? a : b) }'; }
meets() { awk -v r="$1" -v g="$2" 'BEGIN { exit !(r <= g) }' && echo "met" || echo "MISSED"; }

echo "== 1. one record with a 10 MB data section"
big=$data/data-10.ugi
size=$(stat -c %s "$big")
"$tool" time 2 "$ugi2sgf" "$big" >/dev/null # the page cache, for both
read -r wall_ugi cpu_ugi < <("$tool" time 15 "$ugi2sgf" "$big")
read -r wall_iconv cpu_iconv < <("$tool" time 15 iconv -f CP932 -t UTF-8 "$big")
rss_kb=$(/usr/bin/time -v "$ugi2sgf" "$big" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { print $2 + 0 }')
r_time=$(ratio "$cpu_ugi" "$cpu_iconv")
r_wall=$(ratio "$wall_ugi" "$wall_iconv")
r_mem=$(ratio "$((rss_kb * 1024))" "$size")
echo "ugi2sgf $big > /dev/null: $cpu_ugi s CPU ($wall_ugi s wall)"
echo "iconv -f CP932 -t UTF-8 $big > /dev/null: $cpu_iconv s CPU ($wall_iconv s wall)"
echo "peak memory of ugi2sgf (/usr/bin/time -v): $rss_kb kB for a file of $size bytes"

echo "== 2. 10,000 typical records in folders"
archive=$data/archive
runs=$data/runs
# Every run writes into a folder of its own and nothing is deleted until the end: ext4 passes over
# recently deleted inodes when it allocates new ones, so a run right after the deletion of many
# files would pay for it. Leftovers of an interrupted run are removed and given time to age.
if [ -e "$runs" ]; then
    rm -rf "$runs"
    sync
    sleep 10
fi
mkdir -p "$runs"
# batch NAME [PRELOAD]: the best of three runs of each, cp first in one round and second in the next.
batch() {
    local name=$1 preload=${2:-} best_ugi= best_cp= wall cpu round step
    for round in 1 2 3; do
        for step in $( ((round % 2)) && echo "cp ugi" || echo "ugi cp"); do
            sync
            if [ "$step" = ugi ]; then
                read -r wall cpu < <(env ${preload:+LD_PRELOAD=$preload} \
                    "$tool" time 1 "$ugi2sgf" -q -d "$runs/$name-ugi-$round" "$archive")
                best_ugi=$(smaller "$wall" "$best_ugi")
            else
                read -r wall cpu < <("$tool" time 1 cp -r "$archive" "$runs/$name-cp-$round")
                best_cp=$(smaller "$wall" "$best_cp")
            fi
        done
    done
    echo "$best_ugi $best_cp"
}
cat "$archive"/*/*/* >/dev/null # the page cache, for both
read -r t_batch t_cp < <(batch fsync)
read -r t_batch_nofsync t_cp_nofsync < <(batch nofsync "$nofsync")
files=$(find "$runs/fsync-ugi-1" -name '*.sgf' | wc -l)
rm -rf "$runs"
r_batch=$(ratio "$t_batch" "$t_cp")
r_batch_nofsync=$(ratio "$t_batch_nofsync" "$t_cp_nofsync")
echo "ugi2sgf -q -d OUT $archive ($files records written): $t_batch s; cp -r: $t_cp s"
echo "the same with fsync made a no-op (LD_PRELOAD=$nofsync): $t_batch_nofsync s; cp -r: $t_cp_nofsync s"

echo "== 3. growth with the size of the data section"
declare -A cpu_grow
for mb in 1 2 4 8; do
    read -r wall cpu < <("$tool" time 15 "$ugi2sgf" "$data/data-$mb.ugi")
    cpu_grow[$mb]=$cpu
    echo "ugi2sgf data-$mb.ugi > /dev/null: $cpu s CPU ($wall s wall)"
done
g1=$(ratio "${cpu_grow[2]}" "${cpu_grow[1]}")
g2=$(ratio "${cpu_grow[4]}" "${cpu_grow[2]}")
g3=$(ratio "${cpu_grow[8]}" "${cpu_grow[4]}")
g_max=$(printf '%s\n' "$g1" "$g2" "$g3" | sort -g | tail -1)

figures="1. 10 MB data section, time:   $r_time x iconv in CPU time, $r_wall x in wall time (goal <= 1.5): $(meets "$r_time" 1.5)
   10 MB data section, memory: $r_mem x the file size (goal <= 8): $(meets "$r_mem" 8)
2. 10,000 records:             $r_batch x cp -r (goal <= 3): $(meets "$r_batch" 3)
   without fsync:              $r_batch_nofsync x cp -r (for comparison)
3. growth 1>2, 2>4, 4>8 MB:    $g1 $g2 $g3 x (goal each <= 2.2): $(meets "$g_max" 2.2)"
echo
echo "== figures"
echo "$figures"

if [ "$details" = 1 ]; then
    echo
    echo "== Google Benchmark: the core's steps"
    "$build/bench/quillarn_bench" --benchmark_filter='typical|dataSection|Large'
fi
[[ $figures != *MISSED* ]]
