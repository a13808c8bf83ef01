#!/usr/bin/env bash
# The whole job under the MPI launcher on small fixtures: the hand-out of sites, every alpha
# phase, and the result file's tables with the values each class of site carries.
source "$(dirname "$0")/lib.sh"
start_test job
aln="$FIXTURES/job/sites12.aln"
tre="$FIXTURES/job/sites12.tre"
sites=12
# Site classes of sites12.aln.
invariant=2
left_out=3
too_few=5
simulated="1 4 6 7 8 9 10 11 12"

# line_of FILE TEXT: the number of the first line that is TEXT exactly (0 when none).
line_of() { awk -v t="$2" '$0 == t { print NR; found = 1; exit } END { if (!found) print 0 }' "$1"; }

# block FILE TITLE N: the N lines after the line TITLE.
block() {
    local at
    at=$(line_of "$1" "$2")
    [ "$at" -gt 0 ] && sed -n "$((at + 1)),$((at + $3))p" "$1"
}

# The final tables of result.txt, in order, with their sizes and formats; the per-site
# values of each class of site; the summary lines of standard output.
check_final_tables() {
    local r=result.txt
    for title in "site   entropy     avgEntropy  logL  avgLogL" "Log likelihood for each site after shuffle" \
        "check" "Entropy for each site"; do
        expect_count "$r" "$title" 1
    done
    local summary shuffle check entropy
    summary=$(line_of "$r" "site   entropy     avgEntropy  logL  avgLogL")
    shuffle=$(line_of "$r" "Log likelihood for each site after shuffle")
    check=$(line_of "$r" "check")
    entropy=$(line_of "$r" "Entropy for each site")
    [ "$summary" -gt 0 ] && [ "$shuffle" -eq $((summary + sites + 1)) ] && [ "$check" -eq $((shuffle + 101)) ] &&
        [ "$entropy" -eq $((check + sites + 1)) ] && [ "$(wc -l <"$r")" -eq $((entropy + 100)) ] ||
        fail "final tables out of order or of the wrong size: $summary $shuffle $check $entropy"

    block "$r" "Log likelihood for each site after shuffle" 100 >shuffle.txt
    block "$r" "Entropy for each site" 100 >entropy.txt
    block "$r" "check" "$sites" >check.txt
    block "$r" "site   entropy     avgEntropy  logL  avgLogL" "$sites" >summary.txt
    local value='-?[0-9]+\.[0-9]{4}'
    for f in shuffle.txt entropy.txt; do
        [ "$(grep -cxE "( *$value ){$sites}" "$f")" -eq 100 ] || fail "$f: not 100 lines of $sites \"%12.4f \" values"
    done

    # Standard output holds the same summary rows, one per site, as the records arrived.
    grep -xE " *[0-9]+( +$value){4}" out.txt | sort -n >stdout_summary.txt
    expect_same stdout_summary.txt summary.txt

    # The values of each class of site: left out, zeros everywhere; computed but not simulated
    # (invariant, too few letters), its logL in every replicate and its observed entropy in
    # every entropy, so averages equal to the values; simulated, statistics below 1 and
    # entropies within 0..ln 8. One pass over the tables, as "site: fault" lines.
    awk -v left="$left_out" -v flat="$invariant $too_few" -v simulated="$simulated" '
        FILENAME == "summary.txt" { h[$1] = $2; avgH[$1] = $3; logl[$1] = $4; avgL[$1] = $5; next }
        FILENAME == "shuffle.txt" { for (s = 1; s <= NF; s++) x[FNR, s] = $s; next }
        { for (s = 1; s <= NF; s++) e[FNR, s] = $s }
        END {
            for (k = 1; k <= 100; k++) {
                if (x[k, left] != 0 || e[k, left] != 0) bad[left] = "not zero"
                n = split(flat, f, " ")
                for (i = 1; i <= n; i++)
                    if (x[k, f[i]] != logl[f[i]] || e[k, f[i]] != h[f[i]]) bad[f[i]] = "replicates differ from its values"
                n = split(simulated, m, " ")
                for (i = 1; i <= n; i++)
                    if (x[k, m[i]] >= 1 || e[k, m[i]] < 0 || e[k, m[i]] > 2.0795) bad[m[i]] = "a value out of range"
            }
            if (h[left] != 0 || avgH[left] != 0 || logl[left] != 0 || avgL[left] != 0) bad[left] = "summary not zero"
            n = split(flat, f, " ")
            for (i = 1; i <= n; i++)
                if (h[f[i]] != avgH[f[i]] || logl[f[i]] != avgL[f[i]]) bad[f[i]] = "summary averages differ"
            for (s in bad) print "site " s ": " bad[s]
        }' summary.txt shuffle.txt entropy.txt >classes.txt
    [ ! -s classes.txt ] || fail "$(tr '\n' ';' <classes.txt)"
    expect_has check.txt "  3       0.0000"
    expect_has summary.txt "  2       0.0000       0.0000"
    expect_has summary.txt "  5       0.6365       0.6365"
    # A gap-free site's log-likelihood is the same on the master, under check.
    [ "$(awk '$1 == 2 { print $2 }' check.txt)" = "$(awk '$1 == 2 { print $4 }' summary.txt)" ] ||
        fail "site 2: check differs from its logL"

    # Site 1's 100 values, written as they arrived, right before the final tables: its shuffle
    # column, with two more decimals.
    sed -n "$((summary - 101)),$((summary - 1))p" "$r" >site1.txt
    [ "$(tail -n 100 site1.txt | grep -cxE ' *-?[0-9]+\.[0-9]{6}')" -eq 100 ] &&
        ! head -n 1 site1.txt | grep -qxE ' *-?[0-9]+\.[0-9]{6}' || fail "site 1's lines: not 100 before the tables"
    tail -n 100 site1.txt | paste - <(awk '{ print $1 }' shuffle.txt) |
        awk '{ d = $1 - $2; if (d < 0) d = -d; if (d > 0.0000506) exit 1 }' ||
        fail "site 1's lines differ from its shuffle column"
}

# The sites handed to each worker in the final phase, in order: "worker site" lines.
handed_out() {
    awk '/^server: .* send message for site / { print $NF, $NF }
         /^server: .* send message to / { print $(NF - 3), $NF }' out.txt
}

case_name "two processes: every site to worker 1 in order"
run_job 2 -i "$aln" -t "$tre" -o result.txt
expect_status 0
check_final_tables
handed_out >handout.txt
seq 1 $sites | awk '{ print 1, $1 }' >expected_handout.txt
expect_same handout.txt expected_handout.txt
expect_count out.txt "receive message from 1" $sites
expect_count out.txt "processor: " 2
expect_has out.txt "rank:1 is running"
expect_has out.txt "receive message for site 1 status tag: 1"

case_name "four processes: each site once"
run_job 4 -i "$aln" -t "$tre" -o result.txt
expect_status 0
check_final_tables
handed_out | awk '{ print $2 }' | sort -n >handout.txt
seq 1 $sites >expected_handout.txt
expect_same handout.txt expected_handout.txt
expect_count out.txt "send message for site" 3

case_name "as many processes as sites: the last site to the first worker that answers"
run_job 5 -i "$FIXTURES/job/sites5.aln" -t "$FIXTURES/job/sites5.tre" -o result.txt
expect_status 0
expect_count out.txt "send message for site" 4
first=$(grep -m1 "receive message from" out.txt | awk '{ print $NF }')
expect_count out.txt "send message to $first for site 5" 1
expect_count out.txt "send message to" 1

# check_alpha_table FILE TITLE N PATTERN: the lines under the Nth copy of TITLE are one per
# site, each matching PATTERN whole.
check_alpha_table() {
    awk -v t="$2" -v n="$3" -v sites="$sites" '$0 == t && ++seen == n { at = NR; next }
        at && NR > at && NR <= at + sites' "$1" >alpha_table.txt
    [ "$(grep -cxE "$4" alpha_table.txt)" -eq "$sites" ] || fail "table \"$2\" ($3): not $sites lines like $4"
}
rate=' +-?[0-9]+\.[0-9]{6}'
site_line="site: +[0-9]+ original alpha:$rate"

case_name "-O: the ML-alpha phase, its two tables, then the final phase"
run_job 3 -O -i "$aln" -t "$tre" -o result.txt
expect_status 0
expect_count result.txt "result from optimizing alpha" 2
check_alpha_table result.txt "result from optimizing alpha" 1 "$site_line ML alpha:$rate final alpha:$rate"
check_alpha_table result.txt "result from optimizing alpha" 2 "$site_line optimized alpha:$rate"
expect_count out.txt "optimized alpha:" $sites
check_final_tables

case_name "-M: the simulated-entropy phase, then the final phase"
run_job 3 -M -i "$aln" -t "$tre" -o result.txt
expect_status 0
expect_count result.txt "result from optimizing alpha" 2
check_alpha_table result.txt "result from optimizing alpha" 1 "$site_line Entropy alpha:$rate final alpha:$rate"
check_alpha_table result.txt "result from optimizing alpha based on simulation" 1 "$site_line optimized alpha:$rate"
expect_lacks result.txt "can not find a valid section"
# Sites that cannot be simulated keep their rate 1.
expect_has result.txt "site:   2 original alpha:   1.000000 optimized alpha:   1.000000"
expect_has result.txt "site:   5 original alpha:   1.000000 optimized alpha:   1.000000"
check_final_tables

case_name "-V: the expected-entropy phase, then the final phase"
run_job 4 -V -i "$aln" -t "$tre" -o result.txt
expect_status 0
expect_count result.txt "result from optimizing alpha based on simulation" 1
check_alpha_table result.txt "result from optimizing alpha based on simulation" 1 "$site_line optimized alpha:$rate"
# An invariant column's rate is 0; a site with too few letters keeps its rate.
expect_has result.txt "site:   2 original alpha:   1.000000 optimized alpha:   0.000000"
expect_has result.txt "site:   5 original alpha:   1.000000 optimized alpha:   1.000000"
check_final_tables

case_name "-V without root probabilities, a window of the bundled example: no rate 0 for a column that varies"
# Ten sequences by thirty sites, the tree built. The root of a column is then drawn from its
# own letters: at rate 0 the expected entropy is the observed one, which is no rate for a
# column that varies, so every such column keeps its rate with the line saying so.
awk 'NR == 1 { print; next } /^[^ ]/ && n < 10 { print $1, substr($2, 1, 30); n++ }' \
    "$EXAMPLES/pkinase.aln" >window.aln
run_job 4 -V -i window.aln -o result.txt
expect_status 0
! grep -qE '(^|[^a-z])-?(nan|inf)([^a-z]|$)' result.txt || fail "result.txt holds nan or inf"
# The window's variable columns, one site number a line.
awk 'NR > 1 && /^[^ ]/ { for (s = 1; s <= 30; s++) { c = substr($2, s, 1); if (c == "-") continue
        if (!(s in first)) first[s] = c; else if (c != first[s]) varies[s] = 1 } }
     END { for (s = 1; s <= 30; s++) if (s in varies) print s }' window.aln >variable.txt
[ "$(wc -l <variable.txt)" -ge 20 ] || fail "the window has too few variable columns"
sed -n 's/^site: *\([0-9]*\) can not find a valid section to include the root$/\1/p' out.txt | sort -n >no_root.txt
expect_same no_root.txt variable.txt
awk '/^result from optimizing alpha based on simulation$/ { on = 1; next } on && /^site:/ { print $2, $NF }' \
    result.txt >adopted.txt
awk 'FILENAME == "variable.txt" { v[$1] = 1; next }
     ($1 in v) && $2 != "1.000000" || !($1 in v) && $2 != "0.000000" { print }' variable.txt adopted.txt >wrong.txt
[ "$(wc -l <adopted.txt)" -eq 30 ] && [ ! -s wrong.txt ] || fail "adopted rates: $(tr '\n' ';' <wrong.txt)"

case_name "-P: gapped sites under their own model"
run_job 2 -P -C -i "$aln" -t "$tre" -o result.txt
expect_status 0
expect_has result.txt "Psudocount vector for each site (*10^(-5))"
check_final_tables

case_name "a result file that cannot be written completely"
run_job 2 -i "$aln" -t "$tre" -o /dev/full
expect_status 1
expect_has err.txt "can not write the result file"

finish
