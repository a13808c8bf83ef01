#!/usr/bin/env bash
# Cuts quorvel's two inputs out of a dadiverur result file:
#   PREFIX.origin    the "logL" column of the final site table, one value per site
#   PREFIX.mutation  the shuffle block without its title line, one replicate per line
# Usage: cut-quorvel-inputs.sh RESULT_FILE PREFIX
# then:  build/quorvel -O PREFIX.origin -M PREFIX.mutation
set -euo pipefail
if [ $# -ne 2 ]; then
    echo "usage: $0 RESULT_FILE PREFIX" >&2
    exit 1
fi
result=$1
prefix=$2

awk '/^site   entropy     avgEntropy  logL  avgLogL$/ {on = 1; next} /^Log likelihood for each site after shuffle$/ {on = 0} on {print $4}' "$result" >"$prefix.origin"
awk '/^Log likelihood for each site after shuffle$/ {on = 1; next} /^check$/ {on = 0} on' "$result" >"$prefix.mutation"

for part in origin mutation; do
    if [ ! -s "$prefix.$part" ]; then
        echo "$0: $result holds no $part block (is it a complete dadiverur result file?)" >&2
        exit 1
    fi
done
