#!/usr/bin/env bash
# Start-up of dadiverur under the MPI launcher: the command line, the open failures, the
# alignment reader's errors, the process-count refusal and the one copy of the result file.
source "$(dirname "$0")/lib.sh"
start_test startup
# A copy in the scratch directory: a run without a tree file writes six.tre next to it.
cp "$FIXTURES/six.aln" six.aln
six=six.aln

case_name "no option words: the usage text once, status 1"
run_job 3
expect_status 1
expect_same out.txt "$FIXTURES/usage.txt"

for words in "-Z" "-T" "-i $six -G 1.5" "-i" "-i $six -o" "-O" "notanoption"; do
    case_name "usage: $words"
    # shellcheck disable=SC2086
    run_job 2 $words
    expect_status 1
    expect_count out.txt "Usage: dadiverur" 1
done

# expect_refused K NAME "WORDS|TEXT": the job of K processes on WORDS ends with status 1 and
# TEXT once on standard error.
expect_refused() {
    case_name "$2: ${3%%|*}"
    # shellcheck disable=SC2086
    run_job "$1" ${3%%|*}
    expect_status 1
    expect_count err.txt "${3#*|}" 1
}

# A value that is no decimal number, or an option word where a value belongs: the usage text
# once, and the one line that says what is wrong.
for words in "-i $six -G abc|-G takes a decimal number, not \"abc\"" \
    "-i $six -G 0.5x|-G takes a decimal number, not \"0.5x\"" \
    "-i $six -G 0x10|-G takes a decimal number, not \"0x10\"" \
    "-G -O -i $six|-G needs a value, not the option -O" \
    "-i $six -o -O|-o needs a value, not the option -O" \
    "-i -t $FIXTURES/six.tre|-i needs a value, not the option -t"; do
    expect_refused 2 "refused" "${words%%|*}|dadiverur: ${words#*|}"
    expect_count out.txt "Usage: dadiverur" 1
    [ ! -e -O ] || fail "a file named -O written"
done

case_name "standard input as the alignment: refused at once, never read"
# An input that never ends: were it read, only rank 0 would receive it and the job would hang.
exec {feed}< <(sleep 120)
feeder=$!
SECONDS=0
run_job 3 -i /dev/stdin -o result.txt <&"$feed"
kill "$feeder"
exec {feed}<&-
expect_status 1
[ "$SECONDS" -lt 50 ] || fail "the refusal took $SECONDS s" # a hang would last the 120 s of the feed
expect_count err.txt "/dev/stdin is not a regular file; dadiverur reads its inputs on every process" 1

for words in "-i . -o result.txt|." "-i $six -t /dev/stdin|/dev/stdin" "-i $six -r /dev/zero|/dev/zero"; do
    expect_refused 2 "an input that is no regular file" \
        "$words is not a regular file; dadiverur reads its inputs on every process"
    expect_lacks out.txt "Reading sequences"
done

case_name "missing alignment file"
run_job 2 -i missing.aln
expect_status 1
expect_has out.txt "can not open file:missing.aln"
expect_count err.txt "dadiverur: can not open missing.aln: No such file or directory" 1
expect_lacks out.txt "Reading sequences"

# A fault that one process meets alone (here its own command line names another alignment)
# while the others wait in the gather of the distances: it reports the fault after a short wait
# for rank 0, which never comes, and ends the job.
case_name "a fault only one process meets ends the job at once"
SECONDS=0
run_job 2 -i "$six" -o result.txt : -n 1 "$DADIVERUR" -i missing.aln -o result.txt
expect_status 1
[ "$SECONDS" -le 10 ] || fail "the job took $SECONDS s to end"
expect_count out.txt "can not open file:missing.aln" 1
expect_count err.txt "dadiverur: can not open missing.aln: No such file or directory" 1
# Rank 0 was ended outright: its temporary files stay, under names of their own.
rm -f result.txt.?????? DISTMATRIX.txt.??????

for option in -i -o -t -r; do
    case_name "an empty path for $option is refused"
    if [ "$option" = -i ]; then run_job 2 -i ""; else run_job 2 -i "$six" "$option" ""; fi
    expect_status 1
    expect_count err.txt "dadiverur: $option needs a path, not an empty word" 1
    expect_lacks out.txt "The input sequences:"
done

case_name "result file in a directory that does not exist"
run_job 2 -i "$six" -o nodir/result.txt
expect_status 1
expect_count out.txt "can not open file:nodir/result.txt: No such file or directory" 1

case_name "a folder as the result file: refused with the reason"
mkdir -p folder.txt
run_job 2 -i "$six" -o folder.txt
expect_status 1
expect_count out.txt "can not open file:folder.txt: Is a directory" 1

# Reader errors: file text, the message on standard error, the location line.
check_reader_error() {
    case_name "reader: $2"
    printf "$1" >bad.aln
    run_job 3 -i bad.aln -o result.txt
    expect_status 1
    expect_count err.txt "$2" 1
    [ -z "${3:-}" ] || expect_has err.txt "$3"
}
check_reader_error 'a AC\nb AC\nc AC\n\nb DE\na DE\nc DE\n' "Names do not match, was: a, now: b" \
    '(alignment file "bad.aln", line 5)'
check_reader_error 'a AC\nb AC\nc AC\n\na DE\nb DE\n\n' "Wrong nal, was: 3, now: 2" "line 7)"
check_reader_error 'a AC\nb AC\nc AC\n\na DE\nb DE\nc DE\nd DE\n' "Bad sequence number: 3 of 3" "line 8)"
check_reader_error 'a AC\nb ACD\nc AC\n' "wrong len for b, was: 2, now: 3" "line 2)"
check_reader_error '\n\n' "No alignments read"
check_reader_error 'a AC\nb AC\n' "Too few sequences: 2; at least 3 are needed"
check_reader_error 'a\nb\nc\n' "No sites: every sequence is empty"
check_reader_error 'a A-A\nb -AA\nc AA-\n' "No site to compute"
long=$(printf 'n%.0s' $(seq 1 52))
check_reader_error "$long AC\nb AC\nc AC\n" "Sequence name longer than 51 characters (52): $long" "line 1)"

case_name "a Clustal header of a current writer: read as a sequence, then how to go on"
{ echo "CLUSTAL 2.1 multiple sequence alignment"; tail -n +2 "$six"; } >clustal21.aln
run_job 3 -i clustal21.aln -o result.txt
expect_status 1
expect_count err.txt "Names do not match, was: CLUSTAL, now: human" 1
expect_count err.txt 'The first line must begin "CLUSTAL W" (or be left out)' 1
expect_has err.txt '(alignment file "clustal21.aln", line 4)'

case_name "one residue type at every computed site: refused once, before the model"
# The W stands in a column with too many gaps to be computed.
printf 'a AAW\nb AA-\nc AA-\nd AA-\n' >single.aln
run_job 3 -i single.aln -o result.txt
expect_status 1
expect_count err.txt "The alignment has a single residue type: every computed site holds A only" 1
expect_lacks out.txt "Too many iterations in hqr"
expect_lacks err.txt "Too many iterations in hqr"

# An output that names an input would empty it before it is read: refused before anything is
# written, naming both.
cp "$FIXTURES/six.tre" six.tre
printf 'not a root-probability file\n' >root.txt
ln -f six.tre linked.tre
cp six.aln kept.partial
ln -f root.txt root.partial
rm -f DISTMATRIX.txt
for words in "-i six.aln -o six.aln|(-o) is the alignment file (-i) six.aln; choose another result file" \
    "-o ./six.aln -i six.aln|(-o) is the alignment file (-i) six.aln; choose another result file" \
    "-i six.aln -t six.tre -o linked.tre|(-o) is the tree file (-t) six.tre; choose another result file" \
    "-i six.aln -r root.txt -o root.txt|(-o) is the root-probability file (-r) root.txt; choose another result file" \
    "-i kept.partial -t six.tre -o kept|The partial result file kept.partial (-o) is the alignment file (-i) kept.partial" \
    "-i six.aln -t six.tre -o root -r root.txt|The partial result file root.partial (-o) is the root-probability file (-r) root.txt" \
    "-i six.aln -r six.tre -o new.txt|The tree file six.tre would overwrite the root-probability file six.tre" \
    "-i six.aln -r ./DISTMATRIX.txt -o new.txt|The distance file DISTMATRIX.txt would overwrite the root-probability file ./DISTMATRIX.txt"; do
    expect_refused 3 "an output is an input" "$words"
    expect_same six.aln "$FIXTURES/six.aln"
    expect_same six.tre "$FIXTURES/six.tre"
    expect_same kept.partial "$FIXTURES/six.aln"
    expect_has root.txt "not a root-probability file"
    [ ! -e DISTMATRIX.txt ] || fail "DISTMATRIX.txt written although the run was refused"
    [ ! -e new.txt ] && [ ! -e new.txt.partial ] || fail "a result file written although the run was refused"
done

case_name "duplicate names"
printf 'a A\nd A\nb A\nd A\n' >dup.aln
run_job 3 -i dup.aln -o result.txt
expect_status 1
expect_count out.txt "duplication: seqNo:2 seqName:d  seqNo:4 seqName:d" 1

case_name "one process is refused"
run_job 1 -i "$six" -o result.txt
expect_status 1
expect_count err.txt "dadiverur: started with 1 processes, but this alignment of 54 sites needs 2 to 54" 1

case_name "more processes than sites are refused"
run_job 5 -i "$FIXTURES/four_sites.aln" -o result.txt
expect_status 1
expect_count err.txt "dadiverur: started with 5 processes, but this alignment of 4 sites needs 2 to 4" 1

case_name "a job of four: the input table once, progress from every process"
run_job 4 -i "$six" -o result.txt
expect_status 0
head -n 8 result.txt >table.txt
expect_same table.txt "$FIXTURES/six.table"
expect_count result.txt "The input sequences:" 1
expect_count out.txt "Reading sequences" 4
expect_count out.txt "Finish reading alignment" 4

case_name "without -o the table goes to standard output once"
run_job 3 -i "$six"
expect_status 0
expect_count out.txt "The input sequences:" 1
expect_count out.txt "    6                shark  MKILAVGLLGL" 1

case_name "long paths"
deep=$(printf 'directory_with_a_long_name_%s/' 1 2 3 4 5 6 7 8)
mkdir -p "$deep"
cp "$six" "$deep/alignment_file_with_a_long_name_too.aln"
run_job 2 -i "$deep/alignment_file_with_a_long_name_too.aln" -o "$deep/result_file_with_a_long_name.txt"
expect_status 0
expect_has "$deep/result_file_with_a_long_name.txt" "The input sequences:"

case_name "the bundled example, its first twelve columns"
# The whole example is the demo's job; its first columns keep the real names, letters and
# tree while the run stays short under the sanitizers.
awk 'NR == 1 { print; next } /^[^ ]/ { print $1, substr($2, 1, 12); n++ } /^$/ && n { exit }' \
    "$EXAMPLES/pkinase.aln" >pkinase12.aln
run_job 4 -i pkinase12.aln -t "$EXAMPLES/pkinase_fasttree.tre" -o result.txt
expect_status 0
expect_has result.txt "$(printf '%5d %20s  %s' 38 FUSED_DROME YAVSSLVGQGSF)"
expect_count result.txt "The input sequences:" 1

finish
