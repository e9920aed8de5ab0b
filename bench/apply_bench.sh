#!/usr/bin/env bash
# Applying a patch package against copying the same tree and against plain
# decompression of the same bytes, side by side in one run.
#
# Makes a game client's tree of mixed binaries and text (bench/make_tree.py)
# and packs it with mkpatch, once per work directory. Each round then measures
#   cp -r TREE OUT                        copying the tree
#   apply_bench apply PACKAGE OUT         the launcher's applier into an empty directory
#   apply_bench inflate PACKAGE --zlib    the package read through and every payload
#                                         decompressed one after the other on one thread
#                                         by the system's zlib, nothing written
#   apply_bench inflate PACKAGE           the same by the launcher's decompressor library
#   apply_bench inflate PACKAGE --all-cores  the package in memory and every payload
#                                         decompressed by that library on all cores at
#                                         once, nothing written: the floor for any
#                                         applier that decompresses
# with the tree and the package in the page cache ("warm"), and then durably:
#   cp -r TREE OUT; sync                  against
#   apply_bench apply PACKAGE OUT --sync  the applier and the launcher's one syncfs
# and prints the medians as seconds and as ratios (the reference's time over
# the applier's: 1.00 is as fast), with the applier's peak memory against its
# budget (the largest entry's compressed and uncompressed size + 64 MiB).
#
# The state of the machine's free memory matters as much as anything here.
# On a virtual machine that hands free memory back to its host (free page
# reporting), a page written for the first time since is faulted in by the
# host, which makes writing the tree several times slower; whether a run meets
# such pages is a matter of chance. So each measurement starts in a state
# chosen with --memory:
#   recycled  right after a scratch file as large as the tree and the package
#             was written, synced and deleted: the run writes into memory just
#             freed, as on a machine whose free memory is at hand (default)
#   fresh     after a pause of 3 s with nothing freed: mostly pages the host
#             took back (not reliably: the host decides)
#   both      each measurement in both states, shown side by side
#
# --tree chooses what is packed:
#   mixed     the client tree above (default)
#   small     20,000 files of 1-4 KiB; tar xf of the same tree is measured too
#             (goal: apply at least 1.5 times as fast)
#   large     one file of --size-mib MiB (default 1024): the goal is within
#             twice the decompressor on one stream plus a cp of the file, with
#             the applier's peak anonymous memory under its payload + 64 MiB
#
# Usage: bench/apply_bench.sh [--size-mib N] [--rounds N] [--seed N] [--memory STATE]
#                             [--tree KIND] [--bin DIR] [--work DIR]
#   --size-mib  size of the tree (default 200, for --tree large 1024)
#   --rounds    rounds, medians are printed (default 5)
#   --seed      of the tree's random parts (default 1)
#   --memory    recycled, fresh or both (default recycled; see above)
#   --bin       directory holding apply_bench and mkpatch (default: build-bench/bin,
#               build/default/bin, build/bin, whichever has both first)
#   --work      work directory (default ${TMPDIR:-/tmp}/launcher-apply-bench); the tree and
#               the package are kept there between runs
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
repo="$(dirname "$here")"
size_mib=""
tree_kind=mixed
rounds=5
seed=1
memory=recycled
bin=""
work="${TMPDIR:-/tmp}/launcher-apply-bench"

while [ $# -gt 0 ]; do
    case "$1" in
        --size-mib) size_mib="$2"; shift 2 ;;
        --rounds) rounds="$2"; shift 2 ;;
        --seed) seed="$2"; shift 2 ;;
        --memory) memory="$2"; shift 2 ;;
        --tree) tree_kind="$2"; shift 2 ;;
        --bin) bin="$2"; shift 2 ;;
        --work) work="$2"; shift 2 ;;
        -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) echo "apply_bench: unknown option $1" >&2; exit 2 ;;
    esac
done

case "$tree_kind" in
    mixed|small) size_mib=${size_mib:-200} ;;
    large) size_mib=${size_mib:-1024} ;;
    *) echo "apply_bench: --tree is mixed, small or large" >&2; exit 2 ;;
esac

case "$memory" in
    recycled|fresh) states="$memory" ;;
    both) states="recycled fresh" ;;
    *) echo "apply_bench: --memory is recycled, fresh or both" >&2; exit 2 ;;
esac

if [ -z "$bin" ]; then
    for candidate in "$repo/build-bench/bin" "$repo/build/default/bin" "$repo/build/bin"; do
        if [ -x "$candidate/apply_bench" ] && [ -x "$candidate/mkpatch" ]; then
            bin="$candidate"
            break
        fi
    done
fi
if [ -z "$bin" ] || [ ! -x "$bin/apply_bench" ] || [ ! -x "$bin/mkpatch" ]; then
    echo "apply_bench: no apply_bench and mkpatch found; build them first or pass --bin DIR" >&2
    exit 2
fi
bin="$(cd "$bin" && pwd)"

mkdir -p "$work"
work="$(cd "$work" && pwd)"
# The mixed tree keeps its old names; the others have their own.
suffix=""
[ "$tree_kind" = mixed ] || suffix="-$tree_kind"
tree="$work/tree$suffix"
package="$work/package$suffix.DAT"
tarball="$work/tree$suffix.tar"
stamp="$work/made-with$suffix"

# Outputs of earlier runs are moved aside, and removed only after the
# measurements: deleting a large tree right before the next one is written
# slows the file system down for the writer.
trash="$work/trash.$$"
mkdir -p "$trash"
for old in "$work"/run.*; do
    [ -e "$old" ] && mv "$old" "$trash/"
done
run="$work/run.$$"
mkdir -p "$run"
# Deleting thousands of files slows down creating the next thousands for
# minutes on an ext4 file system without a journal (as on these VMs): the
# inode allocator passes over every recently deleted inode, reading its
# table block, so a tree written right after a mass deletion takes up to ten
# times as long, whichever program writes it. Runs therefore start at least
# six minutes after the last deletion the benchmark made (the allocator looks
# back 60 s, 360 s while the inode table block is still dirty).
settle_s=360
deleted_stamp="$work/deleted-at"
cleanup() {
    if compgen -G "$work/trash.*/*" >/dev/null; then
        rm -rf "$work"/trash.*
        date +%s > "$deleted_stamp"
    fi
    rm -rf "$work"/trash.*
}
trap cleanup EXIT
trap 'exit 130' INT TERM
if [ -s "$deleted_stamp" ]; then
    wait_s=$(( $(cat "$deleted_stamp") + settle_s - $(date +%s) ))
    if [ "$wait_s" -gt 0 ]; then
        echo "waiting ${wait_s} s for the file system to settle after the last run's deletions ..." >&2
        sleep "$wait_s"
    fi
fi

# --- The tree and its package ----------------------------------------------------

wanted="$tree_kind size $size_mib seed $seed $(sha1sum "$here/make_tree.py" | cut -c1-12)"
if [ "$(cat "$stamp" 2>/dev/null)" != "$wanted" ] || [ ! -s "$package" ]; then
    echo "making a $tree_kind tree and its package ..." >&2
    [ -e "$tree" ] && mv "$tree" "$trash/tree"
    rm -f "$stamp" "$package" "$tarball"
    python3 "$here/make_tree.py" "$tree" --size-mib "$size_mib" --seed "$seed" \
        --kind "$tree_kind" >&2
    "$bin/mkpatch" build "$package" "$tree" >&2
    [ "$tree_kind" = small ] && tar -cf "$tarball" -C "$tree" .
    echo "$wanted" > "$stamp"
fi
listing=$("$bin/apply_bench" list "$package")
field() { echo "$listing" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
entries=$(field entries)
files_bytes=$(field files-bytes)
packed_bytes=$(field packed-bytes)
largest=$(field largest-entry-bytes)

# The inputs in the page cache, as for every warm round.
tar -cf - -C "$tree" . | cat > /dev/null
cat "$package" > /dev/null
[ -e "$tarball" ] && cat "$tarball" > /dev/null

# --- Measurements ----------------------------------------------------------------
# Each prints seconds (wall clock of the whole program run, or for inflate the
# decompression alone) and, for the applier, its peak memory in KiB.

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f\n", b - a }'; }

measure_cp() {
    local out="$run/cp.$1" start end
    start=$(now)
    cp -r "$tree" "$out"
    end=$(now)
    elapsed "$start" "$end"
}

measure_tar() {
    local out="$run/tar.$1" start end
    start=$(now)
    mkdir "$out"
    tar -xf "$tarball" -C "$out"
    end=$(now)
    elapsed "$start" "$end"
}

measure_cp_sync() {
    local out="$run/cp-sync.$1" start end
    start=$(now)
    cp -r "$tree" "$out"
    sync
    end=$(now)
    elapsed "$start" "$end"
}

apply_run() {  # output directory, then "--sync" or nothing
    local start end report
    start=$(now)
    report=$("$bin/apply_bench" apply "$package" "$@")
    end=$(now)
    echo "$(elapsed "$start" "$end") $(echo "$report" | sed -n 's/.*peak-rss-kib=\([0-9]*\).*/\1/p')" \
        "$(echo "$report" | sed -n 's/.*peak-anon-kib=\([0-9]*\).*/\1/p')"
    echo "$report" >> "$run/apply.reports"
}

measure_apply() { apply_run "$run/apply.$1"; }
measure_apply_sync() { apply_run "$run/apply-sync.$1" --sync; }

scratch_mib=$(( (files_bytes + packed_bytes) / 1048576 + 64 ))
prepare_recycled() {
    dd if=/dev/zero of="$work/scratch" bs=1M count="$scratch_mib" status=none
    sync
    rm "$work/scratch"
}
prepare_fresh() {
    sync
    sleep 3
}

measure_zlib() {
    "$bin/apply_bench" inflate "$package" --zlib | sed -n 's/^seconds=\([0-9.]*\) .*/\1/p'
}
measure_library() {
    "$bin/apply_bench" inflate "$package" | sed -n 's/^seconds=\([0-9.]*\) .*/\1/p'
}
measure_floor() {
    "$bin/apply_bench" inflate "$package" --all-cores | sed -n 's/^seconds=\([0-9.]*\) .*/\1/p'
}

median() {  # of column $1 of stdin
    awk -v c="$1" '{ print $c }' | sort -n | awk '{ v[NR] = $1 }
        END { if (NR == 0) print "n/a"; else if (NR % 2) printf "%.3f\n", v[(NR + 1) / 2];
              else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

spread() {  # lowest-highest of column 1 of stdin
    awk 'NR == 1 || $1 < lo { lo = $1 } NR == 1 || $1 > hi { hi = $1 }
        END { if (NR) printf "%.3f-%.3f\n", lo, hi; else print "" }'
}

mib() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }

echo "apply benchmark: $(mib "$files_bytes") MiB tree of $entries files, packed to" \
    "$(mib "$packed_bytes") MiB, $rounds rounds, memory: $memory" >&2
echo "apply_bench: $bin/apply_bench" >&2
case "$tree_kind" in
    mixed) warm="cp apply zlib library floor" ;;
    small) warm="cp tar apply library" ;;
    large) warm="cp apply library" ;;
esac
kinds="$warm cp_sync apply_sync"
for who in $kinds; do
    for state in $states; do : > "$run/$who.$state.results"; done
done
rotate() {  # the words of $1, starting at word $2 (from 0)
    local words=($1) n
    n=${#words[@]}
    for i in $(seq 0 $((n - 1))); do printf '%s ' "${words[$(( (i + $2) % n ))]}"; done
}
for round in $(seq "$rounds"); do
    # Rotate who goes first among the warm ones and among the durable ones;
    # each starts with no dirty pages of the others.
    order="$(rotate "$warm" "$round") $(rotate "cp_sync apply_sync" "$round")"
    for state in $states; do
        line="round $round, $state:"
        for who in $order; do
            prepare_$state
            result=$("measure_$who" "$round.$state")
            echo "$result" >> "$run/$who.$state.results"
            line="$line $who ${result%% *}"
        done
        echo "$line" >&2
    done
done

peak_kib=$(cat "$run"/apply*.results | awk '$2 > m { m = $2 } END { print m + 0 }')
anon_kib=$(cat "$run"/apply*.results | awk '$3 > m { m = $3 } END { print m + 0 }')
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f\n", a / b }'; }
cell() {  # who state: median seconds and spread
    local file="$run/$1.$2.results"
    printf '%7s %13s   ' "$(median 1 < "$file")" "$(spread < "$file")"
}
row() {  # name, who
    printf '  %-28s' "$1"
    for state in $states; do cell "$2" "$state"; done
    echo
}
compare() {  # what, reference, applier, goal
    printf '  %-40s' "$1"
    for state in $states; do
        printf ' %8s' "$(ratio "$(median 1 < "$run/$2.$state.results")" \
            "$(median 1 < "$run/$3.$state.results")")"
    done
    printf ' %8s\n' "$4"
}
# The large tree's goal: decompressing on one stream and copying the file, together.
for state in $states; do
    paste -d' ' "$run/library.$state.results" "$run/cp.$state.results" |
        awk '{ printf "%.4f\n", $1 + $2 }' > "$run/library_cp.$state.results"
done
printf '\n  %-28s' "seconds (lowest-highest)"
for state in $states; do printf ' %21s   ' "$state memory"; done
echo
echo "warm (tree and package in the page cache):"
row "cp -r" cp
[ "$tree_kind" = small ] && row "tar xf" tar
[ "$tree_kind" = mixed ] && row "zlib, one stream" zlib
row "decompressor, one stream" library
[ "$tree_kind" = mixed ] && row "  the same, on all cores" floor
row "apply" apply
echo "durable:"
row "cp -r; sync" cp_sync
row "apply; syncfs" apply_sync
printf '\n  %-40s' "ratios"
for state in $states; do printf ' %8s' "$state"; done
printf ' %8s\n' goal
case "$tree_kind" in
    mixed)
        compare "apply vs cp -r (warm)" cp apply ">= 0.60"
        compare "apply vs zlib, one stream (warm)" zlib apply ""
        compare "apply vs its decompressor, one stream" library apply ""
        compare "at best, nothing written, vs cp -r (warm)" cp floor ""
        compare "apply; syncfs vs cp -r; sync (durable)" cp_sync apply_sync ">= 0.80"
        ;;
    small)
        compare "apply vs tar xf (warm)" tar apply ">= 1.50"
        compare "apply vs cp -r (warm)" cp apply ""
        compare "apply; syncfs vs cp -r; sync (durable)" cp_sync apply_sync ""
        ;;
    large)
        compare "apply vs one stream + cp (warm)" library_cp apply ">= 0.50"
        compare "apply vs cp -r (warm)" cp apply ""
        compare "apply; syncfs vs cp -r; sync (durable)" cp_sync apply_sync ""
        ;;
esac
largest_packed=$(field largest-compressed)
budget=$((largest + 64 * 1048576))
anon_budget=$((largest_packed + 64 * 1048576))
printf '\npeak memory of apply: %s MiB (budget: largest entry %s MiB + 64 MiB = %s MiB)\n' \
    "$(mib $((peak_kib * 1024)))" "$(mib "$largest")" "$(mib "$budget")"
if [ $((peak_kib * 1024)) -gt "$budget" ]; then echo "  OVER BUDGET"; fi
printf 'peak anonymous memory of apply: %s MiB (budget: its payload %s MiB + 64 MiB = %s MiB)\n' \
    "$(mib $((anon_kib * 1024)))" "$(mib "$largest_packed")" "$(mib "$anon_budget")"
if [ $((anon_kib * 1024)) -gt "$anon_budget" ]; then echo "  OVER BUDGET"; fi
echo "(medians of $rounds rounds; outputs and logs in $run)"
