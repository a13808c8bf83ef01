#!/usr/bin/env bash
# The tree file under the MPI launcher: the tree read in the layout of a built tree file with
# Windows line ends, and as DendroPy writes it; the per-site trees, the branch table and the
# rooting; faulty tree files reported once.
source "$(dirname "$0")/lib.sh"
start_test trees

# The chosen root: at the start of branch 1, between records 7 and 8.
expect_root_on_branch_1_between_7_and_8() {
    grep -A1 -x "best point: branch No:  1 distance from left point:  0.000000" result.txt | tail -n 1 >root.txt
    printf 'left point: 7:  right point: 8: \n' >expected_root.txt
    expect_same root.txt expected_root.txt
}

six="$FIXTURES/six.aln"

# Every leaf three from the top (a mean without rounding): the three inner branches hold
# their point at the top (x 0, variance 0) and split 4 to 2; the first of them is chosen.
printf '((human:2,mouse:2)\r\n:1,(chicken:2,frog:2):1,(zebra:2,shark:2)\r\n:1);\r\n' >even.tre

case_name "rooting a tree read from a file with cut lines and Windows line ends"
run_job 2 -i "$six" -t even.tre -o result.txt
expect_status 0
for line in "Reading treefile: even.tre" "Finish reading tree" "Finish assign tree" "Finish assign branch" \
    "finish find all LPoint and RPoint"; do
    expect_count out.txt "$line" 2
done
for b in "  1" "  4" "  7"; do
    expect_count out.txt "$(printf 'branch:%s x value:  0.000000 variance:  0.000000\t LeftLeaf number:   4 RightLeaf number:   2 difference:    2' "$b")" 2
done
expect_count out.txt "branch:" 6
expect_count result.txt "best point:" 1
expect_root_on_branch_1_between_7_and_8

# Every length 0 (identical sequences): every point is at its branch's upper end with variance
# 0, so every branch is shown; the first of the three 4 to 2 splits is chosen.
printf '((human:0,mouse:0):0,(chicken:0,frog:0):0,(zebra:0,shark:0):0);\n' >flat.tre

case_name "rooting a tree whose lengths are all 0"
run_job 2 -i "$six" -t flat.tre -o result.txt
expect_status 0
expect_count out.txt "$(printf 'x value:  0.000000 variance:  0.000000\t LeftLeaf number:   4 RightLeaf number:   2 difference:    2')" 6
expect_count out.txt "$(printf 'x value:  0.000000 variance:  0.000000\t LeftLeaf number:   5 RightLeaf number:   1 difference:    4')" 12
expect_count out.txt "branch:" 18
expect_root_on_branch_1_between_7_and_8

case_name "a leaf the alignment does not have"
printf '((human:1,cow:1):1,(chicken:1,frog:1):1,(zebra:1,shark:1):1);\n' >cow.tre
run_job 3 -i "$six" -t cow.tre -o result.txt
expect_status 1
expect_count err.txt "Error in tree file cow.tre, line 1: leaf 'cow' is not a sequence of the alignment" 1

case_name "a missing tree file is named as given, once"
run_job 2 -i "$six" -t missing.tre -o result.txt
expect_status 1
expect_count err.txt "Data file missing.tre not found" 1
expect_count err.txt "FATAL - execution terminated" 1

# Before the final tables everything is fixed by the inputs; so is the master's "check" table.
fixed_part() {
    awk '/^site   entropy     avgEntropy  logL  avgLogL$/ { exit } { print }' "$1"
    awk '$0 == "check" { n = 33 } n-- > 0' "$1"
}

# human and mouse differ at several sites; their branches and the one above them have length
# 0, which the likelihood takes as 1e-6, as written in the second tree (1e-6 is read as a
# single-precision value just below it, so that tree's three are raised too).
printf '((human:0,mouse:0):0,(chicken:0.2,frog:0.3):0.05,(zebra:0.25,shark:0.3):0.1);\n' >zero.tre
printf '((human:1e-6,mouse:1e-6):1e-6,(chicken:0.2,frog:0.3):0.05,(zebra:0.25,shark:0.3):0.1);\n' >floor.tre
for options in "" "-O"; do
    case_name "zero-length branches are taken as 1e-6 ${options:-(default)}"
    for tree in zero floor; do
        run_job 3 $options -i "$six" -t $tree.tre -o $tree.txt
        expect_status 0
        expect_count out.txt "3 of the 9 branches of the tree are shorter than 1e-6 and are taken as 1e-6" 1
        expect_lacks $tree.txt "nan"
        expect_lacks $tree.txt "inf"
        fixed_part $tree.txt >$tree.fixed
    done
    expect_same zero.fixed floor.fixed
done

case_name "a tree as the README's DendroPy line writes it reads as its plain twin"
# Names with underscores, as sequence databases give them, which DendroPy quotes; a node it
# resolved, with a zero-length branch; the support values kept as labels, quoted or not; and the
# top's length of the input tree kept.
awk '/^[a-z]/ { printf "%s_1 %s\n", $1, $2; next } !/^ / { print }' "$six" >ids.aln
printf "('shark_1':0.3,('human_1':0.05,'mouse_1':0.04)'95/100':0.1,('zebra_1':0.25,('chicken_1':0.2,'frog_1':0.3):0.0)0.9:0.05):0.0;\n" >dendropy.tre
printf '(shark_1:0.3,(human_1:0.05,mouse_1:0.04):0.1,(zebra_1:0.25,(chicken_1:0.2,frog_1:0.3):0.0):0.05);\n' >twin.tre
for tree in dendropy twin; do
    run_job 2 -i ids.aln -t $tree.tre -o $tree.txt
    expect_status 0
    fixed_part $tree.txt >$tree.fixed
done
expect_same dendropy.fixed twin.fixed
expect_has dendropy.txt "chicken_1"

case_name "no branch is raised, no line about it"
run_job 2 -i "$six" -t "$FIXTURES/six.tre" -o result.txt
expect_status 0
expect_lacks out.txt "shorter than 1e-6"

case_name "a branch length above 1000"
printf '((human:0.1,mouse:0.1):0.1,(chicken:0.2,frog:0.3):0.05,\n(zebra:0.25,shark:1e20):0.1);\n' >long.tre
run_job 3 -i "$six" -t long.tre -o result.txt
expect_status 1
expect_count err.txt "Error in tree file long.tre, line 2: branch length 1e20 of leaf 'shark' is longer than 1000, the longest a tree file may hold" 1

finish
