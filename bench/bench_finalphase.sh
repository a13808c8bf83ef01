#!/usr/bin/env bash
# The final phase, the code before the shuffles of a column went through the tree together
# against today's, on alignments that INDELible simulates under WAG with gamma rates (shape 0.5)
# down random trees of 100, 500 and 1,000 leaves, each run with its true tree (-t):
#   1. bench_finalphase on each alignment, fixed seeds: the old path and the new in one run, site
#      by site, every record value compared to the bit; once alone and once as 8 copies side by
#      side, as the 8 processes of a job load the machine;
#   2. whole jobs with 8 processes (-O -t) of today's program and of the program built from
#      commit $BASE (in a scratch work tree).
#
# Run: bash bench/bench_finalphase.sh [build-dir]   (after bash scripts/build.sh build; installs
# INDELible if missing)
# Environment: SIZES (100 500 1000), SITES (40), BASE (the commit before), COPIES (8), PROCS (8),
#   WORK (a directory to keep the alignments and results in).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
SIZES=${SIZES:-100 500 1000}
SITES=${SITES:-40}
BASE=${BASE:-2a42277}
COPIES=${COPIES:-8}
PROCS=${PROCS:-8}
source bench/indelible.sh
open_work
old_tree="$work/old"
# In place of open_work's trap, which would leave the old tree registered with git.
cleanup() {
    git -C "$root" worktree remove --force "$old_tree" >/dev/null 2>&1 || true
    [ -n "${WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
ensure_indelible
bench="$root/$build/bench/bench_finalphase"
new="$root/$build/dadiverur"

# Simulated sites per size in the single-process runs: a few minutes in all.
sites_for() {
    case $1 in
    100) echo 8 ;;
    500) echo 3 ;;
    *) echo 2 ;;
    esac
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for size in $SIZES; do
    random_tree "$size" "$((40 + size))" >"$work/t$size.tre"
    simulate "$work/sim$size" "$work/t$size.tre" "$SITES" 0.5 1 2026
done

for size in $SIZES; do
    aln="$work/sim$size/rep1.aln"
    echo "== $size sequences, alone"
    "$bench" "$(sites_for "$size")" "$aln" "$work/t$size.tre" | tail -n +2
    echo "== $size sequences, $COPIES copies side by side (load $(cut -d' ' -f1 /proc/loadavg))"
    for k in $(seq 1 "$COPIES"); do
        "$bench" 1 "$aln" "$work/t$size.tre" >"$work/copy$size.$k" &
    done
    wait
    awk '/^old path:/ { o += $3; n++ } /^new path:/ { w += $3 } /^record values differing:/ { d += $4 }
         END { printf "per simulated site: old %.3f s, new %.3f s, ratio %.2fx; record values differing: %d\n", o / n, w / n, o / w, d }' \
        "$work"/copy"$size".*
done

git -C "$root" worktree add --detach "$old_tree" "$BASE" >/dev/null 2>&1
bash "$old_tree/scripts/build.sh" "$old_tree/build"
old="$old_tree/build/dadiverur"

# job BIN SIZE DIR: the seconds of a whole job of PROCS processes with -O -t, run in DIR.
job() {
    local bin=$1 size=$2 dir=$3
    rm -rf "$dir"
    mkdir -p "$dir"
    (
        cd "$dir"
        local start=$EPOCHREALTIME
        mpiexec.mpich -n "$PROCS" "$bin" -i "$work/sim$size/rep1.aln" -t "$work/t$size.tre" -O -o result.txt \
            >out.txt 2>err.txt
        awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.1f\n", e - s }'
    )
}

printf '%-10s %-9s %-9s %s\n' sequences old_s new_s ratio
for size in $SIZES; do
    o=$(job "$old" "$size" "$work/old$size")
    n=$(job "$new" "$size" "$work/new$size")
    printf '%-10s %-9s %-9s %s\n' "$size" "$o" "$n" "$(awk -v o="$o" -v n="$n" 'BEGIN { printf "%.2fx", o / n }')"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
