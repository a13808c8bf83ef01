#!/usr/bin/env bash
# A run without a tree file under mpiexec: the distances and the built tree are written once
# by rank 0, every process builds the same tree, and the job goes on as with that tree given.
source "$(dirname "$0")/lib.sh"
start_test distance
cp "$FIXTURES/six.aln" six.aln

# expect_distance_file FILE: the count line, then one row per sequence: a name in 20
# columns, a tab and six distances, a symmetric matrix with a zero diagonal.
expect_distance_file() {
    awk 'NR == 1 { if ($0 != "6") bad = 1; next }
         { if (length($0) != 21 + 6 * 11 || substr($0, 21, 1) != "\t") bad = 1
           for (j = 2; j <= NF; j++) d[NR - 1, j - 1] = $j }
         END { if (NR != 7) bad = 1
               for (i = 1; i <= 6; i++) { if (d[i, i] != 0) bad = 1
                   for (j = 1; j <= 6; j++) if (d[i, j] != d[j, i]) bad = 1 }
               exit bad }' "$1" || fail "$1 is not one intact distance matrix: $(cat "$1")"
}

# expect_tree_file FILE: Newick text of the six sequences that ends with ");" and an empty line.
expect_tree_file() {
    [ "$(tail -c 3 "$1" | od -An -c | tr -d ' ')" = ';\n\n' ] || fail "$1 does not end with \");\" and an empty line"
    for name in human mouse chicken frog zebra shark; do
        [ "$(grep -o "$name:" "$1" | wc -l)" -eq 1 ] || fail "$1 does not hold $name exactly once"
    done
}

# preparation FILE: the result file up to the chosen root (the tables every process computes).
preparation() { sed -n '1,/^left point:/p' "$1"; }

# expect_same_check FILE EXPECTED: the same "check" table of site log-likelihoods, within the
# rounding that a tree file's six decimals bring.
expect_same_check() {
    sed -n '/^check$/,/^Entropy for each site$/p' "$1" >check.1
    sed -n '/^check$/,/^Entropy for each site$/p' "$2" >check.2
    [ "$(wc -l <check.1)" -gt 2 ] || fail "$1 has no check table"
    paste check.1 check.2 | awk -F '\t' '{ split($1, a, " "); split($2, b, " "); d = a[2] - b[2]
                                          if (a[1] != b[1] || d > 0.0005 || d < -0.0005) bad = 1 }
                                          END { exit bad }' ||
        fail "the check tables of $1 and $2 differ: $(diff check.1 check.2 | head -n 6)"
}

for k in 2 4; do
    case_name "no tree file, $k processes: one distance file and one tree file"
    rm -f DISTMATRIX.txt six.tre
    run_job "$k" -i six.aln -o result.txt
    expect_status 0
    expect_distance_file DISTMATRIX.txt
    expect_tree_file six.tre
    expect_count out.txt "finish wnj and return" "$k"
    expect_count out.txt "Finish building tree" "$k"
    expect_count result.txt "The input sequences:" 1
    expect_count result.txt "Log likelihood for each site after shuffle" 1
    cp DISTMATRIX.txt "distances.$k"
    cp six.tre "tree.$k"
    cp result.txt "result.$k"
done

case_name "the same files from 2 and 4 processes"
expect_same distances.4 distances.2
expect_same tree.4 tree.2

case_name "the built tree given with -t: the same result file"
# The final phase shuffles at random; the preparation and the site log-likelihoods are fixed.
cp tree.2 given.tre
run_job 2 -i six.aln -t given.tre -o result.txt
expect_status 0
expect_count out.txt "Reading treefile: given.tre" 2
preparation result.txt >prep.t
for k in 2 4; do
    preparation "result.$k" >"prep.$k"
    expect_same "prep.$k" prep.t
    expect_same_check "result.$k" result.txt
done

case_name "a distance file that cannot be created ends the job"
rm -f DISTMATRIX.txt
mkdir DISTMATRIX.txt
run_job 3 -i six.aln -o result.txt
expect_status 1
expect_count out.txt "can not open file:DISTMATRIX.txt" 1
rmdir DISTMATRIX.txt

case_name "a tree file that cannot be created ends the job"
rm -f six.tre
mkdir six.tre
run_job 3 -i six.aln -o result.txt
expect_status 1
expect_count err.txt "six.tre could not be open for writing" 1
rmdir six.tre

case_name "a tree file that would overwrite the alignment is refused"
cp six.aln six.tre
run_job 2 -i six.tre -o result.txt
expect_status 1
expect_count err.txt "The tree file six.tre would overwrite the alignment file six.tre" 1
expect_same six.tre six.aln

case_name "a name too long for the tree builder is refused before any distance"
rm -f DISTMATRIX.txt
sed 's/^chicken   /chicken_of_the_far_north /' six.aln >long.aln
run_job 2 -i long.aln -o result.txt
expect_status 1
expect_count err.txt "Sequence 3 (chicken_of_the_far_north): the name has 24 characters" 1
[ ! -e DISTMATRIX.txt ] || fail "DISTMATRIX.txt written although the tree was refused"

for name in "chick,en" "chick(en" "chick)en" "chick:en" "chick;en"; do
    case_name "a name the tree file cannot hold is refused before any distance: $name"
    rm -f DISTMATRIX.txt
    awk -v name="$name" '$1 == "chicken" { $1 = name } { print }' six.aln >marked.aln
    run_job 2 -i marked.aln -o result.txt
    expect_status 1
    expect_count err.txt "Sequence 3 ($name): the name holds '${name:5:1}'" 1
    [ ! -e DISTMATRIX.txt ] || fail "DISTMATRIX.txt written although the tree was refused"
done

# Two jobs in one folder, on alignments of one stem: each file is one job's whole, never a mix.
grep -v '^shark' six.aln >six.five.aln
for alignment in six.aln six.five.aln; do
    case_name "alone: $alignment"
    run_job 2 -i "$alignment" -o "alone.$alignment.txt"
    expect_status 0
    cp DISTMATRIX.txt "distances.$alignment"
    cp six.tre "tree.$alignment"
done
# expect_one_of FILE A B: FILE equals A or B.
expect_one_of() { cmp -s "$1" "$2" || cmp -s "$1" "$3" || fail "$1 is neither $2 nor $3: $(cat "$1")"; }
for round in 1 2 3; do
    case_name "two jobs at once, round $round"
    timeout 60 "$MPIEXEC" -n 2 "$DADIVERUR" -i six.aln -o both.1.txt >both.1.out 2>&1 &
    first=$!
    timeout 60 "$MPIEXEC" -n 2 "$DADIVERUR" -i six.five.aln -o both.2.txt >both.2.out 2>&1
    second=$?
    wait "$first"
    [ "$?" -eq 0 ] && [ "$second" -eq 0 ] || fail "a job of the two ended with a fault"
    expect_one_of DISTMATRIX.txt distances.six.aln distances.six.five.aln
    expect_one_of six.tre tree.six.aln tree.six.five.aln
    expect_no_files "temporary files left" DISTMATRIX.txt.* six.tre.*
done

finish
