#!/usr/bin/env bash
# Golden results of whole jobs: the parts of the result file that do not depend on the clock
# seeds, and the distance and tree files of a run without a tree file, byte for byte against
# committed copies, from jobs of 2 and 3 processes.
#
# The golden files were written once by this system (the 2-process job of each case, its
# output put through `deterministic` below) after checking that 2 and 3 processes, the
# Release and the sanitizer build gave the same bytes. Regenerate only for a change meant to
# alter results.
source "$(dirname "$0")/lib.sh"
start_test golden
golden="$FIXTURES/golden"
# The sites of golden.aln that are not simulated (invariant, left out, too few letters):
# their values in the shuffle and entropy blocks are their log-likelihood and observed
# entropy, or zeros.
fixed_sites="2 3 5"

# deterministic FILE: the result file without the values drawn from clock-seeded
# simulations: everything up to the chosen root; of the summary, each site's number and
# observed entropy, and the whole line of a site that is not simulated; the columns of those
# sites in the shuffle and entropy blocks (each value "%12.4f " is 13 characters); the check
# table whole. Site 1's replicate lines before the summary are left out.
deterministic() {
    awk -v fixed="$fixed_sites" '
        BEGIN { n = split(fixed, f, " "); for (i = 1; i <= n; i++) isFixed[f[i]] = 1 }
        function columns(line,    i, out) {
            out = ""
            for (i = 1; i <= n; i++) out = out substr(line, (f[i] - 1) * 13 + 1, 13)
            return out
        }
        part == "" { print; if ($0 ~ /^left point: /) part = "replicates"; next }
        $0 == "site   entropy     avgEntropy  logL  avgLogL" { part = "summary"; print; next }
        $0 == "Log likelihood for each site after shuffle" || $0 == "Entropy for each site" {
            part = "block"; print; next }
        $0 == "check" { part = "check"; print; next }
        part == "replicates" { next }
        part == "summary" { if (($1 + 0) in isFixed) print; else print substr($0, 1, 16); next }
        part == "block" { print columns($0); next }
        { print }' "$1"
}

# expect_golden FILE GOLDEN: the deterministic parts of the result file FILE are GOLDEN.
expect_golden() {
    deterministic "$1" >"$1.kept"
    expect_same "$1.kept" "$2"
}

for k in 2 3; do
    case_name "a tree file, $k processes: the deterministic parts of the result file"
    run_job "$k" -E -i "$golden/golden.aln" -t "$golden/golden.tre" -o result.txt
    expect_status 0
    expect_golden result.txt "$golden/result-t.golden"

    case_name "no tree file, $k processes: the distances, the built tree and the result file"
    rm -f DISTMATRIX.txt golden.tre
    cp "$golden/golden.aln" golden.aln
    run_job "$k" -E -i golden.aln -o result.txt
    expect_status 0
    expect_same DISTMATRIX.txt "$golden/DISTMATRIX.golden"
    expect_same golden.tre "$golden/golden.tre.golden"
    expect_golden result.txt "$golden/result.golden"
done

finish
