#!/usr/bin/env bash
# What is the tree that dadiverur builds worth? Alignments are simulated by INDELible (an
# independent simulator) under WAG with gamma-distributed site rates, no indels, down Yule trees
# (every leaf DEPTH substitutions per site from the root). On each, dadiverur's preparation builds
# its tree without -t, once under the default options and once under -C, and, where they are
# installed, FastTree (-wag -gamma) and IQ-TREE (-m WAG+G4 --fast, one thread) infer theirs.
#
# Printed per number of taxa, sites and gamma shape, as means over the replicates:
#   - the normalised Robinson-Foulds distance of each tree to the true tree: the splits found in one
#     of the two trees only, over 2 (n - 3), so 0 for the true topology and 1 for one sharing no
#     inner branch with it;
#   - the length of each tree (the sum of its branch lengths) over the true tree's length.
#
# Run: bash bench/validate_tree.sh [build-dir]   (sets up, builds, installs INDELible if missing;
#   FastTree and IQ-TREE are used when found as FastTree or fasttree, iqtree2 or iqtree)
# Environment: TAXA (50 100 250), SITES (300 1000), SHAPES (0.5 1.0), REPLICATES (5), DEPTH (1.0),
#   SEED (2026, INDELible's seed), JOBS (the cores, cases run side by side), WORK (a directory to
#   keep every file in; default a temporary one).
# Not part of the tests: a run takes some minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
TAXA=${TAXA:-50 100 250}
SITES=${SITES:-300 1000}
SHAPES=${SHAPES:-0.5 1.0}
REPLICATES=${REPLICATES:-5}
DEPTH=${DEPTH:-1.0}
SEED=${SEED:-2026}
JOBS=${JOBS:-$(nproc)}
source bench/indelible.sh
open_work
bash scripts/setup.sh
ensure_indelible
bash scripts/build.sh "$build"
prepare="$root/$build/bench/prepare_alone"
fasttree=$(command -v FastTree || command -v fasttree || true)
iqtree=$(command -v iqtree2 || command -v iqtree || true)

# tree_distance TRUE OTHER: the normalised Robinson-Foulds distance of the Newick tree in OTHER
# to the one in TRUE, and OTHER's length over TRUE's. Labels after ")" (support values) are
# ignored; every split is written as the bits of its leaves, the side without the first leaf of
# TRUE.
tree_distance() {
    awk '
        function read_tree(file,    text, line, i, c, depth, members, name, inlength, leafnext, total, key) {
            text = ""
            while ((getline line < file) > 0) text = text line
            close(file)
            depth = 0; name = ""; inlength = 0; leafnext = 1; total = 0; length_text = ""
            for (i = 1; i <= length(text); i++) {
                c = substr(text, i, 1)
                if (c == "(" || c == "," || c == ")" || c == ";") {
                    if (name != "" && leafnext) members[depth] = members[depth] " " leaf_index(name)
                    if (inlength) total += length_text
                    name = ""; inlength = 0; length_text = ""
                    if (c == "(") { members[++depth] = ""; leafnext = 1 }
                    else if (c == ",") leafnext = 1
                    else if (c == ")") {
                        key = split_key(members[depth])
                        if (key != "") splits[file, key] = 1
                        members[depth - 1] = members[depth - 1] members[depth]
                        depth--
                        leafnext = 0
                    }
                } else if (c == ":") inlength = 1
                else if (c ~ /[ \t\r\n]/) continue
                else if (inlength) length_text = length_text c
                else name = name c
            }
            return total
        }
        function leaf_index(name) {
            if (!(name in index_of)) {
                if (fixed) { print "leaf " name " is not in the true tree" > "/dev/stderr"; exit 1 }
                index_of[name] = ++leaves
            }
            return index_of[name]
        }
        function split_key(set,    ids, count, k, bits, key, flip, ones) {
            count = split(set, ids, " ")
            for (k = 1; k <= leaves; k++) bits[k] = 0
            for (k = 1; k <= count; k++) bits[ids[k]] = 1
            flip = bits[1]
            key = ""; ones = 0
            for (k = 1; k <= leaves; k++) { key = key (bits[k] != flip); ones += bits[k] != flip }
            return ones >= 2 && ones <= leaves - 2 ? key : ""
        }
        BEGIN {
            # The true tree is read twice: its leaves first, then its splits over all of them.
            read_tree(ARGV[1]); fixed = 1
            for (key in splits) delete splits[key]
            true_length = read_tree(ARGV[1])
            other_length = read_tree(ARGV[2])
            for (pair in splits) {
                split(pair, part, SUBSEP)
                count[part[2]]++
            }
            for (key in count) differing += count[key] == 1
            printf "%.4f %.4f\n", differing / (2 * (leaves - 3)), other_length / true_length
        }' "$1" "$2"
}

# FASTA from the CLUSTAL W layout, for the other tools.
clustal_to_fasta() {
    awk 'NR > 1 && NF == 2 { if (!($1 in seq)) order[++n] = $1; seq[$1] = seq[$1] $2 }
         END { for (i = 1; i <= n; i++) printf ">%s\n%s\n", order[i], seq[order[i]] }' "$1"
}

# one_case DIR: every tree of DIR/a.aln against DIR/true.tre, one line "default C fasttree iqtree"
# of distance and length pairs into DIR/scores ("- -" for a tool not installed or that failed,
# named on standard error).
one_case() {
    local dir=$1 scores="" tool
    (cd "$dir" && "$prepare" -i a.aln -o default.txt >default.log 2>&1 && mv a.tre default.tre) ||
        echo "dadiverur failed, see $dir/default.log" >&2
    (cd "$dir" && "$prepare" -i a.aln -C -o c.txt >c.log 2>&1 && mv a.tre c.tre) ||
        echo "dadiverur -C failed, see $dir/c.log" >&2
    clustal_to_fasta "$dir/a.aln" >"$dir/a.fas"
    if [ -n "$fasttree" ]; then
        "$fasttree" -wag -gamma -quiet -nopr "$dir/a.fas" >"$dir/fasttree.tre" 2>"$dir/fasttree.log" ||
            { echo "FastTree failed, see $dir/fasttree.log" >&2; rm -f "$dir/fasttree.tre"; }
    fi
    if [ -n "$iqtree" ]; then
        { "$iqtree" -s "$dir/a.fas" -m WAG+G4 --fast -nt 1 -seed 1 -quiet -pre "$dir/iq" >/dev/null 2>&1 &&
            cp "$dir/iq.treefile" "$dir/iqtree.tre"; } || echo "IQ-TREE failed, see $dir/iq.log" >&2
    fi
    for tool in default c fasttree iqtree; do
        if [ -s "$dir/$tool.tre" ]; then
            scores="$scores $(tree_distance "$dir/true.tre" "$dir/$tool.tre")"
        else
            scores="$scores - -"
        fi
    done
    echo "$scores" >"$dir/scores"
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "FastTree: ${fasttree:-not installed}; IQ-TREE: ${iqtree:-not installed}"
cases=()
for taxa in $TAXA; do
    for sites in $SITES; do
        for shape in $SHAPES; do
            base="$work/n$taxa.s$sites.g$shape"
            mkdir -p "$base"
            for rep in $(seq 1 "$REPLICATES"); do
                yule_tree "$taxa" "$((taxa * 100 + rep))" "$DEPTH" >"$base/true$rep.tre"
                simulate "$base/sim$rep" "$base/true$rep.tre" "$sites" "$shape" 1 "$((SEED + rep))"
                mkdir -p "$base/rep$rep"
                cp "$base/sim$rep/rep1.aln" "$base/rep$rep/a.aln"
                cp "$base/true$rep.tre" "$base/rep$rep/true.tre"
                cases+=("$base/rep$rep")
            done
        done
    done
done

running=0
for dir in "${cases[@]}"; do
    if [ "$running" -ge "$JOBS" ]; then
        wait -n
        running=$((running - 1))
    fi
    one_case "$dir" &
    running=$((running + 1))
done
wait
for dir in "${cases[@]}"; do
    [ -s "$dir/scores" ] || { echo "no scores for $dir" >&2; exit 1; }
done

printf '%-6s %-6s %-6s %-15s %-15s %-15s %s\n' taxa sites shape "default" "-C" FastTree IQ-TREE
printf '%-6s %-6s %-6s %-15s %-15s %-15s %s\n' "" "" "" "RF length" "RF length" "RF length" "RF length"
for taxa in $TAXA; do
    for sites in $SITES; do
        for shape in $SHAPES; do
            cat "$work/n$taxa.s$sites.g$shape"/rep*/scores | awk -v t="$taxa" -v s="$sites" -v g="$shape" '
                { for (k = 1; k <= 8; k++) if ($k != "-") { sum[k] += $k; seen[k]++ } }
                END {
                    printf "%-6s %-6s %-6s", t, s, g
                    for (k = 1; k <= 8; k += 2)
                        if (seen[k]) printf " %-6.3f %-8.3f", sum[k] / seen[k], sum[k + 1] / seen[k + 1]
                        else printf " %-15s", "-"
                    printf "\n"
                }'
        done
    done
done
