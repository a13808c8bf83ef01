// Times the tree half of the preparation (readTree, assignTree, assignBranch, findMidpoint)
// on a generated alignment with one gap in ten letters and a generated tree:
// bench_trees [sequences] [columns] [balanced|caterpillar]
// With "rooting", times the rooting alone: on caterpillars of random lengths, the walk of every
// leaf's path for every branch (the test support's reference) against the rooting from sums
// on the first, with a check that both print, write and build the same, and the sums alone on
// the second; then on the trees of exact ties (all lengths 0, a resolved star), caterpillars
// and balanced, the walk against the sums on the third size and the sums alone on the other two:
// bench_trees rooting [leaves (5000)] [deep leaves (40000)] [walked ties (1000)]
#include "../tests/support/rooting_oracle.h"
#include "alignment.h"
#include "rooting.h"
#include "settings.h"
#include "sitetree.h"
#include "treefile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

unsigned state = 12345;

unsigned nextRandom() {
    state = state * 1103515245u + 12345u;
    return state >> 16;
}

// The branch lengths of a generated tree: random, every one 0 (identical sequences), or a star
// resolved into a binary tree (every leaf 0.1, the branches that join them 0).
enum class Lengths { Random, Zero, Star };
Lengths lengths = Lengths::Random;

const char* lengthsName() {
    return lengths == Lengths::Random ? "random lengths"
           : lengths == Lengths::Zero ? "all lengths 0"
                                      : "resolved star";
}

std::string length(bool toLeaf = false) {
    if (lengths == Lengths::Zero || (lengths == Lengths::Star && !toLeaf)) return ":0";
    if (lengths == Lengths::Star) return ":0.1";
    return ":" + std::to_string(0.01 + (nextRandom() % 1000) / 2000.0);
}

std::string leaf(int i) {
    return "sequence_" + std::to_string(i) + length(true);
}

// Leaves lo..hi-1 split in halves down to the cherries.
std::string balanced(int lo, int hi) {
    if (hi - lo == 1) return leaf(lo);
    int mid = (lo + hi) / 2;
    return "(" + balanced(lo, mid) + "," + balanced(mid, hi) + ")" + length();
}

std::string makeTree(int n, bool caterpillar) {
    if (!caterpillar)
        return "(" + balanced(0, n / 3) + "," + balanced(n / 3, 2 * n / 3) + "," + balanced(2 * n / 3, n) +
               ");";
    std::string inner = leaf(n - 2) + "," + leaf(n - 1);
    for (int i = n - 3; i >= 2; i--) inner = leaf(i) + ",(" + inner + ")" + length();
    return "(" + leaf(0) + "," + leaf(1) + ",(" + inner + ")" + length() + ");";
}

double secondsSince(std::chrono::steady_clock::time_point begin) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

struct Preparation {
    double reading, siteTrees;
};

// Writes an alignment of n sequences and its tree, reads both and gives every site its tree
// and the branch table.
Preparation prepare(int n, int columns, bool caterpillar) {
    std::string base = "/tmp/bench_trees." + std::to_string(getpid());
    std::string alignmentPath = base + ".aln", treePath = base + ".tre";
    {
        std::ofstream out(alignmentPath);
        for (int i = 0; i < n; i++) {
            out << "sequence_" << i << "  ";
            for (int s = 0; s < columns; s++) out << (nextRandom() % 10 == 0 ? '-' : 'A');
            out << '\n';
        }
        std::ofstream(treePath) << makeTree(n, caterpillar) << "\n";
    }
    readali(alignmentPath.c_str());
    searchGap();
    auto begin = std::chrono::steady_clock::now();
    readTree(treePath.c_str());
    Preparation p;
    p.reading = secondsSince(begin);
    begin = std::chrono::steady_clock::now();
    assignTree();
    branchNo = 0;
    assignBranch(seqNum + 1);
    p.siteTrees = secondsSince(begin);
    std::remove(alignmentPath.c_str());
    std::remove(treePath.c_str());
    return p;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// What one rooting printed, wrote and built, and how long it took.
struct Rooting {
    double seconds;
    std::string printed, result;
    std::vector<SiteTreeNode> copy;
};

// Roots a fresh tree 0 (record 0 cleared) with the given routine, its lines and the result
// file caught in scratch files.
Rooting timeRooting(void (*rooting)()) {
    SiteTreeNode& root = gapTree[0][0];
    root = SiteTreeNode{0, 0, 0, 0, 0, 0, 0, 0, 0.0, root.vec};
    assignTree();
    std::string base = "/tmp/bench_rooting." + std::to_string(getpid());
    std::fflush(stdout);
    if (!std::freopen((base + ".out").c_str(), "w", stdout)) std::exit(1);
    resultFile = std::fopen((base + ".result").c_str(), "w");
    auto begin = std::chrono::steady_clock::now();
    rooting();
    Rooting r;
    r.seconds = secondsSince(begin);
    std::fclose(resultFile);
    if (!std::freopen("/dev/null", "w", stdout)) std::exit(1);
    resultFile = std::fopen("/dev/null", "w");
    r.printed = fileText(base + ".out");
    r.result = fileText(base + ".result");
    std::remove((base + ".out").c_str());
    std::remove((base + ".result").c_str());
    r.copy.assign(copyTree[0], copyTree[0] + DIM);
    return r;
}

bool sameRecords(const std::vector<SiteTreeNode>& a, const std::vector<SiteTreeNode>& b) {
    auto same = [](const SiteTreeNode& x, const SiteTreeNode& y) {
        return x.level == y.level && x.left == y.left && x.right == y.right && x.third == y.third &&
               x.parent == y.parent && x.scale == y.scale && x.isRoot == y.isRoot && x.gap == y.gap &&
               std::memcmp(&x.length, &y.length, sizeof x.length) == 0;
    };
    for (std::size_t k = 0; k < a.size(); k++)
        if (!same(a[k], b[k])) return false;
    return a.size() == b.size();
}

// Times the rooting from sums on one generated tree, and the walk on it as well when asked;
// false when the two print, write or build anything differently.
bool timeRootings(int leaves, bool caterpillar, Lengths kind, bool againstWalk) {
    lengths = kind;
    prepare(leaves, 5, caterpillar);
    std::fprintf(stderr, "rooting, %d-leaf %s, %s: ", leaves, caterpillar ? "caterpillar" : "balanced tree",
                 lengthsName());
    if (!againstWalk) {
        std::fprintf(stderr, "sums %.3f s\n", timeRooting(findMidpoint).seconds);
        return true;
    }
    Rooting walk = timeRooting(testsupport::oracle::findMidpoint);
    Rooting sums = timeRooting(findMidpoint);
    bool same =
        walk.printed == sums.printed && walk.result == sums.result && sameRecords(walk.copy, sums.copy);
    std::fprintf(stderr, "walk %.2f s, sums %.4f s: %.0fx; same lines, result and tree: %s\n", walk.seconds,
                 sums.seconds, walk.seconds / sums.seconds, same ? "yes" : "NO");
    return same;
}

int benchRooting(int leaves, int deepLeaves, int walkedTies) {
    bool same = timeRootings(leaves, true, Lengths::Random, true);
    timeRootings(deepLeaves, true, Lengths::Random, false);
    for (Lengths kind : {Lengths::Zero, Lengths::Star})
        for (bool caterpillar : {true, false}) {
            same = timeRootings(walkedTies, caterpillar, kind, true) && same;
            timeRootings(leaves, caterpillar, kind, false);
            timeRootings(deepLeaves, caterpillar, kind, false);
        }
    return same ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    resultFile = std::fopen("/dev/null", "w");
    std::FILE* progress = std::freopen("/dev/null", "w", stdout);
    if (!progress) return 1;
    if (argc > 1 && std::string(argv[1]) == "rooting")
        return benchRooting(argc > 2 ? std::atoi(argv[2]) : 5000, argc > 3 ? std::atoi(argv[3]) : 40000,
                            argc > 4 ? std::atoi(argv[4]) : 1000);
    int n = argc > 1 ? std::atoi(argv[1]) : 500;
    int columns = argc > 2 ? std::atoi(argv[2]) : 300;
    bool caterpillar = argc > 3 && std::string(argv[3]) == "caterpillar";
    Preparation p = prepare(n, columns, caterpillar);
    auto begin = std::chrono::steady_clock::now();
    findMidpoint();
    double rooting = secondsSince(begin);
    std::fprintf(
        stderr, "%s tree, %d x %d: readTree %.3f s, assignTree + assignBranch %.3f s, findMidpoint %.3f s\n",
        caterpillar ? "caterpillar" : "balanced", seqNum, seqLength, p.reading, p.siteTrees, rooting);
    return 0;
}
