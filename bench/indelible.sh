# Sourced by the benchmarks that run on alignments simulated by INDELible, an independent
# simulator (Debian package indelible): installs it when missing, makes random trees and turns
# its FASTA output into the CLUSTAL W layout.

# Sets work to the folder of a run's files: WORK when it is set (kept), else a temporary folder
# removed when the script ends.
open_work() {
    if [ -n "${WORK:-}" ]; then
        mkdir -p "$WORK"
        work=$(cd "$WORK" && pwd)
    else
        work=$(mktemp -d)
        trap 'rm -rf "$work"' EXIT
    fi
}

# Installs INDELible unless it is there.
ensure_indelible() {
    command -v indelible >/dev/null 2>&1 && return
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "installing indelible" >&2
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq indelible >/dev/null
}

# random_tree LEAVES SEED: a tree of leaves t0001.. with three subtrees at the top, binary below,
# the splits and the lengths (0.02 to 0.20) from a Park-Miller generator in exact integer
# arithmetic, so that every awk makes the same tree.
random_tree() {
    awk -v n="$1" -v seed="$2" 'function draw() { state = (state * 16807) % 2147483647; return state / 2147483647 }
         function len() { return sprintf("%.4f", 0.02 + 0.18 * draw()) }
         function subtree(lo, hi,    mid) {
             if (lo == hi) return sprintf("t%04d:%s", lo, len())
             mid = lo + int(draw() * (hi - lo))
             return "(" subtree(lo, mid) "," subtree(mid + 1, hi) "):" len()
         }
         BEGIN { state = seed; a = int(n / 3); b = int(2 * n / 3)
                 print "(" subtree(1, a) "," subtree(a + 1, b) "," subtree(b + 1, n) ");" }'
}

# yule_tree LEAVES SEED DEPTH: a Yule (pure birth) tree of leaves t0001.., every leaf DEPTH from
# the root, written unrooted (the root's two branches joined into one); the waiting times from a
# Park-Miller generator in exact integer arithmetic.
yule_tree() {
    awk -v n="$1" -v seed="$2" -v depth="$3" '
        function draw() { state = (state * 16807) % 2147483647; return state / 2147483647 }
        function wait_all(    w, i) {
            w = -log(draw()) / count
            for (i = 1; i <= count; i++) len[active[i]] += w
            height += w
        }
        function write(node) {
            if (!(node in left)) return sprintf("t%04d:%.5f", name[node], len[node] * scale)
            return "(" write(left[node]) "," write(right[node]) "):" sprintf("%.5f", len[node] * scale)
        }
        BEGIN {
            state = seed; nodes = 3; count = 2
            left[1] = 2; right[1] = 3; active[1] = 2; active[2] = 3
            while (count < n) {
                wait_all()
                i = 1 + int(draw() * count)
                node = active[i]
                left[node] = ++nodes; right[node] = ++nodes
                active[i] = left[node]; active[++count] = right[node]
            }
            wait_all()
            scale = depth / height
            for (i = 1; i <= n; i++) name[active[i]] = i
            inner = (2 in left) ? 2 : 3
            other = 5 - inner
            len[other] += len[inner]
            print "(" write(left[inner]) "," write(right[inner]) "," write(other) ");"
        }'
}

# FASTA from INDELible (names padded with blanks) to the CLUSTAL W layout, blocks of 60.
fasta_to_clustal() {
    awk '/^>/ { name = substr($1, 2); order[++n] = name; next }
         { gsub(/[ \t\r]/, ""); seq[name] = seq[name] $0 }
         END {
             print "CLUSTAL W multiple sequence alignment"
             len = length(seq[order[1]])
             for (start = 1; start <= len; start += 60) {
                 print ""
                 for (i = 1; i <= n; i++) printf "%-8s%s\n", order[i], substr(seq[order[i]], start, 60)
             }
         }' "$1"
}

# simulate DIR TREE SITES SHAPE REPLICATES SEED: INDELible evolves REPLICATES alignments of SITES
# sites under WAG with gamma site rates of the shape (no indels) down the tree in the file TREE,
# into DIR/rep1.aln ...
simulate() {
    local dir=$1 tree=$2 sites=$3 shape=$4 replicates=$5 seed=$6 rep
    mkdir -p "$dir"
    cat >"$dir/control.txt" <<CONTROL
[TYPE] AMINOACID 1
[SETTINGS]
  [output] FASTA
  [fileperrep] TRUE
  [randomseed] $seed
[MODEL] wag
  [submodel] WAG
  [rates] 0 $shape 0
[TREE] known $(cat "$tree")
[PARTITIONS] sites [known wag $sites]
[EVOLVE] sites $replicates sim
CONTROL
    (cd "$dir" && indelible >indelible.log 2>&1) || {
        echo "indelible failed, see $dir/indelible.log" >&2
        return 1
    }
    for rep in $(seq 1 "$replicates"); do fasta_to_clustal "$dir/sim_TRUE_$rep.fas" >"$dir/rep$rep.aln"; done
}
