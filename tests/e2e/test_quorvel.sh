#!/usr/bin/env bash
# Runs the real quorvel on small inputs and checks its report, its .rank and .pvalue files and
# its exit statuses; also cuts the inputs out of a result file with the project's script.
set -euo pipefail

: "${QUORVEL:?QUORVEL must name the quorvel program}"
: "${FIXTURES:?}"
: "${SCRATCH_ROOT:?}"
here=$(cd "$(dirname "$0")/../.." && pwd)
fixtures=$FIXTURES/quorvel
work=$SCRATCH_ROOT/quorvel
rm -rf "$work"
mkdir -p "$work"
cd "$work"

fail() {
    echo "test_quorvel: $*" >&2
    exit 1
}

# Runs quorvel with the given arguments, keeping its report, errors and status.
status=0
run() {
    status=0
    "$QUORVEL" "$@" >report 2>errors || status=$?
}

expect_status() {
    [ "$status" -eq "$1" ] || fail "$2: exit status $status, expected $1 (errors: $(head -c 300 errors))"
}

expect_in() {
    grep -qF -- "$2" "$1" || fail "$3: '$2' not found in $1"
}

# A full run under -R: report, rank order (the tie of sites 7 and 8 as the exchange sort leaves
# it) and p-values in the same order.
cp "$fixtures/hand.origin" hand.origin
run -O hand.origin -M "$fixtures/hand.mutation" -A "$fixtures/hand.alpha" -P "$fixtures/hand.prob" \
    -F "$fixtures/hand.func" -R
expect_status 0 "full run"
expect_in report "seqLength: 12" "full run"
expect_in report "alpha:     1.000000  and beta:     0.000000" "full run"
expect_in errors "\"40\"" "out-of-range functional site"
[ "$(tr '\n' ' ' <hand.origin.rank)" = "14 9 13 10 15 1 11 4 16 8 7 2 " ] ||
    fail "rank file: $(tr '\n' ' ' <hand.origin.rank)"
[ "$(wc -l <hand.origin.pvalue)" -eq 12 ] || fail "p-value file: $(wc -l <hand.origin.pvalue) lines, expected 12"
grep -qvE '^[0-9]\.[0-9]{6}e[-+][0-9]{2}$' hand.origin.pvalue && fail "p-value file: a line not in %12.6e"
report_probs=$(awk '/^site    prob1/ {on = 1; next} on && NF {print $2}' report)
[ "$report_probs" = "$(cat hand.origin.pvalue)" ] || fail "p-value file differs from the report's prob1 column"

# The default fit and the weighted fit both run to the end on well-separated values.
cp "$fixtures/scaled.origin" scaled.origin
for mode in "" -L -B; do
    run -O scaled.origin -M "$fixtures/scaled.mutation" $mode
    expect_status 0 "mode '$mode'"
    [ "$(wc -l <scaled.origin.rank)" -eq 8 ] || fail "mode '$mode': rank file not 8 lines"
done

# Refused command lines and inputs.
run
expect_status 1 "no arguments"
head -1 report | grep -q '^Usage: quorvel \[-R\] \[-L\] -O originLog(L)File' || fail "no arguments: no usage text"
[ "$(wc -l <report)" -eq 4 ] || fail "usage text is not four lines"
# A refused word: the usage text on standard output, its cause alone on standard error.
expect_refused() {
    expect_status 1 "$2"
    [ "$(wc -l <report)" -eq 4 ] && head -1 report | grep -q '^Usage: quorvel' || fail "$2: no usage text"
    [ "$(cat errors)" = "$1" ] || fail "$2: errors '$(cat errors)', expected '$1'"
}
run -x
expect_refused "quorvel: -x is not an option" "unknown option"
run -M "$fixtures/hand.mutation" -O
expect_refused "quorvel: -O needs a value" "option without value"
run -O hand.origin "$fixtures/hand.mutation"
expect_refused "quorvel: $fixtures/hand.mutation is not an option" "stray word"
run -O missing.origin -M "$fixtures/hand.mutation"
expect_status 1 "missing origin"
expect_in report "can not open file: missing.origin to read" "missing origin"
run -O hand.origin -M missing.mutation -A "$fixtures/hand.alpha"
expect_status 1 "missing mutation"
expect_in report "can not open file: missing.mutation" "missing mutation"
{ echo "Log likelihood for each site after shuffle"; cat "$fixtures/hand.mutation"; } >titled.mutation
run -O hand.origin -M titled.mutation
expect_status 1 "title line left in"
expect_in errors "replicate 1 has 7 values, expected 16" "title line left in"
head -1 "$fixtures/hand.mutation" >single.mutation
run -O hand.origin -M single.mutation
expect_status 1 "one replicate"
run -O hand.origin -M "$fixtures/hand.mutation" -R -B
expect_status 1 "beta moments"
expect_in errors "give no beta distribution" "beta moments"

# Old Mac and DOS line ends read as newlines, and the replicates may come through a pipe: the
# same ranking as the full run above.
mkdir -p ends
for f in hand.origin hand.alpha hand.prob hand.func; do tr '\n' '\r' <"$fixtures/$f" >"ends/$f"; done
sed 's/$/\r/' "$fixtures/hand.mutation" >ends/hand.mutation
run -O ends/hand.origin -M ends/hand.mutation -A ends/hand.alpha -P ends/hand.prob -F ends/hand.func -R
expect_status 0 "carriage-return line ends"
cmp -s ends/hand.origin.rank hand.origin.rank || fail "carriage-return line ends: another ranking"
status=0
"$QUORVEL" -O ends/hand.origin -M /dev/stdin -A ends/hand.alpha -P ends/hand.prob -F ends/hand.func -R \
    <"$fixtures/hand.mutation" >report 2>errors || status=$?
expect_status 0 "replicates through a pipe"
cmp -s ends/hand.origin.rank hand.origin.rank || fail "replicates through a pipe: another ranking"

# A UTF-8 byte-order mark before any input file's first line is skipped: the same ranking again.
mkdir -p marked
for f in hand.origin hand.mutation hand.alpha hand.prob hand.func; do
    { printf '\357\273\277'; cat "$fixtures/$f"; } >"marked/$f"
done
run -O marked/hand.origin -M marked/hand.mutation -A marked/hand.alpha -P marked/hand.prob \
    -F marked/hand.func -R
expect_status 0 "byte-order marks"
cmp -s marked/hand.origin.rank hand.origin.rank || fail "byte-order marks: another ranking"

# An output that would land on an input is refused before anything is written.
cp "$fixtures/hand.mutation" clash.origin.rank
cp "$fixtures/hand.origin" clash.origin
run -O clash.origin -M clash.origin.rank
expect_status 1 "output onto an input"
expect_in errors "the rank file clash.origin.rank would overwrite the mutation file clash.origin.rank" \
    "output onto an input"
cmp -s clash.origin.rank "$fixtures/hand.mutation" || fail "output onto an input: the input was changed"
[ ! -e clash.origin.pvalue ] || fail "output onto an input: a p-value file was written"

# Under -R with every site filtered out (every alpha 1): status 1, the no-site message, no nan
# or inf anywhere, and no output files.
cp "$fixtures/hand.origin" filtered.origin
sed 's/.*/1.0/' "$fixtures/hand.alpha" >filtered.alpha
run -O filtered.origin -M "$fixtures/hand.mutation" -A filtered.alpha -R
expect_status 1 "every site filtered out"
expect_in errors "no site is left" "every site filtered out"
if grep -qiwE 'nan|inf' report errors; then fail "every site filtered out: nan or inf in the report"; fi
[ ! -e filtered.origin.rank ] && [ ! -e filtered.origin.pvalue ] ||
    fail "every site filtered out: output files written"

# Fields that are not numbers, a short probability file (the sites after it keep 1.0), tabs between
# replicate values and misspelt optional files.
printf '%s\n' -33.29 -25.41 '−31.5' >word.origin
run -O word.origin -M "$fixtures/hand.mutation"
expect_status 1 "a Unicode minus"
expect_in errors 'origin file: word.origin, line 3: "−31.5" is not a number' "a Unicode minus"
head -3 "$fixtures/hand.prob" >short.prob
run -O hand.origin -M "$fixtures/hand.mutation" -P short.prob
expect_status 0 "short probability file"
ndprob() { awk -v site="$1" '/^site    prob1/ {on = 1; next} on && $1 == site {print $NF}' report; }
[ "$(ndprob 2)" = "2.000000e-02" ] && [ "$(ndprob 4)" = "1.000000e+00" ] ||
    fail "short probability file: ndProb of sites 2 and 4 are '$(ndprob 2)' '$(ndprob 4)'"
tr ' ' '\t' <"$fixtures/hand.mutation" >tabbed.mutation
run -O hand.origin -M tabbed.mutation
expect_status 1 "tab-separated replicates"
expect_in errors "holds a tab; the values of a line are separated by blanks, a tab is not a separator" \
    "tab-separated replicates"
for option in -A -P -F; do
    run -O hand.origin -M "$fixtures/hand.mutation" "$option" misspelt
    expect_status 1 "misspelt $option file"
    expect_in report "can not open file: misspelt to read" "misspelt $option file"
done

# A report that cannot be written is a failure.
status=0
"$QUORVEL" -O scaled.origin -M "$fixtures/scaled.mutation" >/dev/full 2>errors || status=$?
expect_status 1 "report to a full disk"

# The inputs cut out of a result file: the logL column and the shuffle block.
bash "$here/scripts/cut-quorvel-inputs.sh" "$fixtures/result.txt" job
[ "$(wc -l <job.origin)" -eq 12 ] || fail "cut origin: $(wc -l <job.origin) lines, expected 12"
[ "$(sed -n 4p job.origin)" = "-12.5000" ] || fail "cut origin: line 4 is '$(sed -n 4p job.origin)'"
[ "$(wc -l <job.mutation)" -eq 6 ] || fail "cut mutation: $(wc -l <job.mutation) lines, expected 6"
grep -q 'shuffle\|check' job.mutation && fail "cut mutation holds a title line"
run -O job.origin -M job.mutation
expect_status 0 "run on cut inputs"
expect_in report "seqLength: 11" "run on cut inputs (the invariant site 4 is dropped)"
[ "$(wc -l <job.origin.rank)" -eq 11 ] || fail "run on cut inputs: rank file not 11 lines"
if bash "$here/scripts/cut-quorvel-inputs.sh" hand.origin none 2>errors; then
    fail "cutting a file that is no result file succeeded"
fi

echo "test_quorvel: all checks passed"
