#!/usr/bin/env bash
# The preparation with a given tree under the MPI launcher: the initial rates of the default,
# -E and -O, and the root-probability file or its fallback.
source "$(dirname "$0")/lib.sh"
start_test rates
six="$FIXTURES/six.aln"
tree="$FIXTURES/six.tre"

case_name "default: constant rates, site frequencies as root probabilities"
run_job 2 -i "$six" -t "$tree" -o result.txt
expect_status 0
expect_lacks out.txt "invariant site"
expect_lacks result.txt "entropy for each site"
expect_count out.txt "can not open RootProbMatrix file: , use PI for each site instead" 2
expect_count out.txt "finish reading RootProbMatrix" 2

case_name "-E: three tables of all 54 sites once, the rates summing to the site count"
run_job 3 -i "$six" -t "$tree" -o result.txt -E
expect_status 0
for title in "entropy for each site" "alpha for each site before normalize" "final alpha for each site"; do
    expect_count result.txt "$title" 1
done
expect_count result.txt "site:  54  entropy:" 1
expect_count result.txt "site:  54  alpha:" 2
# Estimated rates average 1 and every other site keeps 1.0.
sum=$(sed -n '/final alpha for each site/,$p' result.txt | awk '/^site:/ { s += $4 } END { printf "%.3f", s }')
[ "$sum" = "54.000" ] || fail "final rates sum to $sum, expected 54"

case_name "-O: invariant sites reported by every process"
run_job 2 -i "$six" -t "$tree" -o result.txt -O
expect_status 0
# Site 1 (all M) is invariant, site 2 (K and R) is not.
[ "$(grep -cx "invariant site: 1" out.txt)" -eq 2 ] || fail "site 1 not reported by both processes"
! grep -qx "invariant site: 2" out.txt || fail "variable site 2 reported invariant"

# A root-probability row per site: site number, letter, 20 values in units of 0.0001.
write_rows() {
    printf 'root state probabilities\n'
    for s in $(seq 1 "$1"); do
        printf '%4d  %c ' "$s" A
        printf '%6d' 10000 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0
        printf '\n'
    done
}

case_name "-r: the file's rows replace the site frequencies"
write_rows 54 >rootprob.txt
run_job 2 -i "$six" -t "$tree" -o result.txt -r rootprob.txt
expect_status 0
expect_lacks out.txt "can not open RootProbMatrix file"
expect_count out.txt "finish reading RootProbMatrix" 2

case_name "-r: a file with too few rows ends the job with status 1, reported once"
write_rows 40 >short.txt
run_job 3 -i "$six" -t "$tree" -o result.txt -r short.txt
expect_status 1
expect_count err.txt "RootProbMatrix file short.txt: the file ends before the row of site 41" 1

finish
