#!/usr/bin/env bash
# The input readers in whole jobs: an alignment with old Mac line ends (bare carriage returns)
# reads as its twin with plain ones; segments written in groups are refused at their line,
# once, and a residue count after the segment is read as such; a byte-order mark at the start is
# skipped, and the README's line turns the headers of other aligners into one that is read.
source "$(dirname "$0")/lib.sh"
start_test readers
six="$FIXTURES/six.aln"
tree="$FIXTURES/six.tre"

# What the inputs fix, the random tables left out: everything before the final tables, and
# the master's "check" table.
fixed_part() {
    awk '/^site   entropy     avgEntropy  logL  avgLogL$/ { exit } { print }' "$1"
    awk '$0 == "check" { on = 1 } $0 == "Entropy for each site" { on = 0 } on' "$1"
}

run_job 2 -i "$six" -t "$tree" -o plain.txt
expect_status 0
fixed_part plain.txt >plain.fixed

# read_as_plain K NAME: a job of K processes on NAME.aln fixes what the plain alignment fixes.
read_as_plain() {
    run_job "$1" -i "$2.aln" -t "$tree" -o "$2.txt"
    expect_status 0
    fixed_part "$2.txt" >"$2.fixed"
    expect_same "$2.fixed" plain.fixed
}

case_name "bare carriage returns throughout"
tr '\n' '\r' <"$six" >mac.aln
read_as_plain 3 mac

case_name "bare carriage returns from the second block on"
awk 'NR < 12 { print; next } { printf "%s\r", $0 }' "$six" >mixed.aln
read_as_plain 2 mixed

case_name "segments in groups: refused at the first such line, once"
# The second block's segments in groups of ten letters, as several writers lay them out.
awk 'NR >= 12 && /^[a-z]/ { printf "%-10s%s %s %s\n", $1, substr($2, 1, 10), substr($2, 11, 10), substr($2, 21); next }
     { print }' "$six" >grouped.aln
run_job 3 -i grouped.aln -t "$tree" -o grouped.txt
expect_status 1
expect_count err.txt 'A field after the segment: "PWQSSEHYQK"; a block line holds a name, a start number (optional), one segment without blanks and a residue count (optional)' 1
expect_count err.txt '(alignment file "grouped.aln", line 12)' 1
expect_lacks grouped.txt "best point"

case_name "a residue count after each segment"
awk '/^[a-z]/ { count[$1] += length($NF); printf "%s %d\n", $0, count[$1]; next } { print }' "$six" >counted.aln
read_as_plain 2 counted

case_name "a byte-order mark before the header"
{ printf '\xEF\xBB\xBF'; cat "$six"; } >bom.aln
read_as_plain 2 bom

case_name "the README's line rewrites the headers of other aligners"
: "${README:?}"
rewrite=$(grep -m 1 "^ *sed -E '1s/" "$README" | sed 's/^ *//')
[ -n "$rewrite" ] || fail "no sed line for the header in $README"
# rewrite_header IN EXPECTED: the README's line turns IN into EXPECTED.
rewrite_header() {
    cp "$1" in.aln
    (eval "$rewrite") || fail "the README's line failed on $1"
    expect_same out.aln "$2"
}
{ echo "CLUSTAL W"; tail -n +2 "$six"; } >rewritten.aln
while IFS= read -r header; do
    for bom in "" $'\xEF\xBB\xBF'; do
        { printf '%s' "$bom"; echo "$header"; tail -n +2 "$six"; } >headed.aln
        rewrite_header headed.aln rewritten.aln
    done
done <<'HEADERS'
CLUSTAL 2.1 multiple sequence alignment
CLUSTAL O(1.2.4) multiple sequence alignment
CLUSTAL FORMAT for T-COFFEE Version_13.45.0.4846264 [http://www.tcoffee.org] [MODE:  ], CPU=0.00 sec, SCORE=1000, Nseq=6, Len=30
MUSCLE (3.8) multiple sequence alignment
Kalign (3.3.5) multiple sequence alignment
CLUSTAL W (1.83) multiple sequence alignment
HEADERS
read_as_plain 3 rewritten
# An alignment without a header keeps its first sequence.
tail -n +4 "$six" >headless.aln
rewrite_header headless.aln headless.aln

finish
