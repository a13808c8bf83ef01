#!/usr/bin/env bash
# The files a job writes under the MPI launcher: the result grows under a temporary name of its
# own and takes the -o path only when the job ends well; a failed or interrupted job ends with a
# status other than 0, leaves the earlier files as they were, what it had of the result in the
# partial file, and no temporary file.
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

# interrupt_when CONDITION SIGNAL K words...: dadiverur as a job of K processes in the background,
# ended by SIGNAL to the launcher alone (as Ctrl-C or a scheduler ends it) once the shell condition
# holds; the job's exit status in $status. A job that ends before, or in which the condition
# does not hold or that does not end within 60 s, is a failure.
interrupt_when() {
    local condition=$1 signal=$2 k=$3 ticks=0
    shift 3
    # The condition must not hold on the output of the job before.
    rm -f out.txt err.txt
    "$MPIEXEC" -n "$k" "$DADIVERUR" "$@" >out.txt 2>err.txt &
    local job=$!
    until eval "$condition"; do
        kill -0 "$job" 2>/dev/null || { fail "the job ended before: $condition"; break; }
        [ $((ticks += 1)) -lt 6000 ] || { fail "not within 60 s: $condition"; break; }
        sleep 0.01
    done
    ticks=0
    kill "-$signal" "$job" 2>/dev/null
    while kill -0 "$job" 2>/dev/null; do
        [ $((ticks += 1)) -lt 6000 ] || { fail "no end within 60 s of SIG$signal"; kill -KILL "$job"; }
        sleep 0.01
    done
    wait "$job"
    status=$?
}

# expect_interrupted SIGNAL: the status of a job that a signal ended, 128 + its number.
expect_interrupted() { expect_status $((128 + $(kill -l "$1"))); }

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

# The launcher returns the status its processes give only when they end the job through MPI, so
# each interrupt is tried twice at every stage: in the start, in the shared distances (the
# processes meet in a gather) and in the final phase.
for signal in TERM INT; do
    for trial in 1 2; do
        case_name "SIG$signal in the start ($trial): the job ends with $((128 + $(kill -l $signal)))"
        interrupt_when 'grep -qs "Reading sequences" out.txt' "$signal" 3 -i six.aln -t six.tre -o result.txt
        expect_interrupted "$signal"
        expect_same result.txt earlier.txt

        case_name "SIG$signal in the final phase ($trial): the tables so far in the partial file"
        interrupt_when 'grep -qs "receive message from" out.txt' "$signal" 3 -i slow.aln -o result.txt
        expect_interrupted "$signal"
        expect_same result.txt earlier.txt
        expect_count result.txt.partial "best point:" 1
        expect_lacks result.txt.partial "Entropy for each site"
        expect_no_files "temporary result left" result.txt.??????
    done
done

case_name "the next job ends well over the partial file a failed one left"
run_job 2 -i six.aln -t six.tre -o result.txt
expect_status 0
expect_count result.txt "The input sequences:" 1
expect_count result.txt "Entropy for each site" 1
expect_no_partial result.txt

echo "earlier distances" >DISTMATRIX.txt
echo "earlier tree" >slower.tre
for signal in TERM INT; do
    for trial in 1 2; do
        case_name "SIG$signal in the distances ($trial): the earlier files kept, no temporary one"
        interrupt_when 'ls DISTMATRIX.txt.* >/dev/null 2>&1' "$signal" 3 -i slower.aln -o slower.txt
        expect_interrupted "$signal"
        expect_has DISTMATRIX.txt "earlier distances"
        expect_has slower.tre "earlier tree"
        expect_no_files "temporary files left" DISTMATRIX.txt.* slower.tre.* slower.txt.??????
        [ ! -e slower.txt ] || fail "slower.txt written by an interrupted job"
    done
done

case_name "two jobs with one -o at the same time: the result is one job's whole result"
cp six.aln other.aln
sed -i 's/^human /horse /' other.aln
sed 's/human/horse/' six.tre >other.tre
"$MPIEXEC" -n 2 "$DADIVERUR" -i six.aln -t six.tre -o shared.txt >out.txt 2>err.txt &
first=$!
"$MPIEXEC" -n 3 "$DADIVERUR" -i other.aln -t other.tre -o shared.txt >out2.txt 2>err2.txt
second=$?
wait "$first"
first=$?
if [ "$first" -ne 0 ] || [ "$second" -ne 0 ]; then fail "the two jobs ended with $first and $second"; fi
expect_count shared.txt "The input sequences:" 1
expect_count shared.txt "Entropy for each site" 1
[ "$(grep -c ' human ' shared.txt)" -eq 0 ] || [ "$(grep -c ' horse ' shared.txt)" -eq 0 ] ||
    fail "shared.txt holds both jobs' sequences"
expect_no_files "files left beside the result" shared.txt.*

case_name "a -o name as long as the folder takes"
long=$(printf 'r%.0s' $(seq 1 255))
run_job 2 -i six.aln -t six.tre -o "$long"
expect_status 0
expect_count "$long" "Entropy for each site" 1
beside=(rrrr*)
[ "${#beside[@]}" -eq 1 ] || fail "files left beside the result: ${beside[*]}"

case_name "a tree file that could not be written is refused before any distance"
mkdir -p unwritable.tre
cp six.aln unwritable.aln
run_job 3 -i unwritable.aln -o unwritable.txt
expect_status 1
expect_count err.txt "unwritable.tre could not be open for writing" 1
expect_has err.txt "wnj::io::openWrite: Is a directory"
expect_lacks out.txt "Calculating distance matrix"
expect_no_files "a result written although the run was refused" unwritable.txt*

finish
