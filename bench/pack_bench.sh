#!/usr/bin/env bash
# Building a patch package against the usual ways of packing a tree, side by
# side in one run, on the same tree (bench/make_tree.py, kept in the work
# directory) read from the page cache:
#   mkpatch build OUT.DAT TREE          every core (libdeflate where built with it)
#   mkpatch build --threads 1 ...       one thread, for the gain of the others
#   tar cf - TREE | gzip -6 > OUT       one thread
#   tar cf - TREE | pigz -6 > OUT       every core
# Prints the medians of the wall and CPU times, the output sizes, and each as a
# ratio to pigz's (below 1.00: faster, smaller), with the load average before
# the run: on a shared machine the CPU seconds vary far less than the wall time. Checks that the
# packages of every round and thread count are byte-identical.
#
# Usage: bench/pack_bench.sh [--size-mib N] [--rounds N] [--seed N] [--bin DIR] [--work DIR]
#   --size-mib  size of the tree (default 300)
#   --rounds    rounds, medians are printed (default 5)
#   --bin       directory holding mkpatch (default: build-bench/bin, build/default/bin)
#   --work      work directory (default ${TMPDIR:-/tmp}/launcher-pack-bench)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
repo="$(dirname "$here")"
size_mib=300
rounds=5
seed=1
bin=""
work="${TMPDIR:-/tmp}/launcher-pack-bench"

while [ $# -gt 0 ]; do
    case "$1" in
        --size-mib) size_mib="$2"; shift 2 ;;
        --rounds) rounds="$2"; shift 2 ;;
        --seed) seed="$2"; shift 2 ;;
        --bin) bin="$2"; shift 2 ;;
        --work) work="$2"; shift 2 ;;
        -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) echo "pack_bench: unknown option $1" >&2; exit 2 ;;
    esac
done
if [ -z "$bin" ]; then
    for candidate in "$repo/build-bench/bin" "$repo/build/default/bin" "$repo/build/bin"; do
        if [ -x "$candidate/mkpatch" ]; then bin="$candidate"; break; fi
    done
fi
[ -x "$bin/mkpatch" ] || { echo "pack_bench: no mkpatch (build it, or give --bin)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "pack_bench: needs /usr/bin/time (apt-get install time)" >&2; exit 2; }
for tool in pigz gzip tar python3 bc; do
    command -v "$tool" >/dev/null || { echo "pack_bench: needs $tool (apt-get install $tool)" >&2; exit 2; }
done

mkdir -p "$work"
tree="$work/tree-$size_mib-$seed"
if [ ! -d "$tree" ]; then
    python3 "$here/make_tree.py" "$tree" --size-mib "$size_mib" --seed "$seed" >/dev/null
fi
out="$work/out"
rm -rf "$out"
mkdir -p "$out"
# Warm the page cache with the tree.
tar cf - -C "$tree" . >/dev/null
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# "WALL CPU" seconds of one command (its output dropped); CPU counts every
# process of a pipeline.
timed() {
    /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >/dev/null
    awk '{ printf "%s,%.2f", $1, $2 + $3 }' "$work/time"
}
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

declare -A times
names=(mkpatch mkpatch1 gzip pigz)
for round in $(seq 1 "$rounds"); do
    times[mkpatch]+="$(timed "$bin/mkpatch" build "$out/m-$round.dat" "$tree") "
    times[mkpatch1]+="$(timed "$bin/mkpatch" build --threads 1 "$out/m1.dat" "$tree") "
    times[gzip]+="$(timed sh -c "tar cf - -C '$tree' . | gzip -6 > '$out/t.tar.gz'") "
    times[pigz]+="$(timed sh -c "tar cf - -C '$tree' . | pigz -6 > '$out/p.tar.gz'") "
    cmp -s "$out/m-$round.dat" "$out/m1.dat" || { echo "pack_bench: packages differ with the thread count" >&2; exit 1; }
    [ "$round" = 1 ] || cmp -s "$out/m-$round.dat" "$out/m-1.dat" || { echo "pack_bench: packages differ between rounds" >&2; exit 1; }
    [ "$round" = 1 ] || rm -f "$out/m-$round.dat"
done

bytes() { stat -c %s "$1"; }
declare -A size=([mkpatch]=$(bytes "$out/m-1.dat") [mkpatch1]=$(bytes "$out/m1.dat")
                 [gzip]=$(bytes "$out/t.tar.gz") [pigz]=$(bytes "$out/p.tar.gz"))
declare -A label=([mkpatch]="mkpatch build ($(nproc) cores)" [mkpatch1]="mkpatch build --threads 1"
                  [gzip]="tar | gzip -6" [pigz]="tar | pigz -6")
tree_bytes=$(du -sb "$tree" | cut -f1)
wall() { echo "${times[$1]}" | tr ' ' '\n' | grep . | cut -d, -f1 | median; }
cpu() { echo "${times[$1]}" | tr ' ' '\n' | grep . | cut -d, -f2 | median; }
pigz_time=$(wall pigz)
pigz_cpu=$(cpu pigz)
echo "tree: $tree ($(find "$tree" -type f | wc -l) files, $tree_bytes bytes), $rounds rounds, $(nproc) cores"
echo "load average before: $load_before; memory: $(free -m | awk '/Mem:/ { print $7 " MiB available of " $2 }')"
printf '%-28s %8s %8s %13s %7s %8s %8s %8s\n' "" "seconds" "CPU s" "bytes" "ratio" "vs pigz" "CPU vs" "size vs"
for name in "${names[@]}"; do
    t=$(wall "$name")
    c=$(cpu "$name")
    printf '%-28s %8.2f %8.2f %13d %7.3f %8.2f %8.2f %8.3f\n' "${label[$name]}" "$t" "$c" "${size[$name]}" \
        "$(echo "${size[$name]} / $tree_bytes" | bc -l)" "$(echo "$t / $pigz_time" | bc -l)" \
        "$(echo "$c / $pigz_cpu" | bc -l)" "$(echo "${size[$name]} / ${size[pigz]}" | bc -l)"
done
rm -rf "$out"
