#!/usr/bin/env bash
# A whole job on a tree as deep as it has leaves: a caterpillar of 40,000 leaves with lengths
# 0.1 and an alignment of four sites, run with 2 processes and -G 1000000, so that no site has
# enough letters for an estimate or a simulation and the job is mostly its preparation.
# Run: bash bench/bench_rooting.sh [build-dir]   (after bash scripts/build.sh build)
# Prints the wall time (goal: under 60 s) and the longest steps, timed between the progress
# lines as they arrive on standard output.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

leaves=40000

# (((s1:0.1,s2:0.1):0.1,s3:0.1):0.1, ... s(n-2):0.1):0.1,s(n-1):0.1,sn:0.1);
awk -v n=$leaves 'BEGIN {
    for (i = 1; i <= n - 2; i++) printf "("
    printf "s1:0.1,s2:0.1)"
    for (i = 3; i <= n - 2; i++) printf ":0.1,s%d:0.1)", i
    printf ":0.1,s%d:0.1,s%d:0.1);\n", n - 1, n
}' >"$work/bench.tre"

# Site 1 alternates two residues down the tree, site 2 has a gap at s1, sites 3 and 4 cycle
# through twenty and three residues.
awk -v n=$leaves 'BEGIN {
    aa = "ARNDCQEGHILKMFPSTWYV"
    for (i = 1; i <= n; i++)
        printf "s%d   %s%s%s%s\n", i, i % 2 ? "A" : "R", i == 1 ? "-" : "A", substr(aa, i % 20 + 1, 1),
            substr("LKE", i % 3 + 1, 1)
}' >"$work/bench.aln"

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
start=$EPOCHREALTIME
mpiexec.mpich -n 2 "$build/dadiverur" -i "$work/bench.aln" -t "$work/bench.tre" -G 1000000 -o "$work/result.txt" |
    while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done >"$work/out.txt"
end=$EPOCHREALTIME
awk -v a="$start" -v b="$end" -v n=$leaves 'BEGIN { printf "job, %d-leaf caterpillar, 2 processes: %.1f s\n", n, b - a }'
grep -m1 '^best point' "$work/result.txt"
# The time before each line since the line before it, of the longest five.
echo "longest steps (seconds before the line):"
awk -v start="$start" '{ printf "%8.2f  %s\n", $1 - (NR > 1 ? last : start), substr($0, index($0, " ") + 1); last = $1 }
    ' "$work/out.txt" | sort -rn | head -5
