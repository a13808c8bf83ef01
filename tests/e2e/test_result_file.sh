#!/usr/bin/env bash
# The files a job writes under the MPI launcher: a failed or interrupted job leaves the earlier
# files as they were and no temporary file.
source "$(dirname "$0")/lib.sh"
start_test result_file
# 150 related sequences of 60 sites: their distances take a moment.
awk 'BEGIN { srand(7); aa = "ARNDCQEGHILKMFPSTWYV"
             for (s = 1; s <= 60; s++) base[s] = substr(aa, int(rand() * 20) + 1, 1)
             for (i = 1; i <= 150; i++) { line = ""
                 for (s = 1; s <= 60; s++) line = line (rand() < 0.3 ? substr(aa, int(rand() * 20) + 1, 1) : base[s])
                 printf "s%d %s\n", i, line } }' >slow.aln

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

case_name "a job interrupted during its distances leaves the earlier files and no temporary one"
echo "earlier distances" >DISTMATRIX.txt
echo "earlier tree" >slow.tre
interrupt_when 'ls DISTMATRIX.txt.* >/dev/null 2>&1' 2 -i slow.aln -o slow.txt
expect_has DISTMATRIX.txt "earlier distances"
expect_has slow.tre "earlier tree"
[ -z "$(ls DISTMATRIX.txt.* slow.tre.* 2>/dev/null)" ] || fail "temporary files left: $(ls DISTMATRIX.txt.* slow.tre.*)"

finish
