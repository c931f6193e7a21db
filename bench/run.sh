#!/usr/bin/env bash
# Builds ugi2sgf in Release with the benchmarks, makes its own data, and measures in one run the
# figures of docs/performance.md, each against its goal:
#   1. a record with a 10 MB data section: ugi2sgf against iconv -f CP932 -t UTF-8 (time), and
#      ugi2sgf's peak memory (from /usr/bin/time -v) against the file size;
#   2. 10,000 typical records in folders: ugi2sgf -q -d OUT IN against cp -r IN OUT2 and against a
#      durable copy (cp -r, then sync), on the local disk and on a slow medium modelled by
#      libquillarn_slowflush.so (each flush call 10 ms longer); and its system calls per record
#      (strace -c -f);
#   3. growth: 1, 2, 4 and 8 MB data sections, each doubling against the time before it;
#   4. a batch's memory: the peaks of 30,000 and 100,000 records against that of 10,000, the
#      archive given as one path and as its ten folders (whose records share the output's folders):
#      the heap in use (heaptrack) and the resident size.
# Figures 1 and 3 compare CPU time (user + system; the wall time is shown beside it), the best of
# several runs, since other work on the machine only ever adds to it; both commands run on one
# thread. Figure 2 is wall time: the batch uses threads and waits for the disk. Its commands run
# interleaved, and the median of each is held to the goal, with the minimum shown beside it: the
# file system's state changes from run to run (each writes 10,000 new files), which slows some runs
# of every command far more than other work does. Exit status 0 when every goal is met, 1 when one
# is missed.
#
#   bench/run.sh              the figures
#   bench/run.sh --details    and then the Google Benchmark of the core's steps
set -euo pipefail
cd "$(dirname "$0")/.."

details=0
[ "${1:-}" = --details ] && details=1

echo "== setup"
scripts/setup.sh
# Installs Debian's PACKAGE when COMMAND is not there.
need() {
    command -v "$2" >/dev/null && return
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "bench: installing $1"
    "${sudo[@]}" apt-get update -q >/dev/null
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "$1" >/dev/null
}
need time /usr/bin/time  # GNU time gives the peak memory (the shell's time keyword does not)
need heaptrack heaptrack  # the peak of the heap in use
need strace strace        # the system calls of a batch

build=build/bench
echo "== build ($build, Release)"
mkdir -p build
{ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLARN_WINDOW=OFF -DQUILLARN_TESTS=OFF \
      -DQUILLARN_BENCH=ON &&
  cmake --build "$build" -j"$(nproc)" --target ugi2sgf quillarn_bench quillarn_benchtool quillarn_slowflush; } \
    >"$build.log" 2>&1 || { cat "$build.log"; exit 1; }
ugi2sgf=$PWD/$build/cli/ugi2sgf
tool=$PWD/$build/bench/quillarn_benchtool
slowflush=$PWD/$build/bench/libquillarn_slowflush.so

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
for n in 30000 100000; do
    if [ ! -f "$data/archive-$n.done" ]; then
        rm -rf "$data/archive-$n"
        "$tool" tree "$data/archive-$n" "$n" 250
        touch "$data/archive-$n.done"
    fi
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# The median and the minimum of the numbers given.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
minimum() { printf '%s\n' "$@" | sort -g | head -1; }
meets() { awk -v r="$1" -v g="$2" 'BEGIN { exit !(r <= g) }' && echo "met" || echo "MISSED"; }

echo "== 1. one record with a 10 MB data section"
big=$data/data-10.ugi
size=$(stat -c %s "$big")
"$tool" time 2 "$ugi2sgf" -q --encoding cp932 "$big" >/dev/null # the page cache, for both
read -r wall_ugi cpu_ugi < <("$tool" time 15 "$ugi2sgf" -q --encoding cp932 "$big")
read -r wall_iconv cpu_iconv < <("$tool" time 15 iconv -f CP932 -t UTF-8 "$big")
rss_kb=$(/usr/bin/time -v "$ugi2sgf" -q --encoding cp932 "$big" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { print $2 + 0 }')
r_time=$(ratio "$cpu_ugi" "$cpu_iconv")
r_wall=$(ratio "$wall_ugi" "$wall_iconv")
over_kb=$((rss_kb - size / 1024)) # peak memory beyond the file's size
echo "ugi2sgf $big > /dev/null: $cpu_ugi s CPU ($wall_ugi s wall)"
echo "iconv -f CP932 -t UTF-8 $big > /dev/null: $cpu_iconv s CPU ($wall_iconv s wall)"
echo "peak memory of ugi2sgf (/usr/bin/time -v): $rss_kb kB for a file of $size bytes ($over_kb kB more)"

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
# Seven rounds; each runs the five commands below in an order that turns from round to round, so
# that every figure is taken over the same minutes (the load of the machine drifts). The slow
# medium applies to ugi2sgf and to the durable copy (cp flushes nothing).
declare -A times
commands=(ugi cp durable ugi-slow durable-slow)
cat "$archive"/*/*/* >/dev/null # the page cache, for all
for round in 1 2 3 4 5 6 7; do
    for i in 0 1 2 3 4; do
        name=${commands[(i + round) % 5]}
        out=$runs/$name-$round
        preload=()
        [[ $name = *-slow ]] && preload=(env LD_PRELOAD="$slowflush")
        case $name in
        ugi*) command=("$ugi2sgf" --encoding cp932 -q -d "$out" "$archive") ;;
        cp) command=(cp -r "$archive" "$out") ;;
        durable*) command=(sh -c 'cp -r "$1" "$2" && sync' sh "$archive" "$out") ;;
        esac
        sync
        read -r wall cpu < <("${preload[@]}" "$tool" time 1 "${command[@]}")
        times[$name]="${times[$name]:-} $wall"
    done
done
declare -A least
for name in "${commands[@]}"; do
    # shellcheck disable=SC2086 # the times of a command, one word each
    least[$name]=$(minimum ${times[$name]})
    # shellcheck disable=SC2086
    times[$name]=$(median ${times[$name]})
done
t_batch=${times[ugi]} t_cp=${times[cp]} t_durable=${times[durable]}
t_batch_slow=${times[ugi-slow]} t_durable_slow=${times[durable-slow]}
files=$(find "$runs/ugi-1" -name '*.sgf' | wc -l)
# The system calls of one more run, all threads counted.
strace -c -f -o "$data/strace.txt" "$ugi2sgf" --encoding cp932 -q -d "$runs/strace" "$archive"
calls=$(awk '$1 ~ /^[0-9.]+$/ && $NF != "total" { n += ($4 ~ /^[0-9]+$/ && NF >= 5 ? $4 : 0) } END { print n }' "$data/strace.txt")
records=$(find "$archive" -name '*.ugi' | wc -l)
rm -rf "$runs"
r_batch_cp=$(ratio "$t_batch" "$t_cp")
r_batch_durable=$(ratio "$t_batch" "$t_durable")
r_batch_slow=$(ratio "$t_batch_slow" "$t_durable_slow")
echo "medians (minimums) of seven runs:"
echo "ugi2sgf -q -d OUT $archive ($files records written): $t_batch s (${least[ugi]} s)"
echo "cp -r: $t_cp s (${least[cp]} s); cp -r && sync: $t_durable s (${least[durable]} s)"
echo "on the slow medium (LD_PRELOAD=$slowflush): ugi2sgf $t_batch_slow s (${least[ugi-slow]} s);" \
     "cp -r && sync: $t_durable_slow s (${least[durable-slow]} s)"
m_batch_cp=$(ratio "${least[ugi]}" "${least[cp]}")
m_batch_durable=$(ratio "${least[ugi]}" "${least[durable]}")
per_record=$(ratio "$calls" "$records")
echo "system calls (strace -c -f): $calls for $records records, $per_record a record"

echo "== 3. growth with the size of the data section"
declare -A cpu_grow
for mb in 1 2 4 8; do
    read -r wall cpu < <("$tool" time 15 "$ugi2sgf" -q --encoding cp932 "$data/data-$mb.ugi")
    cpu_grow[$mb]=$cpu
    echo "ugi2sgf data-$mb.ugi > /dev/null: $cpu s CPU ($wall s wall)"
done
g1=$(ratio "${cpu_grow[2]}" "${cpu_grow[1]}")
g2=$(ratio "${cpu_grow[4]}" "${cpu_grow[2]}")
g3=$(ratio "${cpu_grow[8]}" "${cpu_grow[4]}")

echo "== 4. a batch's memory as the archive grows, given as one path and as its ten folders"
# The peak resident size (time -v) counts what the allocator keeps as well as what is in use; the
# peak of the heap in use (heaptrack) is what the program holds, which must not grow with the records.
mem_runs=$data/memory
rss() { /usr/bin/time -v "$ugi2sgf" --encoding cp932 -q -d "$@" 2>&1 >/dev/null |
        awk -F: '/Maximum resident set size/ { print $2 + 0 }'; }
heap() {
    heaptrack -o "$mem_runs/heap" "$ugi2sgf" --encoding cp932 -q -d "$@" >/dev/null 2>&1
    heaptrack_print "$mem_runs/heap.zst" 2>/dev/null | awk '/peak heap memory consumption/ {
        v = $NF; u = substr(v, length(v)); n = v + 0
        print int(u == "G" ? n * 1048576 : u == "M" ? n * 1024 : u == "K" ? n : n / 1024) }'
    rm -f "$mem_runs/heap.zst"
}
declare -A rss_one rss_several heap_one heap_several
for n in 10000 30000 100000; do
    tree=$data/archive-$n
    [ "$n" = 10000 ] && tree=$archive
    rm -rf "$mem_runs"
    mkdir -p "$mem_runs"
    rss_one[$n]=$(rss "$mem_runs/one" "$tree")
    rss_several[$n]=$(rss "$mem_runs/several" "$tree"/*)
    rm -rf "$mem_runs/one" "$mem_runs/several"
    heap_one[$n]=$(heap "$mem_runs/one" "$tree")
    heap_several[$n]=$(heap "$mem_runs/several" "$tree"/*)
    echo "$n records: peak resident $((rss_one[$n])) kB (one path), $((rss_several[$n])) kB (ten);" \
         "peak heap $((heap_one[$n])) kB, $((heap_several[$n])) kB"
done
rm -rf "$mem_runs"
r_rss_one=$(ratio "${rss_one[100000]}" "${rss_one[10000]}")
r_rss_several=$(ratio "${rss_several[100000]}" "${rss_several[10000]}")
r_heap_one=$(ratio "${heap_one[100000]}" "${heap_one[10000]}")
r_heap_several=$(ratio "${heap_several[100000]}" "${heap_several[10000]}")

figures="1. 10 MB data section, time:   $r_time x iconv in CPU time, $r_wall x in wall time (goal <= 1.2): $(meets "$r_time" 1.2)
   10 MB data section, memory: $over_kb kB beyond the file's size (goal <= 16384): $(meets "$over_kb" 16384)
2. 10,000 records, medians:    $r_batch_durable x the durable copy (goal <= 0.8): $(meets "$r_batch_durable" 0.8)
                               $r_batch_cp x cp -r (goal <= 1.2): $(meets "$r_batch_cp" 1.2)
   (minimums:                  $m_batch_durable x the durable copy, $m_batch_cp x cp -r)
   on a slow medium:           $r_batch_slow x the durable copy (goal <= 1.5): $(meets "$r_batch_slow" 1.5)
   system calls:               $per_record a record (goal <= 9): $(meets "$per_record" 9)
3. growth 1>2, 2>4, 4>8 MB:    $g1 $g2 $g3 x (goal 4>8 <= 2.1): $(meets "$g3" 2.1)
4. batch memory, 100,000/10,000 records, one path and ten:
   heap in use:                $r_heap_one x, $r_heap_several x (goal <= 1.05): $(meets "$r_heap_one" 1.05), $(meets "$r_heap_several" 1.05)
   resident, one path:         $r_rss_one x (goal <= 1.2): $(meets "$r_rss_one" 1.2)
   (resident, ten paths:       $r_rss_several x: what the allocator keeps of the output folders' listings)"
echo
echo "== figures"
echo "$figures"

if [ "$details" = 1 ]; then
    echo
    echo "== Google Benchmark: the core's steps"
    "$build/bench/quillarn_bench" --benchmark_filter='typical|dataSection|Large|Folder'
fi
[[ $figures != *MISSED* ]]
