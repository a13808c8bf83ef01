#include "rooting.h"

#include "alignment.h"
#include "settings.h"
#include "sitetree.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

// A point whose variance is this large lies outside its branch.
constexpr double OUTSIDE = 1000000.0;
// Only a point with a variance below this is a candidate root.
constexpr double CANDIDATE_LIMIT = 100000.0;

int leafDifference(int b) {
    return std::abs(branch[b].leftLeafNumber - branch[b].rightLeafNumber);
}

// ---- The walk: one branch from every leaf's path --------------------------------------------

// One branch's values from every leaf's path, in the order of arithmetic that defines them:
// whatever the rooting prints, compares or stores is what this gives.
struct Walk {
    double x;               // best point, from the upper end towards the lower end
    double variance;        // at x
    double clampedPoint;    // x moved into the branch
    double clampedVariance; // at clampedPoint
};

// The walk of a branch b. Per leaf: d, its path length to the upper end U of b, added up from
// the leaf along the path, and s, -1 when the path passes the lower end V, else +1; then
// e = d - mean d and f = s - mean s. Moving the root by x from U towards V makes the sum of
// squared deviations sum (f*x + e)^2, least at x = -(sum 2ef)/(sum 2f^2).
class Walker {
  public:
    Walker() : e_(seqNum + 1), f_(seqNum + 1), place_(DIM, -1) {
        const SiteTreeNode* t = gapTree[0];
        for (int k = seqNum + 1; k <= 2 * seqNum - 2; k++)
            if (!t[k].isRoot && t[k].length != 0.0) return;
        // Every inner branch has length 0 (identical sequences, a resolved star): a leaf's path
        // to any inner node adds its own branch's length to 0 and then only zeros, so a branch
        // is walked in time linear in the leaves, with no path.
        leafDistances_.resize(seqNum + 1);
        for (int leaf = 1; leaf <= seqNum; leaf++) leafDistances_[leaf] = 0.0 + t[leaf].length;
        double mean = meanOverLeaves(leafDistances_);
        atMeanDistance_ = true;
        for (int leaf = 1; leaf <= seqNum; leaf++)
            if (leafDistances_[leaf] - mean != 0.0) atMeanDistance_ = false;
    }

    Walk walk(int b) {
        if (leafDistances_.empty()) {
            measurePaths(b);
        } else {
            // Every e is 0 whatever the sides: the cross sum is 0, and so are the point and
            // every variance.
            if (atMeanDistance_) return {0.0, 0.0, 0.0, 0.0};
            e_ = leafDistances_;
            markSides(branch[b].rightPoint);
        }
        return fit(branch[b].length);
    }

  private:
    // Reads tree 0 as the rooting finds it, rooted at the top: a leaf's path climbs to the first
    // record of U's own path to the top and comes down that to U, adding the same lengths in the
    // same order as a climb to U in the tree re-rooted at U would. O(n x depth).
    void measurePaths(int b) {
        const SiteTreeNode* t = gapTree[0];
        int upper = branch[b].leftPoint, lower = branch[b].rightPoint;
        std::vector<int> path; // U up to the top; place: a record's index in it, else -1
        for (int k = upper;; k = t[k].parent) {
            place_[k] = static_cast<int>(path.size());
            path.push_back(k);
            if (t[k].isRoot) break;
        }
        for (int leaf = 1; leaf <= seqNum; leaf++) {
            double distance = 0.0, side = 1.0;
            int k = leaf;
            for (; place_[k] < 0; k = t[k].parent) {
                distance += t[k].length;
                if (k == lower) side = -1.0;
            }
            for (int j = place_[k]; j > 0; j--) distance += t[path[j - 1]].length;
            e_[leaf] = distance;
            f_[leaf] = side;
        }
        for (int k : path) place_[k] = -1;
    }

    // The sides alone: -1 for the leaves below V in tree 0 as it comes.
    void markSides(int lower) {
        const SiteTreeNode* t = gapTree[0];
        std::fill(f_.begin() + 1, f_.end(), 1.0);
        pending_.assign(1, lower);
        while (!pending_.empty()) {
            int k = pending_.back();
            pending_.pop_back();
            if (k <= seqNum) {
                f_[k] = -1.0;
            } else {
                pending_.push_back(t[k].left);
                pending_.push_back(t[k].right);
            }
        }
    }

    static double meanOverLeaves(const std::vector<double>& value) {
        double mean = 0.0;
        for (int leaf = 1; leaf <= seqNum; leaf++) mean += value[leaf] / seqNum;
        return mean;
    }

    // From d in e_ and s in f_, for a branch of the given length.
    Walk fit(double length) {
        double meanDistance = meanOverLeaves(e_), meanSide = meanOverLeaves(f_);
        double cross = 0.0, square = 0.0;
        for (int leaf = 1; leaf <= seqNum; leaf++) {
            e_[leaf] -= meanDistance;
            f_[leaf] -= meanSide;
            cross += 2 * e_[leaf] * f_[leaf];
            square += 2 * f_[leaf] * f_[leaf];
        }
        auto varianceAt = [&](double x) {
            double sum = 0.0;
            for (int leaf = 1; leaf <= seqNum; leaf++)
                sum += (f_[leaf] * x + e_[leaf]) * (f_[leaf] * x + e_[leaf]);
            return sum;
        };
        Walk w;
        w.x = -cross / square;
        if (w.x == 0.0) w.x = 0.0; // a point at U itself is shown as 0, never as -0
        w.variance = varianceAt(w.x);
        w.clampedPoint = w.x < 0.0 ? 0.0 : w.x > length ? length : w.x;
        w.clampedVariance = w.clampedPoint == w.x ? w.variance : varianceAt(w.clampedPoint);
        return w;
    }

    std::vector<double> e_, f_; // per leaf: d, then e; s, then f
    std::vector<int> place_, pending_;
    // With every inner length 0: each leaf's path length to any inner node, else empty; and
    // whether every leaf lies at the mean of those as the walk adds it up.
    std::vector<double> leafDistances_;
    bool atMeanDistance_ = false;
};

// ---- The sums: every branch at once ---------------------------------------------------------

// Leaves on one side of a record, with the sums of their path lengths to it and of the squares
// of those.
struct Spread {
    double leaves = 0.0, sum = 0.0, squares = 0.0;
};

// The same leaves measured one branch of the given length further on.
Spread across(const Spread& s, double length) {
    return {s.leaves, s.sum + s.leaves * length, s.squares + 2 * length * s.sum + s.leaves * length * length};
}

void add(Spread& to, const Spread& s) {
    to.leaves += s.leaves;
    to.sum += s.sum;
    to.squares += s.squares;
}

// Per record of tree 0: below, its own leaves measured to it; above (every record but the
// top), all other leaves measured to its parent. The usual two passes, up from the leaves and
// then down from the top, over a list rather than a recursion as deep as the tree.
struct Spreads {
    std::vector<Spread> below, above;
};

Spreads spreads() {
    const SiteTreeNode* t = gapTree[0];
    int top = 1;
    while (!t[top].isRoot) top = t[top].parent;
    std::vector<int> order = {top}; // every record after its parent
    for (std::size_t i = 0; i < order.size(); i++) {
        const SiteTreeNode& r = t[order[i]];
        for (int child : {r.left, r.right, r.third})
            if (child) order.push_back(child);
    }
    Spreads s{std::vector<Spread>(DIM), std::vector<Spread>(DIM)};
    for (auto k = order.rbegin(); k != order.rend(); ++k) {
        const SiteTreeNode& r = t[*k];
        if (*k <= seqNum) s.below[*k].leaves = 1.0;
        for (int child : {r.left, r.right, r.third})
            if (child) add(s.below[*k], across(s.below[child], t[child].length));
    }
    for (int k : order) {
        const SiteTreeNode& r = t[k];
        for (int child : {r.left, r.right, r.third}) {
            if (!child) continue;
            Spread& a = s.above[child];
            if (k != top) a = across(s.above[k], t[k].length);
            for (int other : {r.left, r.right, r.third})
                if (other && other != child) add(a, across(s.below[other], t[other].length));
        }
    }
    return s;
}

// Branch b from the sums; V is U's child in tree 0 as it comes, as the branches are numbered
// from the same top. With a leaves below V and c = n - a not below it, f is -2c/n below
// and 2a/n elsewhere, sum f^2 = 4ac/n, and the best point is half the difference between the
// two sides' mean path lengths to U. There both sides have the same mean, so the variance is
// each side's own spread about its mean, squares - sum^2/leaves; at any other point p it is
// larger by sum f^2 (x - p)^2.
struct Estimate {
    double x, xScale;         // best point; the magnitude of what it comes from
    double spread;            // variance at x
    double weight;            // sum f^2
    double squaredPathsFromU; // sum d^2: the magnitude of every variance of the branch
};

Estimate estimate(const Spreads& s, int b) {
    int lower = branch[b].rightPoint;
    const Spread& low = s.below[lower];  // to V
    const Spread& high = s.above[lower]; // to U
    Spread lowFromU = across(low, branch[b].length);
    double meanLow = lowFromU.sum / low.leaves, meanHigh = high.sum / high.leaves;
    Estimate e;
    e.x = (meanLow - meanHigh) / 2;
    e.xScale = meanLow + meanHigh;
    e.spread =
        (low.squares - low.sum * low.sum / low.leaves) + (high.squares - high.sum * high.sum / high.leaves);
    e.weight = 4 * low.leaves * high.leaves / seqNum;
    e.squaredPathsFromU = lowFromU.squares + high.squares;
    return e;
}

// ---- Deciding from the sums, or from the walk where they cannot -----------------------------

enum class Quantity { Point, Variance, ClampedVariance };

// What the rooting knows of every branch: its values from the sums, each with a band that the
// walk's value cannot lie outside, and the walk's values of the branches walked so far. A
// decision or a printed text that is the same over the whole band is the walk's; where it is
// not, the branch is walked, and from then on its values are the walk's.
//
// The band. Each rounding errs by at most u = DBL_EPSILON/2 of its result. The walk adds paths
// of fewer than 2n branches and then sums over n leaves; the spreads take about six roundings
// per level of the tree in each of the two passes, and a few more per branch. Lengths are never
// negative, so every spread is a sum of non-negative terms and is off by at most its count of
// roundings times u relative to itself. Carried through to the values (the walk's cross sum has
// terms of at most |f|(d + mean d); its deviations, and the sums' squares - sum^2/leaves with
// their cancellation, are bounded by the sum of squares), each of the two computations lies
// within about 40(n+1)u times a magnitude of the exact value, to first order (the rest is
// smaller by a further factor of about n u). The magnitude is, for a point, the sum of the two
// sides' mean paths to U; for a variance, the variance plus the sum of squared paths to U. The
// band is 256(n+4)u times the magnitude: more than three times the two errors together.
class Fits {
  public:
    explicit Fits(const Spreads& s)
        : estimates_(branchNo + 1), walks_(branchNo + 1),
          relativeBand_(256.0 * (seqNum + 4) * (DBL_EPSILON / 2)) {
        for (int b = 1; b <= branchNo; b++) estimates_[b] = estimate(s, b);
    }

    // Whether the walk's value is below limit (above limit).
    bool below(int b, Quantity q, double limit) {
        Value v = value(b, q);
        if (v.value + v.band < limit) return true;
        if (v.value - v.band > limit) return false;
        return exact(b, q) < limit;
    }
    bool above(int b, Quantity q, double limit) {
        Value v = value(b, q);
        if (v.value - v.band > limit) return true;
        if (v.value + v.band < limit) return false;
        return exact(b, q) > limit;
    }

    // The walk's value as "%10.6f" prints it.
    std::string shown(int b, Quantity q) {
        Value v = value(b, q);
        std::string low = printed(v.value - v.band), high = printed(v.value + v.band);
        return low == high ? low : printed(exact(b, q));
    }

    // Among the eligible branches, the most even split, then the least variance q, then the
    // lowest branch number; 0 when none is eligible. Only the branches whose band reaches down to
    // the least upper end of the bands can hold the least variance: those are walked.
    int choose(const std::vector<int>& eligible, Quantity q) {
        int fewest = 2 * seqNum;
        for (int b : eligible)
            if (leafDifference(b) < fewest) fewest = leafDifference(b);
        double ceiling = INFINITY;
        for (int b : eligible) {
            Value v = value(b, q);
            if (leafDifference(b) == fewest && v.value + v.band < ceiling) ceiling = v.value + v.band;
        }
        int best = 0;
        double least = 0.0;
        for (int b : eligible) {
            Value v = value(b, q);
            if (leafDifference(b) != fewest || v.value - v.band > ceiling) continue;
            double variance = exact(b, q);
            if (best == 0 || variance < least) {
                best = b;
                least = variance;
            }
        }
        return best;
    }

    const Walk& walk(int b) {
        if (!walks_[b]) walks_[b] = walker_.walk(b);
        return *walks_[b];
    }

  private:
    struct Value {
        double value, band;
    };

    double exact(int b, Quantity q) {
        const Walk& w = walk(b);
        return q == Quantity::Point ? w.x : q == Quantity::Variance ? w.variance : w.clampedVariance;
    }

    // The walk's value with band 0 once the branch is walked, else the sums'.
    Value value(int b, Quantity q) {
        if (walks_[b]) return {exact(b, q), 0.0};
        const Estimate& e = estimates_[b];
        if (q == Quantity::Point) return {e.x, relativeBand_ * e.xScale};
        double variance = e.spread;
        if (q == Quantity::ClampedVariance) {
            // Where the point is moved to must be certain; deciding that may walk the branch.
            double length = branch[b].length;
            bool beforeU = below(b, Quantity::Point, 0.0), beyondV = above(b, Quantity::Point, length);
            if (walks_[b]) return {exact(b, q), 0.0};
            double point = beforeU ? 0.0 : beyondV ? length : e.x;
            variance += e.weight * (e.x - point) * (e.x - point);
        }
        return {variance, relativeBand_ * (std::fabs(variance) + e.squaredPathsFromU)};
    }

    static std::string printed(double value) {
        char text[64];
        std::snprintf(text, sizeof text, "%10.6f", value);
        return text;
    }

    std::vector<Estimate> estimates_;
    std::vector<std::optional<Walk>> walks_;
    Walker walker_;
    double relativeBand_;
};

// ---- The rooted tree ----------------------------------------------------------------------

void countLeaves(const Spreads& s) {
    std::printf("finish find all LPoint and RPoint\n");
    for (int b = 1; b <= branchNo; b++) {
        branch[b].rightLeafNumber = static_cast<int>(s.below[branch[b].rightPoint].leaves);
        branch[b].leftLeafNumber = seqNum - branch[b].rightLeafNumber;
    }
}

// The rooted tree keeps each record's children in the slots that re-rooting tree 0 at every
// branch's upper end in turn leaves them in (once more when the points were moved into their
// branches), and the simulations visit the children in that order. The branches are numbered
// depth-first, so each re-rooting walks only from one upper end to the next: every branch is
// crossed about twice per round.
void reRootAtEveryUpperEnd() {
    for (int b = 1; b <= branchNo; b++) changeRoot(0, branch[b].leftPoint);
}

// Hangs the chosen branch from the new root record 0, x from its upper end.
void rootOnBranch(int b, double x) {
    SiteTreeNode* t = gapTree[0];
    int upper = branch[b].leftPoint, lower = branch[b].rightPoint;
    changeRoot(0, upper);
    if (t[upper].left == lower)
        t[upper].left = t[upper].third;
    else if (t[upper].right == lower)
        t[upper].right = t[upper].third;
    t[upper].third = 0;
    t[upper].parent = 0;
    t[upper].isRoot = 0;
    t[upper].length = x;
    t[lower].parent = 0;
    t[lower].length = branch[b].length - x;
    t[0].parent = 0;
    t[0].left = upper;
    t[0].right = lower;
    t[0].third = 0;
    t[0].isRoot = 1;
}

} // namespace

void findMidpoint() {
    Spreads s = spreads();
    countLeaves(s);
    Fits fits(s);
    std::vector<int> candidates;
    for (int b = 1; b <= branchNo; b++) {
        if (fits.below(b, Quantity::Point, 0.0) || fits.above(b, Quantity::Point, branch[b].length)) continue;
        if (fits.below(b, Quantity::Variance, OUTSIDE))
            std::printf("branch:%3d x value:%s variance:%s\t LeftLeaf number:%4d RightLeaf number:%4d "
                        "difference: %4d\n",
                        b, fits.shown(b, Quantity::Point).c_str(), fits.shown(b, Quantity::Variance).c_str(),
                        branch[b].leftLeafNumber, branch[b].rightLeafNumber, leafDifference(b));
        if (fits.below(b, Quantity::Variance, CANDIDATE_LIMIT)) candidates.push_back(b);
    }
    int chosen = fits.choose(candidates, Quantity::Variance);
    // Rounding can put every optimum a hair outside its branch: then each point is moved to the
    // nearer end of its branch and every branch competes by the same rules.
    bool clamped = chosen == 0;
    if (clamped) {
        std::vector<int> all;
        for (int b = 1; b <= branchNo; b++)
            if (fits.below(b, Quantity::ClampedVariance, INFINITY)) all.push_back(b);
        chosen = fits.choose(all, Quantity::ClampedVariance);
    }
    double x = clamped ? fits.walk(chosen).clampedPoint : fits.walk(chosen).x;
    int upper = branch[chosen].leftPoint, lower = branch[chosen].rightPoint;
    std::fprintf(resultFile, "best point: branch No:%3d distance from left point:%10.6f\n", chosen, x);
    std::fprintf(resultFile, "left point: %d: %s ", upper, node[upper].name);
    std::fprintf(resultFile, "right point: %d: %s\n", lower, node[lower].name);
    // Every walk has read tree 0 as it came; only now is it re-rooted.
    reRootAtEveryUpperEnd();
    if (clamped) reRootAtEveryUpperEnd();
    rootOnBranch(chosen, x);
    copyTreeRecords(copyTree[0], gapTree[0]);
}

// The path from k up to the old root is turned around from the old root back down to k, so
// that every record takes the length of the branch to its new parent while that length is
// still unchanged. The path is kept in a list: a tree may be as deep as it has leaves.
void changeRoot(int s, int k) {
    SiteTreeNode* t = gapTree[s];
    if (t[k].isRoot) return;
    std::vector<int> path = {k};
    while (!t[path.back()].isRoot) path.push_back(t[path.back()].parent);
    for (std::size_t i = path.size(); i-- > 0;) {
        SiteTreeNode& r = t[path[i]];
        int oldParent = r.parent;
        if (i == 0) {
            r.third = oldParent;
            r.length = 0;
            r.isRoot = 1;
            r.parent = k;
            continue;
        }
        int below = path[i - 1];
        if (!r.isRoot) {
            if (r.left == below)
                r.left = oldParent;
            else
                r.right = oldParent;
            r.parent = below;
            r.length = t[below].length;
        } else {
            if (r.left == below)
                r.left = r.third;
            else if (r.right == below)
                r.right = r.third;
            r.third = 0;
            r.parent = below;
            r.length = t[below].length;
            r.isRoot = 0;
        }
    }
}
