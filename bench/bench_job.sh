#!/usr/bin/env bash
# How well the master keeps its workers busy: the final phase of a 200-site job of 16
# sequences, once with 2 processes (one worker) and once with 8 (seven workers).
# Run: bash bench/bench_job.sh [build-dir]   (after bash scripts/build.sh build)
# The final phase is timed from the master's start line to the last site's summary line, as
# the lines arrive on standard output.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

leaves=16
sites=200

# A balanced tree over leaves lo..hi.
subtree() {
    local lo=$1 hi=$2
    if [ "$lo" -eq "$hi" ]; then
        printf 's%02d:0.%d' "$lo" $((lo % 5 + 1))
        return
    fi
    local mid=$(((lo + hi) / 2))
    printf '(%s,%s):0.05' "$(subtree "$lo" "$mid")" "$(subtree $((mid + 1)) "$hi")"
}
printf '(%s,%s,%s);\n' "$(subtree 1 5)" "$(subtree 6 10)" "$(subtree 11 $leaves)" >"$work/bench.tre"

# Columns from one ancestral residue per site, each leaf keeping it with a site's own
# probability: from invariant to saturated sites, as in a real alignment.
awk -v n=$leaves -v L=$sites 'BEGIN {
    srand(2026); aa = "ARNDCQEGHILKMFPSTWYV"
    for (s = 1; s <= L; s++) { keep[s] = rand(); anc[s] = substr(aa, int(rand() * 20) + 1, 1) }
    for (i = 1; i <= n; i++) {
        line = sprintf("s%02d   ", i)
        for (s = 1; s <= L; s++) line = line (rand() < keep[s] ? anc[s] : substr(aa, int(rand() * 20) + 1, 1))
        print line
    }
}' >"$work/bench.aln"

# Seconds from the master's start line to the last summary line of a job of $1 processes.
final_phase() {
    mpiexec.mpich -n "$1" "$build/dadiverur" -i "$work/bench.aln" -t "$work/bench.tre" -o "$work/result.txt" |
        while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done >"$work/out.txt"
    awk '/ server: .* is running/ { start = $1 }
         NF == 6 && $2 ~ /^[0-9]+$/ { end = $1 }
         END { printf "%.2f\n", end - start }' "$work/out.txt"
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
two=$(final_phase 2)
eight=$(final_phase 8)
echo "final phase, $sites sites, $leaves sequences: 2 processes ${two} s, 8 processes ${eight} s"
awk -v a="$two" -v b="$eight" 'BEGIN { printf "speed-up 8 vs 2 processes: %.2fx (goal: at least 6x)\n", a / b }'
