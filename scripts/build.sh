#!/usr/bin/env bash
# Configures and builds one variant: build.sh <build-dir> [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)" -- --no-print-directory >/dev/null
