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
# With "crowded", on a machine of C cores: one process alone (bench/prepare_alone, today's code)
# against jobs of C processes, of 2C processes and of C processes beside C busy loops, each with
# the code before the waits of the shared work gave up the core (commit $BASE, by default
# 2a42277) and with today's. Per run: the seconds to the first site handed out, the tree
# builder's seconds (from the first process that starts it to the last that ends it), the load
# average before the run, the cores that other work kept busy during it (from /proc/stat, less the
# job's own processor time) and whether the distance file, the tree file and the preparation
# tables equal those of the one process to the bit.
#
# Run: bash bench/bench_preparation.sh [build-dir] [crowded]   (after bash scripts/build.sh build)
# Environment: SIZES (250 500 1000; crowded: 500), PROCS (2 4 8), WHOLE_SIZES (250 500).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
crowded=${2:-}
if [ -n "$crowded" ]; then
    BASE=${BASE:-2a42277}
    SIZES=${SIZES:-500}
fi
BASE=${BASE:-7b81cc8}
SIZES=${SIZES:-250 500 1000}
PROCS=${PROCS:-2 4 8}
WHOLE_SIZES=${WHOLE_SIZES:-250 500}
work=$(mktemp -d)
old_tree="$work/old"

# Busy loops beside a job: as many as there are cores.
busy_pids=()
start_busy() {
    for _ in $(seq "$(nproc)"); do
        (while :; do :; done) &
        busy_pids+=($!)
    done
}
stop_busy() {
    for pid in "${busy_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${busy_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    busy_pids=()
}

cleanup() {
    stop_busy
    git -C "$root" worktree remove --force "$old_tree" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

git -C "$root" worktree add --detach "$old_tree" "$BASE" >/dev/null 2>&1
bash "$old_tree/scripts/build.sh" "$old_tree/build"
old="$old_tree/build/dadiverur"
new="$root/$build/dadiverur"

# Processor ticks (1/100 s) that the whole machine has spent busy so far.
busy_ticks() { awk '/^cpu / { print $2 + $3 + $4 + $7 + $8 + $9 }' /proc/stat; }

# Processor ticks that the process PID and every process below it have used so far.
tree_ticks() {
    # A process may end between the listing and the reading.
    { cat /proc/[0-9]*/stat 2>/dev/null || true; } | awk -v root="$1" '{ parent[$1] = $4; ticks[$1] = $14 + $15 }
        END {
            for (p in parent) {
                for (q = p; q && q != root; q = parent[q]);
                if (q == root) sum += ticks[p]
            }
            print sum + 0
        }'
}

# run SIZE DIR whole|stop COMMAND...: COMMAND -i a.aln -C -o result.txt in DIR on the alignment of
# SIZE sequences, stopped at the first site handed out unless whole. Prints the seconds to the first
# site handed out (to the end for a command that hands out none), to the end, the tree builder's
# seconds, and the cores that other work kept busy while it ran (up to the last look at it).
run() {
    local size=$1 dir=$2 mode=$3
    shift 3
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$work/a$size.aln" "$dir/a.aln"
    (
        cd "$dir"
        local start=$EPOCHREALTIME busy own=0 seen=$EPOCHREALTIME
        busy=$(busy_ticks)
        "$@" -i a.aln -C -o result.txt 2>err.txt \
            > >(while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done >out.txt) &
        local job=$! used=0
        while kill -0 "$job" 2>/dev/null; do
            own=$(tree_ticks "$job")
            used=$(($(busy_ticks) - busy))
            seen=$EPOCHREALTIME
            [ "$mode" = stop ] && grep -qs ' send message for site' out.txt && break
            sleep 0.05
        done
        [ "$mode" = stop ] && { kill -TERM "$job" 2>/dev/null || true; }
        wait "$job" || true
        local end=$EPOCHREALTIME
        sleep 0.5 # the time stamps of the last lines
        awk -v s="$start" -v e="$end" -v seen="$seen" -v used="$used" -v own="$own" '
            / send message for site/ && !f { f = $1 }
            /Use wnj software/ && !b { b = $1 }
            /finish wnj and return/ { w = $1 }
            END {
                if (!f) f = e
                others = seen > s ? (used - own) / 100 / (seen - s) : 0
                printf "%.1f %.1f %.1f %.1f\n", f - s, e - s, w - b, others < 0 ? 0 : others
            }' out.txt
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

# One process alone against jobs with twice as many runnable processes as cores and one as many,
# before and now; every job's files against the one process's.
crowded_comparison() {
    local cores size procs code bin dir load prep end builder others files
    cores=$(nproc)
    printf '%-10s %-28s %-7s %-9s %-9s %-6s %-7s %s\n' sequences run code prep_s builder_s load others files
    for size in $SIZES; do
        load=$(cut -d' ' -f1 /proc/loadavg)
        read -r prep end builder others < <(run "$size" "$work/alone$size" whole "$root/$build/bench/prepare_alone")
        printf '%-10s %-28s %-7s %-9s %-9s %-6s %-7s %s\n' "$size" "1 process alone" now "$prep" "$builder" \
            "$load" "$others" reference
        for scenario in "$cores" "$((2 * cores))" "$cores beside $cores busy"; do
            procs=${scenario%% *}
            for code in before now; do
                bin=$new
                [ "$code" = before ] && bin=$old
                dir="$work/$code$size.${scenario// /_}"
                [ "$scenario" = "$procs" ] || start_busy
                load=$(cut -d' ' -f1 /proc/loadavg)
                read -r prep end builder others < <(run "$size" "$dir" stop mpiexec.mpich -n "$procs" "$bin")
                stop_busy
                files=$(same_files "$dir" "$work/alone$size" tables)
                printf '%-10s %-28s %-7s %-9s %-9s %-6s %-7s %s\n' "$size" "$scenario processes" "$code" \
                    "$prep" "$builder" "$load" "$others" "$files"
            done
        done
    done
}

if [ -n "$crowded" ]; then
    crowded_comparison
    echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
    exit 0
fi

printf '%-10s %-6s %-9s %-9s %-7s %s\n' sequences procs old_prep new_prep ratio files
for size in $SIZES; do
    whole=""
    for w in $WHOLE_SIZES; do [ "$w" = "$size" ] && whole=1; done
    old_mode=stop
    [ -n "$whole" ] && old_mode=whole
    read -r old_prep old_end _ < <(run "$size" "$work/old$size" "$old_mode" mpiexec.mpich -n 8 "$old")
    for procs in $PROCS; do
        mode=stop
        [ -n "$whole" ] && [ "$procs" = 8 ] && mode=whole
        read -r new_prep new_end _ < <(run "$size" "$work/new$size.$procs" "$mode" mpiexec.mpich -n "$procs" "$new")
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
