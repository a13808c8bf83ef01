#!/usr/bin/env bash
# Builds the Release variant and runs every benchmark in bench/; the figures go to stdout.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
for program in build/bench/bench_*; do
  echo "== ${program##*/}"
  "$program"
done
echo "== bench_job.sh"
bash bench/bench_job.sh build
