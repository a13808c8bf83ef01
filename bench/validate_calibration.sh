#!/usr/bin/env bash
# Is the simulated column a fair null? Alignments are simulated by INDELible (an independent
# simulator) under WAG with gamma-distributed site rates on a fixed 40-taxon tree, no indels;
# dadiverur runs on each with that true tree (-t), once under the default options (constant rate
# 1 at every site) and once under -O (maximum-likelihood rate per site). For every simulated site
# the real column's shuffle statistic (the "logL" column of the final table) is ranked among the
# site's 100 simulated statistics (the shuffle block). As the alignments are themselves draws from
# a tree-and-model null, a fair simulated null puts that rank uniform on 0..1.
#
# Printed per gamma shape and option set, pooled over the replicates:
#   - the histogram of the rank in ten bins (rank = (simulated below + half the ties) / 100, so
#     0, 0.01, ..., 1: a uniform rank puts 10/101 in each bin and 11/101 in the last);
#   - the mean rank (0.5 when uniform);
#   - the share of sites two-sided below 0.05, 2 min(rank, 1 - rank) < 0.05, in all and in the low
#     and the high tail apart (6/101 = 5.9% in all when the real column is equally likely at each of
#     the 101 places among its simulated ones), and the share whose Monte Carlo p-value
#     2 min(b + 1, a + 1) / 101 is below 0.05, with b and a the simulated statistics at or below and
#     at or above the real one (4/101 = 4.0% when uniform);
#   - for the default options, the same figures for the sites whose -O rate (on the same alignment)
#     is below 0.5 and for the others;
#   - quorvel on the same tables (origin: the "logL" column, mutation: the shuffle block), in its
#     default mode and with -R: the share of its ranked sites whose probability is below 0.05 (and
#     above 0.95, the other end of a pile at 0 and 1).
#
# Run: bash bench/validate_calibration.sh [build-dir]   (sets up, builds, installs INDELible if missing)
# Environment: SHAPES (0.5 2), REPLICATES (3), SITES (300), PROCS (6, processes per job),
#   SEED (2026, INDELible's seed), WORK (a directory to keep every file in; default a temporary one).
# Not part of the tests: a run takes some minutes and the final phase is clock-seeded.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
SHAPES=${SHAPES:-0.5 2}
REPLICATES=${REPLICATES:-3}
SITES=${SITES:-300}
PROCS=${PROCS:-6}
SEED=${SEED:-2026}
source bench/indelible.sh
open_work
bash scripts/setup.sh
ensure_indelible
bash scripts/build.sh "$build"
dadiverur="$root/$build/dadiverur"
quorvel="$root/$build/quorvel"

# The tree: 40 leaves t01..t40, three subtrees at the top, binary below; the splits and the
# lengths (0.02 to 0.20) come from a Park-Miller generator in exact integer arithmetic, so every
# awk makes the same tree.
awk 'function draw() { state = (state * 16807) % 2147483647; return state / 2147483647 }
     function len() { return sprintf("%.4f", 0.02 + 0.18 * draw()) }
     function subtree(lo, hi,    mid) {
         if (lo == hi) return sprintf("t%02d:%s", lo, len())
         mid = lo + int(draw() * (hi - lo))
         return "(" subtree(lo, mid) "," subtree(mid + 1, hi) "):" len()
     }
     BEGIN { state = 40; print "(" subtree(1, 13) "," subtree(14, 27) "," subtree(28, 40) ");" }' >"$work/true.tre"

# Per simulated site of a result file: site, rank, two-sided p from the rank, Monte Carlo
# two-sided p. A site whose 100 values all equal its real one was not simulated (an invariant column
# carries its log-likelihood everywhere) and is left out.
site_ranks() {
    awk '/^site   entropy     avgEntropy  logL  avgLogL$/ { part = 1; next }
         /^Log likelihood for each site after shuffle$/ { part = 2; next }
         /^check$/ { part = 0; next }
         part == 1 { real[$1] = $4 + 0; sites = $1 }
         part == 2 { r++; for (c = 1; c <= NF; c++) sim[c, r] = $c + 0 }
         END {
             for (s = 1; s <= sites; s++) {
                 below = above = ties = 0
                 for (k = 1; k <= r; k++) {
                     if (sim[s, k] < real[s]) below++
                     else if (sim[s, k] > real[s]) above++
                     else ties++
                 }
                 if (ties == r) continue
                 rank = (below + ties / 2) / r
                 low = (below + ties + 1) / (r + 1); high = (above + ties + 1) / (r + 1)
                 mc = 2 * (low < high ? low : high); if (mc > 1) mc = 1
                 printf "%d %.4f %.4f %.6f\n", s, rank, 2 * (rank < 0.5 ? rank : 1 - rank), mc
             }
         }' "$1"
}

# Per site of a -O result file: site and the rate it adopted (the last table of the rates).
site_rates() {
    awk '/^result from optimizing alpha$/ { delete rate; next }
         /^site: .* optimized alpha: / { rate[$2 + 0] = $NF }
         END { for (s in rate) print s, rate[s] }' "$1"
}

# quorvel on a result file's tables, $2 the extra option or empty: the number of ranked sites
# and how many have a probability below 0.05 and above 0.95.
quorvel_share() {
    local result=$1 option=$2 prefix
    prefix="$result.q${option#-}"
    bash scripts/cut-quorvel-inputs.sh "$result" "$prefix"
    if ! "$quorvel" -O "$prefix.origin" -M "$prefix.mutation" $option >"$prefix.report" 2>&1; then
        echo "validate: quorvel $option failed on $result: $(tail -1 "$prefix.report")" >&2
        echo "0 0 0"
        return
    fi
    awk '{ n++ } $1 + 0 < 0.05 { low++ } $1 + 0 > 0.95 { high++ } END { printf "%d %d %d\n", n, low, high }' \
        "$prefix.origin.pvalue"
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "indelible: $(dpkg-query -W -f '${Version}' indelible 2>/dev/null || echo '?'), seed $SEED; $SITES sites,"\
    "$REPLICATES replicates per shape, $PROCS processes per job"
echo "tree: $(awk '{ s = $0; while (match(s, /:[0-9.]+/)) { n++; t += substr(s, RSTART + 1, RLENGTH - 1); s = substr(s, RSTART + RLENGTH) } }
    END { printf "40 leaves, %d branches, total length %.2f", n, t }' "$work/true.tre")"
start=$EPOCHREALTIME

for shape in $SHAPES; do
    dir="$work/shape$shape"
    simulate "$dir" "$work/true.tre" "$SITES" "$shape" "$REPLICATES" "$SEED" || exit 1
    for rep in $(seq 1 "$REPLICATES"); do
        for mode in default O; do
            option=""
            [ "$mode" = default ] || option="-$mode"
            result="$dir/rep$rep.$mode.result"
            job_start=$EPOCHREALTIME
            (cd "$dir" && mpiexec.mpich -n "$PROCS" "$dadiverur" -i "rep$rep.aln" -t "$work/true.tre" \
                $option -o "$result" >"$result.out" 2>&1) || {
                echo "validate: dadiverur failed, see $result.out" >&2
                exit 1
            }
            site_ranks "$result" >"$result.ranks"
            [ "$mode" != O ] || site_rates "$result" >"$result.rates"
            echo "$(quorvel_share "$result" "") $(quorvel_share "$result" -R)" >"$result.quorvel"
            slope=$(awk '/^b:/ { sub(/^b:/, "", $1); print $1 }' "$result.q.report")
            awk -v a="$job_start" -v b="$EPOCHREALTIME" -v s="$shape" -v r="$rep" -v m="$mode" -v q="$slope" \
                'BEGIN { printf "  shape %s replicate %d %-7s job and quorvel %.0f s, quorvel slope %s\n", s, r, m, b - a, q }'
        done
    done
done

echo
for shape in $SHAPES; do
    for mode in O default; do
        label="-O"
        [ "$mode" = O ] || label="default (rate 1)"
        echo "== shape $shape, $label"
        cat "$work/shape$shape"/rep*."$mode".result.ranks |
            awk -v sites="$SITES" -v reps="$REPLICATES" '
                { n++; sum += $2; b = int($2 * 10); if (b > 9) b = 9; bin[b]++
                  if ($3 < 0.05) { two++; if ($2 < 0.5) low++; else high++ }
                  if ($4 < 0.05) mc++ }
                END {
                    printf "  simulated sites: %d of %d (the rest invariant, not simulated)\n", n, sites * reps
                    printf "  rank histogram:"
                    for (b = 0; b < 10; b++) printf " %5.3f", bin[b] / n
                    printf "   (0-0.1 ... 0.9-1; uniform: 0.099, the last 0.109)\n"
                    printf "  mean rank %.3f; two-sided below 0.05: %.1f%% (low %.1f%%, high %.1f%%; uniform 5.9%%);" \
                        " Monte Carlo p < 0.05: %.1f%% (uniform 4.0%%)\n",
                        sum / n, 100 * two / n, 100 * low / n, 100 * high / n, 100 * mc / n
                }'
        if [ "$mode" = default ]; then
            # The same sites split by the rate -O gave them on the same alignment.
            for rep in $(seq 1 "$REPLICATES"); do
                awk 'FNR == 1 { f++ } f == 1 { rate[$1] = $2 } f == 2 { print rate[$1], $2 }' \
                    "$work/shape$shape/rep$rep.O.result.rates" "$work/shape$shape/rep$rep.default.result.ranks"
            done | awk '{ c = $1 < 0.5 ? 1 : 2; n[c]++; sum[c] += $2; if ($2 < 0.025) low[c]++ }
                END { for (c = 1; c <= 2; c++) if (n[c])
                          printf "  sites whose -O rate is %s: %d, mean rank %.3f, rank below 0.025: %.1f%%\n",
                              c == 1 ? "below 0.5" : "0.5 or more", n[c], sum[c] / n[c], 100 * low[c] / n[c] }'
        fi
        cat "$work/shape$shape"/rep*."$mode".result.quorvel |
            awk '{ n += $1; low += $2; high += $3; nr += $4; lowr += $5; highr += $6 }
                 END { printf "  quorvel, probability < 0.05: default %.1f%% of %d sites (> 0.95: %.1f%%), -R %.1f%% (> 0.95: %.1f%%)\n",
                           n ? 100 * low / n : 0, n, n ? 100 * high / n : 0, nr ? 100 * lowr / nr : 0,
                           nr ? 100 * highr / nr : 0 }'
    done
done
awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "\nwall time %.0f s\n", b - a }'
[ -z "${WORK:-}" ] || echo "files kept in $work"
