#!/usr/bin/env bash
# The files a job writes under the MPI launcher: the result grows in the partial file and takes
# the -o path only when the job ends well; a failed or interrupted job leaves the earlier files
# as they were and no temporary file.
source "$(dirname "$0")/lib.sh"
start_test result_file
cp "$FIXTURES/six.aln" six.aln
cp "$FIXTURES/six.tre" six.tre

# related_sequences N: N related sequences of 60 sites. For 150 the final phase takes long; for
# 500 the distances take some seconds too, so that a job is caught in them on a loaded machine.
related_sequences() {
    awk -v n="$1" 'BEGIN { srand(7); aa = "ARNDCQEGHILKMFPSTWYV"
             for (s = 1; s <= 60; s++) base[s] = substr(aa, int(rand() * 20) + 1, 1)
             for (i = 1; i <= n; i++) { line = ""
                 for (s = 1; s <= 60; s++) line = line (rand() < 0.3 ? substr(aa, int(rand() * 20) + 1, 1) : base[s])
                 printf "s%d %s\n", i, line } }'
}
related_sequences 150 >slow.aln
related_sequences 500 >slower.aln

# interrupt_when CONDITION K words...: dadiverur as a job of K processes in the background,
# ended by SIGTERM to the launcher (as Ctrl-C or a scheduler ends it) once the shell condition
# holds; a job that ends before is a failure.
interrupt_when() {
    local condition=$1 k=$2
    shift 2
    timeout 60 "$MPIEXEC" -n "$k" "$DADIVERUR" "$@" >out.txt 2>err.txt &
    local job=$!
    until eval "$condition"; do
        kill -0 "$job" 2>/dev/null || { fail "the job ended before: $condition"; return; }
        sleep 0.01
    done
    kill -TERM "$job"
    wait "$job"
}

expect_no_partial() { [ ! -e "$1.partial" ] || fail "$1.partial is left"; }

case_name "a job that ends well: the result at the -o path, no partial file"
run_job 2 -i six.aln -t six.tre -o result.txt
expect_status 0
expect_count result.txt "Entropy for each site" 1
expect_no_partial result.txt
cp result.txt earlier.txt

case_name "a refused rerun keeps the earlier result; the partial file holds what it wrote"
printf '((human:1,cow:1):1,(chicken:1,frog:1):1,(zebra:1,shark:1):1);\n' >cow.tre
run_job 3 -i six.aln -t cow.tre -o result.txt
expect_status 1
expect_same result.txt earlier.txt
expect_count result.txt.partial "The input sequences:" 1
expect_lacks result.txt.partial "best point:"

case_name "a job interrupted in its final phase: the tables so far in the partial file"
interrupt_when 'grep -q "receive message from" out.txt' 3 -i slow.aln -o result.txt
expect_same result.txt earlier.txt
expect_count result.txt.partial "best point:" 1
expect_lacks result.txt.partial "Entropy for each site"

case_name "the next job ends well over the partial file a failed one left"
run_job 2 -i six.aln -t six.tre -o result.txt
expect_status 0
expect_count result.txt "The input sequences:" 1
expect_count result.txt "Entropy for each site" 1
expect_no_partial result.txt

case_name "a job interrupted during its distances leaves the earlier files and no temporary one"
echo "earlier distances" >DISTMATRIX.txt
echo "earlier tree" >slower.tre
interrupt_when 'ls DISTMATRIX.txt.* >/dev/null 2>&1' 2 -i slower.aln -o slower.txt
expect_has DISTMATRIX.txt "earlier distances"
expect_has slower.tre "earlier tree"
[ -z "$(ls DISTMATRIX.txt.* slower.tre.* 2>/dev/null)" ] || fail "temporary files left: $(ls DISTMATRIX.txt.* slower.tre.*)"
[ ! -e slower.txt ] || fail "slower.txt written by an interrupted job"

finish
