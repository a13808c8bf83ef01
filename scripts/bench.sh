#!/usr/bin/env bash
# Builds the Release variant and runs every benchmark in bench/; the figures go to stdout.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
for program in build/bench/bench_*; do
  echo "== ${program##*/}"
  case ${program##*/} in
    # The builder's 1,000-sequence case takes about 14 minutes: build/bench/bench_distance 300 1000
    bench_distance) "$program" 300 100 300 ;;
    # The final phase's work on 20 sites of the bundled example, the old path against the new.
    bench_finalphase) "$program" 20 ;;
    # One process of a 1,000-sequence, 5,000-site job: its peak memory, in about half a minute.
    bench_memory) "$program" 1000 5000 20 ;;
    # The tree half of the preparation, then the rooting alone, the walk against the sums: about
    # 8 minutes, nearly all of it the walk on 5,000 leaves (bench_trees rooting 2000: a minute,
    # most of it the resolved stars of 40,000 leaves).
    bench_trees) "$program" && "$program" rooting ;;
    *) "$program" ;;
  esac
done
echo "== bench_job.sh"
bash bench/bench_job.sh build
echo "== bench_rooting.sh"
bash bench/bench_rooting.sh build
echo "== bench_finalphase.sh"
# On simulated alignments of 100, 500 and 1,000 sequences, alone, as 8 copies and in whole jobs of
# 8 processes: about half an hour, most of it the old path's 1,000-sequence runs.
bash bench/bench_finalphase.sh build
echo "== bench_preparation.sh"
# The old path against the new on 250, 500 and 1,000 sequences: about half an hour, most of it
# the old path's preparation of 1,000 sequences and the whole jobs.
bash bench/bench_preparation.sh build
