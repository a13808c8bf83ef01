#include "distance.h"

#include "alignment.h"
#include "model.h"
#include "numerics/fault.h"
#include "numerics/job.h"
#include "numerics/matrixalgebra.h"
#include "settings.h"
#include "transitioncache.h"
#include "treefile.h"
#include "wnj/io.h"
#include "wnj/wnj1.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const char* const distanceFileName = "DISTMATRIX.txt";

// A fault that every process meets alike: reported once, by rank 0.
[[noreturn]] void refuse(const std::string& message) {
    sharedFault(stderr, "%s\n", message.c_str());
}

// What the builder needs, checked before any distance is computed.
void checkTreeInputs(const std::string& alignment) {
    if (seqNum < 3)
        refuse("Too few sequences to build a tree: " + std::to_string(seqNum) + "; at least 3 are needed");
    if (!wnj::leafNamesFit(seqNum, node)) sharedFault([] { wnj::checkLeafNames(seqNum, node); });
    checkBuiltFilePaths(alignment);
}

void printDistances(FILE* file, double** D) {
    std::fprintf(file, "%d\n", seqNum);
    for (int i = 1; i <= seqNum; i++) {
        std::fprintf(file, "%20s\t", node[i].name);
        for (int j = 1; j <= seqNum; j++) std::fprintf(file, "%10.5f ", D[i][j]);
        std::fprintf(file, "\n");
    }
}

[[noreturn]] void distanceFileFailed(const char* action) {
    printFileFailure(action, distanceFileName, std::strerror(errno));
    fatalExit(1);
}

void openDistanceFile(wnj::WholeFile& file) {
    if (!file.open(distanceFileName)) distanceFileFailed("open");
}

void writeDistanceFile(wnj::WholeFile& file, double** D) {
    printDistances(file.stream(), D);
    if (!file.close()) distanceFileFailed("write");
}

// same[i][j], j < i: the two sequences carry the same letter at every site.
int** identicalPairs() {
    int** same = imatrix(1, seqNum, 1, seqNum);
    for (int i = 1; i <= seqNum; i++)
        for (int j = 1; j < i; j++)
            same[i][j] = std::memcmp(node[i].seq + 1, node[j].seq + 1, seqLength) == 0;
    return same;
}

// The pairs i > j in the order i = 2..seqNum, j = 1..i-1.
std::size_t pairIndex(int i, int j) {
    return static_cast<std::size_t>(i - 1) * (i - 2) / 2 + (j - 1);
}

// Sites whose letters and rate enter a pair's distance: a letter in both sequences and a rate
// above 1e-8. One bit per site, 64 sites a word, per sequence 1..seqNum.
std::vector<std::vector<std::uint64_t>> distanceSites() {
    std::size_t words = static_cast<std::size_t>(seqLength) / 64 + 1;
    std::vector<std::vector<std::uint64_t>> bits(seqNum + 1, std::vector<std::uint64_t>(words, 0));
    for (int i = 1; i <= seqNum; i++)
        for (int s = 1; s <= seqLength; s++)
            if (node[i].code[s] != 0 && alfa[s] > RATE_TAKEN_AS_ZERO)
                bits[i][s / 64] |= std::uint64_t(1) << (s % 64);
    return bits;
}

int sharedSites(const std::vector<std::uint64_t>& a, const std::vector<std::uint64_t>& b) {
    int count = 0;
    for (std::size_t w = 0; w < a.size(); w++) count += __builtin_popcountll(a[w] & b[w]);
    return count;
}

// What a pair's distance costs: every evaluation of the derivative visits every site and
// computes a term at each shared one; identical sequences cost nothing.
std::vector<double> pairWork(int** same) {
    std::vector<std::vector<std::uint64_t>> sites = distanceSites();
    std::vector<double> work(pairIndex(seqNum + 1, 1));
    for (int i = 2; i <= seqNum; i++)
        for (int j = 1; j < i; j++)
            work[pairIndex(i, j)] = same[i][j] ? 0.0 : seqLength + 4.0 * sharedSites(sites[i], sites[j]);
    return work;
}

// Each process computes the distances of its share of the pairs, the value and the warning of
// each; every process then holds all of them, and the process that writes says the warnings,
// pair by pair in order.
double** distanceMatrix(int** same) {
    Shares shares = balancedShares(pairWork(same));
    std::vector<double> pairs(2 * pairIndex(seqNum + 1, 1));
    for (int i = 2; i <= seqNum; i++)
        for (int j = 1; j < i; j++) {
            std::size_t p = pairIndex(i, j);
            if (p < shares.myBegin() || p >= shares.myEnd()) continue;
            PairDistance d = same[i][j] ? PairDistance{0.0, PairWarning::none} : pairDistance(i, j);
            pairs[2 * p] = d.value;
            pairs[2 * p + 1] = static_cast<double>(d.warning);
        }
    gatherShares(shares, pairs.data(), 2);
    double** D = dmatrix(1, seqNum, 1, seqNum);
    for (int i = 1; i <= seqNum; i++)
        for (int j = 1; j <= seqNum; j++) D[i][j] = 0.0;
    for (int i = 2; i <= seqNum; i++) {
        for (int j = 1; j < i; j++) {
            std::size_t p = pairIndex(i, j);
            D[i][j] = D[j][i] = pairs[2 * p];
            if (!writesFiles()) continue;
            printPairWarning(i, j, static_cast<PairWarning>(static_cast<int>(pairs[2 * p + 1])));
            if (D[i][j] > 10.0) std::printf("dist_matrix[%d][%d]=%8.5f\n", i, j, D[i][j]);
        }
    }
    return D;
}

// Sites of one rate share their transition data at each distance tried: the distinct rates
// above 1e-8, each site's class (-1: no rate) and each class's transitions, regrouped
// whenever alfa has changed.
struct RateClasses {
    std::vector<double> alfaSeen; // alfa[0..seqLength] when the classes were made
    std::vector<int> classOf;     // per site
    std::vector<double> rate;     // per class
    std::vector<Transitions> transitions;
};
RateClasses classes;

void refreshRateClasses() {
    std::size_t count = static_cast<std::size_t>(seqLength) + 1;
    if (classes.alfaSeen.size() == count &&
        std::memcmp(classes.alfaSeen.data(), alfa, count * sizeof(double)) == 0)
        return;
    classes.alfaSeen.assign(alfa, alfa + count);
    classes.rate.clear();
    for (int s = 1; s <= seqLength; s++)
        if (alfa[s] > RATE_TAKEN_AS_ZERO) classes.rate.push_back(alfa[s]);
    std::sort(classes.rate.begin(), classes.rate.end());
    classes.rate.erase(std::unique(classes.rate.begin(), classes.rate.end()), classes.rate.end());
    classes.classOf.assign(count, -1);
    for (int s = 1; s <= seqLength; s++)
        if (alfa[s] > RATE_TAKEN_AS_ZERO)
            classes.classOf[s] = static_cast<int>(
                std::lower_bound(classes.rate.begin(), classes.rate.end(), alfa[s]) - classes.rate.begin());
    classes.transitions.resize(classes.rate.size());
}

} // namespace

double functionValue(int** pair, double t) {
    refreshRateClasses();
    for (std::size_t c = 0; c < classes.rate.size(); c++) classes.transitions[c].at(t, classes.rate[c]);
    double sum = 0.0;
    for (int s = 1; s <= seqLength; s++) {
        int a = pair[1][s], b = pair[2][s], c = classes.classOf[s];
        if (a == 0 || b == 0 || c < 0) continue;
        // A residue found only outside the computed sites is never reached: its term is 0,
        // which tells nothing and does not make the sum infinite.
        sum += classes.transitions[c].lengthDerivativeRatio(a, b);
    }
    return sum;
}

PairDistance pairDistance(int a, int b) {
    int** pair = imatrix(1, 2, 1, seqLength);
    int shared = 0;
    for (int s = 1; s <= seqLength; s++) {
        pair[1][s] = node[a].code[s];
        pair[2][s] = node[b].code[s];
        shared += pair[1][s] != 0 && pair[2][s] != 0 && alfa[s] > RATE_TAKEN_AS_ZERO;
    }
    auto finish = [&](double d, PairWarning warning = PairWarning::none) {
        free_imatrix(pair, 1, 2, 1, seqLength);
        return PairDistance{d, warning};
    };
    // Nothing tells the two apart: the least weight, not the closest neighbours.
    if (shared == 0) return finish(10.0, PairWarning::infinite);

    double lo = 1e-6, glo = functionValue(pair, lo);
    // The likelihood falls from the lower bound on (sequences that agree at every shared
    // site): its maximum is there.
    if (std::fabs(glo) < 1e-6 || glo < 0) return finish(1e-6);
    double hi = 1.0, ghi = functionValue(pair, hi);
    while (glo * ghi > 0) {
        lo = hi;
        glo = ghi;
        hi = hi + 1;
        ghi = functionValue(pair, hi);
        if (std::fabs(ghi) < 1e-6 || lo >= 10) return finish(10.0, PairWarning::infinite);
    }
    for (int step = 0; step < 60; step++) {
        double mid = lo + (hi - lo) / 2;
        double gmid = functionValue(pair, mid);
        if (std::fabs(hi - lo) < 1e-6 || gmid == 0) return finish(mid);
        if (glo * gmid > 0) {
            lo = mid;
            glo = gmid;
        } else if (ghi * gmid > 0) {
            hi = mid;
            ghi = gmid;
        }
    }
    return finish(11.0, PairWarning::tooManyIterations);
}

void printPairWarning(int a, int b, PairWarning warning) {
    if (warning == PairWarning::infinite)
        std::printf("Warning:distance between %s and %s is inf, set distance 10.0\n", node[a].name,
                    node[b].name);
    else if (warning == PairWarning::tooManyIterations)
        std::printf("Too many iterations to find the distance between node:%d and node:%d\n", a, b);
}

double dist(int a, int b) {
    PairDistance d = pairDistance(a, b);
    printPairWarning(a, b, d.warning);
    return d.value;
}

double functionValue1(int** counts, double t) {
    double sum = 0.0;
    for (int i = 1; i <= 20; i++)
        for (int j = 1; j <= i; j++)
            if (counts[i][j] != 0) sum += counts[i][j] * std::log(pij(i, j, t, 1.0));
    return sum;
}

char* itoa(int k) {
    std::string digits = k > 0 ? std::to_string(k) : "";
    char* text = new char[digits.size() + 1];
    std::strcpy(text, digits.c_str());
    return text;
}

std::string treeFileName(const std::string& alignmentPath) {
    std::size_t slash = alignmentPath.rfind('/');
    std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    return alignmentPath.substr(0, alignmentPath.find('.', start)) + ".tre";
}

void checkBuiltFilePaths(const std::string& alignment) {
    struct Other {
        const std::string& path;
        const char* kind;
        const char* remedy;
    };
    const Other others[] = {
        {alignment, "alignment file", "rename the alignment file"},
        {rootProbPath, "root-probability file", "rename the root-probability file"},
        {resultPath, "result file", "choose another result file"},
        {partialResultPath, "partial result file", "choose another result file"},
    };
    std::string treeFile = treeFileName(alignment);
    for (const std::string& output : {std::string(distanceFileName), treeFile}) {
        const char* kind = output == treeFile ? "tree file" : "distance file";
        for (const Other& other : others)
            if (!other.path.empty() && sameFile(output, other.path))
                refuse("The " + std::string(kind) + " " + output + " would overwrite the " + other.kind +
                       " " + other.path + "; " + other.remedy + " or give a tree file with -t");
    }
    // Said before the distances, not after them and the builder: every process checks, as it
    // checks the inputs, so that none starts the work, and the report comes once.
    for (const std::string& output : {std::string(distanceFileName), treeFile}) {
        if (wnj::canBeCreated(output.c_str())) continue;
        int reason = errno;
        sharedFault([&] {
            errno = reason;
            if (output == treeFile) wnj::cannotCreate(output.c_str());
            distanceFileFailed("open");
        });
    }
}

void cal_dist(const char* alignmentPath) {
    std::string treeFile = treeFileName(alignmentPath);
    checkTreeInputs(alignmentPath);
    int** same = identicalPairs();
    wnj::WholeFile distanceFile;
    if (writesFiles()) openDistanceFile(distanceFile);
    std::printf("Calculating distance matrix and produce tree file\n");
    double** D = distanceMatrix(same);
    if (writesFiles()) writeDistanceFile(distanceFile, D);
    std::printf("Use wnj software to build tree\n");
    wnj::wnj(seqNum, seqLength, node, D, writesFiles() ? treeFile.c_str() : nullptr);
    for (int k = 1; k <= 2 * seqNum - 2; k++) node[k].isRoot = k == seqNum + 1;
    std::printf("Finish building tree\n");
    free_imatrix(same, 1, seqNum, 1, seqNum);
    free_dmatrix(D, 1, seqNum, 1, seqNum);
    setLevel(seqNum + 1);
}
