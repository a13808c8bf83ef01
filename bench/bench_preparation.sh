#!/usr/bin/env bash
# The preparation of a job without a tree file (distances, tree builder, per-site trees,
# rooting) on alignments of 300 sites with gamma-distributed rates (shape 0.5), run with -C:
# the code before the processes shared the distances and the join steps (built from commit
# $BASE in a scratch work tree) against today's, in one run.
#
# Per alignment size and process count: seconds from the start to the first site handed out.
# -G 1000000 gives no site enough letters to be simulated, so the job ends right after the
# preparation and its result file is fixed: the distance file, the tree file and the result file
# of every run must equal those of the old path to the bit. The old path's preparation does not
# shorten with more processes (every process computes all of it), so it runs once per size, with
# 8 processes, and only up to OLD_LIMIT sequences. Then one whole job (-C, with the final phase)
# of WHOLE_SIZE sequences by both paths with 8 processes.
#
# Run: bash bench/bench_preparation.sh [build-dir]   (after bash scripts/build.sh build)
# Environment: SIZES (250 500 1000), PROCS (2 4 8), OLD_LIMIT (500), WHOLE_SIZE (250; 0: none).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
BASE=${BASE:-7b81cc8}
SIZES=${SIZES:-250 500 1000}
PROCS=${PROCS:-2 4 8}
OLD_LIMIT=${OLD_LIMIT:-500}
WHOLE_SIZE=${WHOLE_SIZE:-250}
work=$(mktemp -d)
old_tree="$work/old"
cleanup() {
    git -C "$root" worktree remove --force "$old_tree" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

git -C "$root" worktree add --detach "$old_tree" "$BASE" >/dev/null 2>&1
bash "$old_tree/scripts/build.sh" "$old_tree/build"
old="$old_tree/build/dadiverur"
new="$root/$build/dadiverur"

# run BIN PROCS SIZE DIR [options...]: a job in DIR; prints the seconds to the first site handed
# out and to the job's end.
run() {
    local bin=$1 procs=$2 size=$3 dir=$4
    shift 4
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$work/a$size.aln" "$dir/a.aln"
    (
        cd "$dir"
        local start=$EPOCHREALTIME
        mpiexec.mpich -n "$procs" "$bin" -i a.aln -C "$@" -o result.txt 2>err.txt |
            while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done >out.txt
        local end=$EPOCHREALTIME
        awk -v s="$start" -v e="$end" '/^[0-9.]+ server: .* send message for site/ && !f { f = $1 }
            END { printf "%.1f %.1f\n", f - s, e - s }' out.txt
    )
}

same_files() {
    local a=$1 b=$2
    for f in DISTMATRIX.txt a.tre result.txt; do cmp -s "$a/$f" "$b/$f" || { echo "differs: $f"; return; }; done
    echo "identical"
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for size in $SIZES; do "$build/bench/make_alignment" "$size" 300 "$size" 0.5 "$work/a$size.aln"; done

printf '%-10s %-6s %-9s %-9s %-7s %s\n' sequences procs old_prep new_prep ratio files
for size in $SIZES; do
    old_prep=""
    if [ "$size" -le "$OLD_LIMIT" ]; then
        read -r old_prep _ < <(run "$old" 8 "$size" "$work/old$size" -G 1000000)
    fi
    for procs in $PROCS; do
        read -r new_prep _ < <(run "$new" "$procs" "$size" "$work/new$size.$procs" -G 1000000)
        if [ -n "$old_prep" ]; then
            ratio=$(awk -v o="$old_prep" -v n="$new_prep" 'BEGIN { printf "%.1fx", o / n }')
            files=$(same_files "$work/old$size" "$work/new$size.$procs")
        else
            ratio="-"
            files="$(same_files "$work/new$size.${PROCS%% *}" "$work/new$size.$procs") (to ${PROCS%% *} processes)"
        fi
        printf '%-10s %-6s %-9s %-9s %-7s %s\n' "$size" "$procs" "${old_prep:--}" "$new_prep" "$ratio" "$files"
    done
done

if [ "$WHOLE_SIZE" -gt 0 ]; then
    "$build/bench/make_alignment" "$WHOLE_SIZE" 300 "$WHOLE_SIZE" 0.5 "$work/a$WHOLE_SIZE.aln"
    read -r old_first old_end < <(run "$old" 8 "$WHOLE_SIZE" "$work/wholeold")
    read -r new_first new_end < <(run "$new" 8 "$WHOLE_SIZE" "$work/wholenew")
    echo "whole job, $WHOLE_SIZE sequences, 8 processes: old $old_end s (first site at $old_first s), new $new_end s (first site at $new_first s)"
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
