#!/usr/bin/env bash
# Simulated columns in whole jobs on windows of the bundled example and a small fixture: no
# simulated column shows a residue that the model can not hold (no nan or inf in the result
# file), and every simulated site has a stream of its own in every job.
source "$(dirname "$0")/lib.sh"
start_test simulation

# window FIRST COUNT COLUMN WIDTH: COUNT sequences of the example from the FIRST, WIDTH
# columns from COLUMN, as one block.
window() {
    awk -v first="$1" -v count="$2" -v column="$3" -v width="$4" '
        NR > 1 && /^[^ ]/ { if (!($1 in row)) name[++n] = $1; row[$1] = row[$1] $2 }
        END { for (i = first; i < first + count; i++) printf "%-16s%s\n", name[i], substr(row[name[i]], column, width) }' \
        "$EXAMPLES/pkinase.aln"
}

# expect_finite FILE: no value of FILE is nan or inf.
expect_finite() {
    ! grep -qiwE 'nan|inf' "$1" || fail "$1 holds nan or inf: $(grep -ciwE 'nan|inf' "$1") lines"
}

# Sequences 11-20, columns 91-120: the window lacks residues that the pseudocount profile
# and a uniform root-probability file give weight to.
window 11 10 91 30 >lacking.aln
awk 'NR == 1 { for (s = 1; s <= length($2); s++) {
        printf "%4d  %c ", s, substr($2, s, 1); for (k = 1; k <= 20; k++) printf "%6.0f", 500; printf "\n" } }' \
    lacking.aln >uniform.rp
for options in "-P" "-r uniform.rp" "-P -r uniform.rp"; do
    case_name "root states the model can not hold, $options"
    # shellcheck disable=SC2086
    run_job 4 $options -i lacking.aln -o result.txt
    expect_status 0
    expect_has result.txt "Entropy for each site"
    expect_finite result.txt
done

# Under -P every column of the fixture (which lacks ten residues) is worked on under a rate
# matrix that gives them weight; about every second job used to put nan into the tables.
for options in "-P" "-P -O" "-P -C" "-P"; do
    case_name "the site's own model with residues the alignment lacks, $options"
    # shellcheck disable=SC2086
    run_job 4 $options -i "$FIXTURES/job/lacking.aln" -t "$FIXTURES/job/lacking.tre" -o result.txt
    expect_status 0
    expect_has result.txt "Entropy for each site"
    expect_finite result.txt
done

case_name "every simulated site has a stream of its own in every job"
# Ten gap-free, variable sites: columns 91-95 twice, so that equal columns meet within a job
# as well. With 8 processes sites 1-7 are the workers' first draws.
window 11 10 91 5 >twice.aln
sed -i 's/^\(.\{16\}\)\(.*\)$/\1\2\2/' twice.aln
for job in 1 2 3 4; do
    [ "$job" -eq 1 ] || sleep 1 # a new clock second, so a new seed
    run_job 8 -i twice.aln -o "result$job.txt"
    expect_status 0
    # One line per site: its 100 shuffle statistics and 100 entropies.
    awk '$0 == "Log likelihood for each site after shuffle" || $0 == "Entropy for each site" { b = 100; next }
        b > 0 { for (s = 1; s <= NF; s++) v[s] = v[s] " " $s; b-- }
        END { for (s = 1; s <= 10; s++) print v[s] }' "result$job.txt" >>"sites.txt"
done
[ "$(wc -l <sites.txt)" -eq 40 ] || fail "sites.txt: $(wc -l <sites.txt) site lines, expected 40"
# Two equal columns share a seed by chance at 2 in 30000 per pair; more than one repeat among
# the 40 site lines is a stream that does not restart.
repeats=$(sort sites.txt | uniq -c | awk '$1 > 1 { n += $1 * ($1 - 1) / 2 } END { print n + 0 }')
[ "$repeats" -le 1 ] || fail "$repeats pairs of simulated sites repeat bit for bit"

finish
