#!/usr/bin/env bash
# Whole jobs whose time is mostly the rooting: a caterpillar of 40,000 leaves with lengths 0.1,
# as deep as it has leaves, and caterpillars of 5,000 leaves of exact ties, every length 0
# and a star resolved into a binary tree (leaves 0.1, the branches that join them 0). Each
# alignment has four sites and is run with 2 processes and -G 1000000, so that no site has
# enough letters for an estimate or a simulation and the job is mostly its preparation.
# Run: bash bench/bench_rooting.sh [build-dir]   (after bash scripts/build.sh build)
# Prints each job's wall time (goal: under 60 s for the first, well under 10 s for the others),
# and for the first the longest steps, timed between the progress lines as they arrive on
# standard output.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"

# job LEAVES LEAF_LENGTH INNER_LENGTH DESCRIPTION [steps]
job() {
    local leaves=$1 leaf=$2 inner=$3 steps=${5:-}
    # (((s1:L,s2:L):I,s3:L):I, ... s(n-2):L):I,s(n-1):L,sn:L);
    awk -v n="$leaves" -v leaf="$leaf" -v inner="$inner" 'BEGIN {
        for (i = 1; i <= n - 2; i++) printf "("
        printf "s1:%s,s2:%s)", leaf, leaf
        for (i = 3; i <= n - 2; i++) printf ":%s,s%d:%s)", inner, i, leaf
        printf ":%s,s%d:%s,s%d:%s);\n", inner, n - 1, leaf, n, leaf
    }' >"$work/bench.tre"

    # Site 1 alternates two residues down the tree, site 2 has a gap at s1, sites 3 and 4 cycle
    # through twenty and three residues.
    awk -v n="$leaves" 'BEGIN {
        aa = "ARNDCQEGHILKMFPSTWYV"
        for (i = 1; i <= n; i++)
            printf "s%d   %s%s%s%s\n", i, i % 2 ? "A" : "R", i == 1 ? "-" : "A", substr(aa, i % 20 + 1, 1),
                substr("LKE", i % 3 + 1, 1)
    }' >"$work/bench.aln"

    echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
    local start=$EPOCHREALTIME end
    if [ "$steps" = steps ]; then
        mpiexec.mpich -n 2 "$build/dadiverur" -i "$work/bench.aln" -t "$work/bench.tre" -G 1000000 -o "$work/result.txt" |
            while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done >"$work/out.txt"
    else
        # Every branch's line is printed: a shell reading them one by one from the pipe would
        # hold the job up longer than it runs.
        mpiexec.mpich -n 2 "$build/dadiverur" -i "$work/bench.aln" -t "$work/bench.tre" -G 1000000 -o "$work/result.txt" >"$work/out.txt"
    fi
    end=$EPOCHREALTIME
    awk -v a="$start" -v b="$end" -v n="$leaves" -v what="$4" \
        'BEGIN { printf "job, %d-leaf caterpillar, %s, 2 processes: %.1f s\n", n, what, b - a }'
    grep -m1 '^best point' "$work/result.txt"
    [ "$steps" = steps ] || return 0
    # The time before each line since the line before it, of the longest five.
    echo "longest steps (seconds before the line):"
    awk -v start="$start" '{ printf "%8.2f  %s\n", $1 - (NR > 1 ? last : start), substr($0, index($0, " ") + 1); last = $1 }
        ' "$work/out.txt" | sort -rn | awk 'NR <= 5'
}

job 40000 0.1 0.1 "lengths 0.1" steps
job 5000 0 0 "all lengths 0"
job 5000 0.1 0 "resolved star"
