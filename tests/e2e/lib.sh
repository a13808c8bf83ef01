# Helpers for the end-to-end tests. A test script sources this file, calls start_test, runs
# cases with `case_name`, `run_job` and the expect_ checks, and ends with `finish`.
# Environment (set by CTest): DADIVERUR, MPIEXEC, FIXTURES, SCRATCH_ROOT.
set -uo pipefail
: "${FIXTURES:?}" "${SCRATCH_ROOT:?}"

failures=0
current_case=""
status=0

# A fresh scratch directory for this script, made the working directory.
start_test() {
    scratch="$SCRATCH_ROOT/$1"
    rm -rf "$scratch"
    mkdir -p "$scratch"
    cd "$scratch" || exit 1
}

case_name() { current_case=$1; }

fail() {
    echo "FAIL [$current_case]: $*" >&2
    echo "--- stdout (out.txt)" >&2
    tail -n 20 out.txt >&2 2>/dev/null
    echo "--- stderr (err.txt)" >&2
    tail -n 20 err.txt >&2 2>/dev/null
    failures=$((failures + 1))
}

# run_job K words...: dadiverur as a job of K processes, stdout to out.txt, stderr to
# err.txt, exit status in $status. A job still running after 60 seconds is a failure.
run_job() {
    : "${DADIVERUR:?}" "${MPIEXEC:?}"
    local k=$1
    shift
    timeout 60 "$MPIEXEC" -n "$k" "$DADIVERUR" "$@" >out.txt 2>err.txt
    status=$?
    [ "$status" -ne 124 ] || fail "no end within 60 s: -n $k $*"
}

expect_status() { [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"; }

# expect_has FILE TEXT: some line of FILE contains TEXT.
expect_has() { grep -qF -- "$2" "$1" 2>/dev/null || fail "$1 lacks: $2"; }

expect_lacks() { ! grep -qF -- "$2" "$1" 2>/dev/null || fail "$1 holds: $2"; }

# expect_count FILE TEXT N: exactly N lines of FILE contain TEXT.
expect_count() {
    local n
    n=$(grep -cF -- "$2" "$1" 2>/dev/null)
    [ "${n:-0}" -eq "$3" ] || fail "$1 has ${n:-0} lines with \"$2\", expected $3"
}

# expect_no_files WHAT PATTERN...: no file matches the patterns; WHAT says what such files are.
expect_no_files() {
    local what=$1 found
    shift
    found=$(ls -d "$@" 2>/dev/null)
    [ -z "$found" ] || fail "$what: $found"
}

# expect_same FILE EXPECTED: the two files are equal.
expect_same() { diff -u "$2" "$1" >diff.txt 2>&1 || fail "$1 differs from $2: $(head -n 20 diff.txt)"; }

finish() {
    if [ "$failures" -eq 0 ]; then
        echo "all cases passed"
        exit 0
    fi
    echo "$failures failed checks" >&2
    exit 1
}
