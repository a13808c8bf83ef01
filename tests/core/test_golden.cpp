// Golden results: the whole preparation of a fixed alignment and tree, then the model, the
// rates, every site's log-likelihood, a few maximum-likelihood rates, transition
// probabilities and the chosen root, compared to the bit against values recorded once. The
// likelihood runs once through the transition-matrix store and once on pij directly, and both
// must give the same bits; the Release and the sanitizer builds compare against the same table,
// so an optimisation or contraction that changes any rounding shows here.
//
// How the values were made: the table was printed by this test itself (a mismatch reports each
// value as a ready table line in "%a") from the code of the branch it was added on, after the
// independent check below (a pruning on an exponential by Taylor series) agreed with the
// log-likelihoods of the gap-free sites. Regenerate only for a change meant to alter results.
//
// The table holds for the project's builds (x86-64 without fused multiply-add). A build for a
// processor with FMA (-march=native, -mfma) differs in the last bits of the model: GCC 12 fuses
// the paired multiply-add and multiply-subtract of the SVD's plane rotations into vfmsubadd
// even under -ffp-contract=off, so the eigenvectors, pij and everything after them change.
#include "alignment.h"
#include "model.h"
#include "scratch.h"
#include "settings.h"
#include "settings_reset.h"
#include "simulation.h"
#include "sitefixture.h"
#include "sitelikelihood.h"
#include "sitework.h"
#include "transitioncache.h"
#include "vantrel.h"
#include "vectorwidths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Results = std::vector<std::pair<std::string, double>>;

// Recorded from the fixture golden/golden.aln, golden/golden.tre under -C (rates from the
// pairwise change probabilities).
const Results golden = {
    {"PI[1]", 0x1p-5},
    {"PI[2]", 0x1p-5},
    {"PI[3]", 0x1.8p-5},
    {"PI[4]", 0x1.8p-5},
    {"PI[5]", 0x1p-6},
    {"PI[6]", 0x1.8p-5},
    {"PI[7]", 0x1.cp-4},
    {"PI[8]", 0x1p-5},
    {"PI[9]", 0x1p-5},
    {"PI[10]", 0x1.8p-5},
    {"PI[11]", 0x1p-4},
    {"PI[12]", 0x1.4p-3},
    {"PI[13]", 0x1.4p-4},
    {"PI[14]", 0x1p-5},
    {"PI[15]", 0x1p-6},
    {"PI[16]", 0x1p-5},
    {"PI[17]", 0x1.8p-5},
    {"PI[18]", 0x1p-4},
    {"PI[19]", 0x1p-5},
    {"PI[20]", 0x1.8p-5},
    {"alfa[1]", 0x1.59b5ff125549ap-1},
    {"alfa[2]", 0x0p+0},
    {"alfa[3]", 0x1p+0},
    {"alfa[4]", 0x1.e81020abd4988p-1},
    {"alfa[5]", 0x1p+0},
    {"alfa[6]", 0x1.167dddad3109cp+0},
    {"alfa[7]", 0x1.1812aba2c1fbap+1},
    {"alfa[8]", 0x1.2b5209f425bd9p-1},
    {"alfa[9]", 0x1.afe784e2a4f43p+0},
    {"alfa[10]", 0x1.a5d262a2fc758p-1},
    {"calTree[1]", -0x1.e96090ad39a2cp+3},
    {"calTree[2]", -0x1.db365858403a3p+0},
    {"calTree[3]", 0x0p+0},
    {"calTree[4]", -0x1.80970208afb62p+3},
    {"calTree[5]", -0x1.70bc575810951p+3},
    {"calTree[6]", -0x1.1e22b95241d1ep+4},
    {"calTree[7]", -0x1.5d7b21712c96ap+4},
    {"calTree[8]", -0x1.5ef433549bdp+4},
    {"calTree[9]", -0x1.8f69c83b8e974p+4},
    {"calTree[10]", -0x1.e636627febe0cp+3},
    {"calTree at 1[1]", -0x1.d19d14d2aaefep+3},
    {"calTree at 1[2]", -0x1.b69a64624fd7fp+1},
    {"calTree at 1[3]", 0x0p+0},
    {"calTree at 1[4]", -0x1.7e90a8dae246cp+3},
    {"calTree at 1[5]", -0x1.70bc575810951p+3},
    {"calTree at 1[6]", -0x1.21dac98f9bf64p+4},
    {"calTree at 1[7]", -0x1.715e357a3e066p+4},
    {"calTree at 1[8]", -0x1.4050835aa5effp+4},
    {"calTree at 1[9]", -0x1.ad5703d839e3p+4},
    {"calTree at 1[10]", -0x1.db5840e7f4b12p+3},
    {"calTree_alfa[1]", -0x1.c542f60caae87p+3},
    {"calTree_alfa[1] sign", 0x1p+0},
    {"optimizeAlpha[1]", 0x1.39999d83de721p+1},
    {"optimizeAlpha[4]", 0x1.80cf59436f95ep+1},
    {"optimizeAlpha[6]", 0x1.97d5a2cf92b21p+1},
    {"optimizeAlpha[9]", 0x1.2bae2f1ea853p+2},
    {"pij(1,1,0.1,1)", 0x1.d3f0772f93591p-1},
    {"pij(1,2,0.1,1)", 0x1.ad158a65a5998p-10},
    {"pij(12,12,0.5,0.7)", 0x1.6c5e64cd43c1fp-1},
    {"pij(20,3,2,1.3)", 0x1.c0c4217158599p-6},
    {"pij(7,18,0.03,4.5)", 0x1.489a5bc0e7e22p-10},
    {"root child[9]", 0x1.d70a3ep-6},
    {"root child[12]", 0x1.47aep-10},
};

std::string fixture(const char* name) {
    return std::string(FIXTURES_DIR) + "/golden/" + name;
}

// The start-up of a job with -C (and the extra words) on the fixture, as every process runs it;
// returns what it wrote into the result file.
std::string prepare(const std::vector<std::string>& extra = {}) {
    testsupport::resetSettings();
    // Unique across the test processes that run side by side.
    std::string result = testing::TempDir() + "golden_result_" + std::to_string(getpid()) + ".txt";
    std::vector<std::string> words = {"dadiverur",           "-C", "-i",  fixture("golden.aln"), "-t",
                                      fixture("golden.tre"), "-o", result};
    words.insert(words.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    testing::internal::CaptureStdout();
    main_function(static_cast<int>(argv.size()), argv.data());
    testing::internal::GetCapturedStdout();
    std::fclose(resultFile);
    resultFile = stdout;
    std::string text = testsupport::fileText(result);
    std::remove(result.c_str());
    return text;
}

std::string label(const char* what, int k) {
    return std::string(what) + "[" + std::to_string(k) + "]";
}

// Everything the table holds, computed on the prepared state.
Results compute() {
    Results r;
    for (int k = 1; k <= 20; k++) r.push_back({label("PI", k), PI[k]});
    for (int s = 1; s <= seqLength; s++) r.push_back({label("alfa", s), alfa[s]});
    for (int s = 1; s <= seqLength; s++) r.push_back({label("calTree", s), calTree(s, treeRoot[s], alfa[s])});
    for (int s = 1; s <= seqLength; s++)
        r.push_back({label("calTree at 1", s), calTree(s, treeRoot[s], 1.0)});
    int sign = 0;
    r.push_back({"calTree_alfa[1]", calTree_alfa(1, treeRoot[1], alfa[1], &sign)});
    r.push_back({"calTree_alfa[1] sign", sign});
    for (int s : {1, 4, 6, 9}) r.push_back({label("optimizeAlpha", s), optimizeAlpha(s)});
    const struct {
        int i, j;
        double t, rate;
    } entries[] = {
        {1, 1, 0.1, 1.0}, {1, 2, 0.1, 1.0}, {12, 12, 0.5, 0.7}, {20, 3, 2.0, 1.3}, {7, 18, 0.03, 4.5}};
    for (const auto& e : entries) {
        char name[64];
        std::snprintf(name, sizeof name, "pij(%d,%d,%g,%g)", e.i, e.j, e.t, e.rate);
        r.push_back({name, pij(e.i, e.j, e.t, e.rate)});
    }
    // The rooted tree: the root's two children and the lengths of their branches.
    const SiteTreeNode& root = copyTree[0][0];
    for (int child : {root.left, root.right}) {
        r.push_back({label("root child", child), copyTree[0][child].length});
    }
    return r;
}

// A table line of the value, for the golden table.
std::string tableLine(const std::pair<std::string, double>& v) {
    char text[128];
    std::snprintf(text, sizeof text, "    {\"%s\", %a},", v.first.c_str(), v.second);
    return text;
}

void expectGolden(const Results& got) {
    ASSERT_EQ(got.size(), golden.size()) << "the computed values, as table lines:\n"
                                         << [&] {
                                                std::string all;
                                                for (const auto& v : got) all += tableLine(v) + "\n";
                                                return all;
                                            }();
    for (size_t k = 0; k < got.size(); k++) {
        EXPECT_EQ(got[k].first, golden[k].first);
        // Bit equality; a NaN would be a fault of its own and fails here too.
        EXPECT_EQ(got[k].second, golden[k].second) << "now: " << tableLine(got[k]);
    }
}

// ln L of gap-free site s at the given rate on the unrooted tree of node, from transition
// matrices of the Taylor-series exponential: independent of pij and the recursion.
double independentLogLikelihood(int s, double rate) {
    using sitefixture::Matrix;
    std::vector<std::vector<long double>> partial(DIM, std::vector<long double>(21, 0.0L));
    auto below = [&](auto&& self, int c) -> void {
        if (node[c].left == 0) {
            partial[c][node[c].code[s]] = 1.0L;
            return;
        }
        for (int i = 1; i <= 20; i++) partial[c][i] = 1.0L;
        for (int child : {node[c].left, node[c].right, node[c].third}) {
            if (child == 0) continue;
            self(self, child);
            Matrix P = sitefixture::transitionByExponential(node[child].length * rate);
            for (int i = 1; i <= 20; i++) {
                long double sum = 0.0L;
                for (int j = 1; j <= 20; j++) sum += P[i][j] * partial[child][j];
                partial[c][i] *= sum;
            }
        }
    };
    below(below, seqNum + 1);
    long double L = 0.0L;
    for (int i = 1; i <= 20; i++) L += PI[i] * partial[seqNum + 1][i];
    return std::log(static_cast<double>(L));
}

TEST(Golden, PreparationAndLikelihoodGiveTheRecordedBits) {
    for (bool cached : {true, false}) {
        SCOPED_TRACE(cached ? "transition store on" : "transition store off");
        transitionCacheEnabled = cached;
        std::string written = prepare();
        EXPECT_NE(written.find("best point: branch No:  7 distance from left point:  0.028750\n"
                               "left point: 9:  right point: 12: \n"),
                  std::string::npos);
        expectGolden(compute());
    }
    transitionCacheEnabled = true;
}

// The final phase's site records with the clock fixed, under -C and under -C -P (each gapped but
// computed site then works under its own model): per site, a digest of the bits of all its values
// (64-bit FNV-1a over the values in order), value 0 and value 1. Recorded from the code as it stood
// before the shuffles were drawn ahead and scored together, whose every value the new code gives.
struct SiteRecordDigest {
    int site;
    std::uint64_t digest;
    double statistic, first;
};

const std::vector<SiteRecordDigest> goldenRecords = {
    {1, 0x29d538c8dacd89eeu, 0x1.b57cc80ab9e65p-8, -0x1.31151aaf177dbp-50},
    {2, 0x36c3b11f74bea9d4u, -0x1.db365858403a3p+0, -0x1.db365858403a3p+0},
    {3, 0x10cf707ac52a375bu, 0x0p+0, 0x0p+0},
    {4, 0xdc9a260b7677a54eu, 0x1.d13d18d83a6ep-3, 0x1.1ffa704e1fc1cp-6},
    {5, 0x4444ee99595db4c0u, -0x1.70bc575810951p+3, -0x1.70bc575810951p+3},
    {6, 0xf0025703cdd44206u, 0x1.1bb83b41b6902p-3, -0x1.8501801f93ba4p-8},
    {7, 0xc634e02431835bb1u, 0x1.11370f588d058p-3, -0x1.6ea8fc70679c4p-5},
    {8, 0x724b705e89a61d83u, 0x1.c543f0b461e8bp-8, -0x1.4654365023546p-8},
    {9, 0x74ab8f1650c875f7u, -0x1.0ac961385a852p-5, -0x1.cf02f7f550e3fp-6},
    {10, 0x7fbe0a09f64c3c95u, 0x1.407a1bcc1d2ap-3, 0x1.7e0b16169373fp-4},
};

const std::vector<SiteRecordDigest> goldenRecordsOwnModel = {
    {1, 0x68bbece49cb90e89u, 0x1.b57cc80ab9e65p-8, -0x1.056140ba06244p-49},
    {2, 0x36c3b11f74bea9d4u, -0x1.db365858403a3p+0, -0x1.db365858403a3p+0},
    {3, 0x10cf707ac52a375bu, 0x0p+0, 0x0p+0},
    {4, 0xea0ed00adc41c603u, 0x1.906dea859699p-3, -0x1.f0a42664c6ffap-52},
    {5, 0xf303cc7c06a58521u, -0x1.2ec0bdccc6cd8p+3, -0x1.2ec0bdccc6cd8p+3},
    {6, 0xada80a277e11000bu, 0x1.1bb83b41b6902p-3, -0x1.30a8e08956858p-5},
    {7, 0x2b3ebf9916d1172eu, 0x1.4a8d0d70c13cep-4, -0x1.0ed320f6b56d1p-5},
    {8, 0x3d1700ac6ef55c1eu, 0x1.c543f0b461e8bp-8, -0x1.3ca90d2ebbbbcp-5},
    {9, 0xb069b3bc78a42402u, -0x1.0ac961385a852p-5, -0x1.cf02f7f550e3fp-6},
    {10, 0x9033c093a485c047u, 0x1.407a1bcc1d2ap-3, 0x1.7dc9af7b90eecp-4},
};

SiteRecordDigest digestOf(int site, const std::vector<double>& record) {
    std::uint64_t h = 1469598103934665603u;
    for (double v : record) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        h = (h ^ bits) * 1099511628211u;
    }
    return {site, h, record[0], record[1]};
}

TEST(Golden, FinalPhaseSiteRecordsGiveTheRecordedBitsWithEveryVectorWidth) {
    std::time_t (*clock)() = seedClock;
    seedClock = [] { return std::time_t(1000); };
    for (bool ownModel : {false, true}) {
        prepare(ownModel ? std::vector<std::string>{"-P"} : std::vector<std::string>{});
        const std::vector<SiteRecordDigest>& expected = ownModel ? goldenRecordsOwnModel : goldenRecords;
        testsupport::forEachVectorWidth([&](VectorWidth width) {
            SCOPED_TRACE(std::string(ownModel ? "-P, " : "") + testsupport::widthName(width));
            std::vector<double> record(SITE_RECORD_SIZE);
            for (const SiteRecordDigest& e : expected) {
                finalSiteWork(e.site, record.data());
                SiteRecordDigest got = digestOf(e.site, record);
                EXPECT_EQ(got.digest, e.digest) << "site " << e.site;
                EXPECT_EQ(got.statistic, e.statistic) << "site " << e.site;
                EXPECT_EQ(got.first, e.first) << "site " << e.site;
            }
        });
    }
    seedClock = clock;
}

// The recorded values are plausible: the log-likelihoods of the gap-free sites agree with an
// independent computation, and each recorded rate is a maximum of its site's likelihood.
TEST(Golden, RecordedValuesArePlausible) {
    prepare();
    for (int s = 1; s <= seqLength; s++) {
        if (dashFlag[s]) continue;
        SCOPED_TRACE("site " + std::to_string(s));
        EXPECT_NEAR(calTree(s, treeRoot[s], alfa[s]), independentLogLikelihood(s, alfa[s]), 1e-9);
    }
    for (int s : {1, 4, 6, 9}) {
        SCOPED_TRACE("site " + std::to_string(s));
        double best = optimizeAlpha(s);
        for (double step : {-1e-2, 1e-2})
            EXPECT_LT(calTree(s, treeRoot[s], best + step), calTree(s, treeRoot[s], best));
    }
}

} // namespace
