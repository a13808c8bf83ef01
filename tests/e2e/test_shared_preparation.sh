#!/usr/bin/env bash
# The processes of a job share the distances and the tree builder's join steps: whatever their
# number, the job writes the same distance file, tree file and result file, to the bit, as the
# fixtures recorded from a job in which every process computed all of it. Shares of unequal
# size: 780 pairs and 40 taxa among 3 and 7 processes. Twice as many processes as cores (at most
# one per site of the 60) wait for each other's shares on cores that they take turns at.
source "$(dirname "$0")/lib.sh"
start_test shared_preparation

crowded=$((2 * $(nproc)))
[ "$crowded" -le 60 ] || crowded=60
for k in 2 3 7 "$crowded"; do
    case_name "$k processes give the recorded distances, tree and result"
    rm -f DISTMATRIX.txt shared.tre result.txt
    cp "$FIXTURES/shared/shared.aln" shared.aln
    run_job "$k" -i shared.aln -C -G 1000000 -o result.txt
    expect_status 0
    expect_same DISTMATRIX.txt "$FIXTURES/shared/shared.DISTMATRIX.txt"
    expect_same shared.tre "$FIXTURES/shared/shared.tre"
    expect_same result.txt "$FIXTURES/shared/shared.result"
    # The one pair without a shared site is reported once, by rank 0; progress lines by all.
    expect_count out.txt "Warning:distance between s40 and s39 is inf, set distance 10.0" 1
    expect_count out.txt "finish wnj and return" "$k"
done

finish
