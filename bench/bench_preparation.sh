#!/usr/bin/env bash
# The preparation of a job without a tree file (distances, tree builder, per-site trees,
# rooting) on alignments of 300 sites with gamma-distributed rates (shape 0.5), run with -C:
# the code before the processes shared the distances and the join steps (built from commit
# $BASE in a scratch work tree) against today's, in one run.
#
# Per alignment size and process count: seconds from the start to the first site handed out,
# where the job is stopped, and for WHOLE_SIZES the whole job with 8 processes. The old path's
# preparation does not shorten with more processes (every process computes all of it), so it runs
# with 8 processes only. The distance file and the tree file of every run, and the tables that the
# result file holds before the final phase, must equal those of the old path to the bit (the old
# path's tables only where its whole job ran: a stopped old job may not have written them out).
#
# Run: bash bench/bench_preparation.sh [build-dir]   (after bash scripts/build.sh build)
# Environment: SIZES (250 500 1000), PROCS (2 4 8), WHOLE_SIZES (250 500).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
BASE=${BASE:-7b81cc8}
SIZES=${SIZES:-250 500 1000}
PROCS=${PROCS:-2 4 8}
WHOLE_SIZES=${WHOLE_SIZES:-250 500}
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

# run BIN PROCS SIZE DIR whole|stop: a job with -C in DIR, stopped at the first site handed out
# unless whole; prints the seconds to the first site handed out and to the job's end.
run() {
    local bin=$1 procs=$2 size=$3 dir=$4 mode=$5
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$work/a$size.aln" "$dir/a.aln"
    (
        cd "$dir"
        local start=$EPOCHREALTIME
        mpiexec.mpich -n "$procs" "$bin" -i a.aln -C -o result.txt 2>err.txt \
            > >(while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done >out.txt) &
        local job=$!
        if [ "$mode" = stop ]; then
            while kill -0 "$job" 2>/dev/null && ! grep -qs ' send message for site' out.txt; do sleep 0.05; done
            kill -TERM "$job" 2>/dev/null || true
        fi
        wait "$job" || true
        local end=$EPOCHREALTIME
        sleep 0.5 # the time stamps of the last lines
        awk -v s="$start" -v e="$end" '/^[0-9.]+ server: .* send message for site/ && !f { f = $1 }
            END { printf "%.1f %.1f\n", f - s, e - s }' out.txt
    )
}

# The result file up to the chosen root: what every process computes before the final phase. A
# stopped job of today's code has written it into the partial file.
preparation() {
    local file=$1
    [ -e "$file" ] || file=$file.partial
    sed -n '1,/^left point:/p' "$file"
}

# same_files DIR REFERENCE [tables]: the distance and tree files, and with "tables" also the
# result file's preparation tables, equal those in REFERENCE.
same_files() {
    local dir=$1 ref=$2
    for f in DISTMATRIX.txt a.tre; do cmp -s "$dir/$f" "$ref/$f" || { echo "differs: $f"; return; }; done
    if [ "${3:-}" = tables ]; then
        cmp -s <(preparation "$dir/result.txt") <(preparation "$ref/result.txt") || { echo "differs: tables"; return; }
        [ -n "$(preparation "$ref/result.txt" | grep '^left point:')" ] || { echo "no tables"; return; }
        echo "identical, tables too"
    else
        echo "identical"
    fi
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for size in $SIZES; do "$build/bench/make_alignment" "$size" 300 "$size" 0.5 "$work/a$size.aln"; done

printf '%-10s %-6s %-9s %-9s %-7s %s\n' sequences procs old_prep new_prep ratio files
for size in $SIZES; do
    whole=""
    for w in $WHOLE_SIZES; do [ "$w" = "$size" ] && whole=1; done
    old_mode=stop
    [ -n "$whole" ] && old_mode=whole
    read -r old_prep old_end < <(run "$old" 8 "$size" "$work/old$size" "$old_mode")
    for procs in $PROCS; do
        mode=stop
        [ -n "$whole" ] && [ "$procs" = 8 ] && mode=whole
        read -r new_prep new_end < <(run "$new" "$procs" "$size" "$work/new$size.$procs" "$mode")
        ratio=$(awk -v o="$old_prep" -v n="$new_prep" 'BEGIN { printf "%.1fx", o / n }')
        if [ -n "$whole" ]; then
            files=$(same_files "$work/new$size.$procs" "$work/old$size" tables)
        else
            files="$(same_files "$work/new$size.$procs" "$work/old$size")"
            if [ "$procs" != "${PROCS%% *}" ]; then
                tables=$(same_files "$work/new$size.$procs" "$work/new$size.${PROCS%% *}" tables)
                files="$files; to ${PROCS%% *} processes: $tables"
            fi
        fi
        printf '%-10s %-6s %-9s %-9s %-7s %s\n' "$size" "$procs" "$old_prep" "$new_prep" "$ratio" "$files"
        [ "$mode" = whole ] && echo "whole job, $size sequences, 8 processes: old $old_end s, new $new_end s"
    done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
