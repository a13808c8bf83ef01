#!/usr/bin/env bash
# Sets up the machine, checks the layout of the sources, then builds and runs every test: the
# Release build, quorvel alone without MPI, and the AddressSanitizer/UBSan build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

bash scripts/check-format.sh

jobs=$(nproc)
bash scripts/build.sh build
ctest --test-dir build --output-on-failure -j "$jobs"

bash scripts/build.sh build-quorvel -DWITH_DADIVERUR=OFF
ctest --test-dir build-quorvel --output-on-failure -j "$jobs"

bash scripts/build.sh build-sanitize -DSANITIZE=ON
# The programs keep their storage until exit by design, so leak reports are off; refused
# allocations must return null so that the allocators' own failure texts are tested.
ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
