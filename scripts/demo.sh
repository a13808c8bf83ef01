#!/usr/bin/env bash
# Sets up the machine, builds, and runs dadiverur on the bundled example as one MPI job:
# as many processes as the machine has cores, from 2 up to 8.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
mkdir -p results

procs=$(nproc)
[ "$procs" -ge 2 ] || procs=2
[ "$procs" -le 8 ] || procs=8
mpiexec.mpich -n "$procs" build/dadiverur -i examples/pkinase.aln -t examples/pkinase_fasttree.tre \
    -o results/pkinase.result
echo "demo: result file results/pkinase.result"

# quorvel on the job's shuffle block: the origin file is the final table's "logL" column,
# the mutation file the shuffle block without its title line.
bash scripts/cut-quorvel-inputs.sh results/pkinase.result results/pkinase
build/quorvel -O results/pkinase.origin -M results/pkinase.mutation >results/pkinase.report
echo "demo: quorvel report results/pkinase.report, ranking results/pkinase.origin.rank"
