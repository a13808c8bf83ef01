#include "transitioncache.h"

#include "sitefixture.h"

#include "alignment.h"
#include "model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

using namespace sitefixture;

namespace {

bool sameBits(double x, double y) {
    return std::memcmp(&x, &y, sizeof x) == 0;
}

} // namespace

// One record of tree 0 and of a site tree through changes of the branch length, the rate and
// the model, one at a time: every value the store gives is pij's (or dpij/pij) at the length
// that enters a transition probability, to the bit, whichever part is asked for first.
TEST(TransitionStore, EveryValueIsPijsToTheBit) {
    std::mt19937 rng(3);
    std::array<double, 21> withoutC = randomFrequencies(rng);
    withoutC[5] = 0.0; // a residue the alignment lacks is never reached from another
    struct Case {
        const char* what;
        int tree;
        double length, rate;
        const double* model; // rebuilt before the case; nullptr keeps the one in use
    };
    const Case cases[] = {
        {"first use", 1, 0.05, 1.0, wagFrequencies()},
        {"another rate", 1, 0.05, 2.5, nullptr},
        {"another length", 1, 0.7, 2.5, nullptr},
        {"another model", 1, 0.7, 2.5, withoutC.data()},
        {"a length below the shortest", 1, 1e-9, 0.3, nullptr},
        {"the simulation tree, rate 0", 0, 3.0, 0.0, nullptr},
        {"the simulation tree, a long branch", 0, 40.0, 1.7, wagFrequencies()},
    };
    makeAlignment(4, 1);
    const int c = 2;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        if (k.model) buildModel(k.model);
        gapTree[k.tree][c].length = k.length;
        double t = k.length < 1e-6 ? 1e-6 : k.length;
        TransitionColumns column = transitionColumn(k.tree, c, k.rate, 7);
        for (int i = 1; i <= 20; i++) EXPECT_TRUE(sameBits(column[7][i], pij(i, 7, t, k.rate))) << i;
        Transitions& store = branchTransitions(k.tree, c, k.rate);
        for (int i = 1; i <= 20; i++) {
            const double* sum = store.cumulativeRow(i);
            double expected = 0.0;
            for (int j = 1; j <= 20; j++) {
                expected = j == 1 ? pij(i, 1, t, k.rate) : expected + pij(i, j, t, k.rate);
                EXPECT_TRUE(sameBits(sum[j], expected)) << i << " " << j;
                double P = pij(i, j, t, k.rate);
                double ratio = P == 0.0 ? 0.0 : dpij(i, j, t, k.rate) / P;
                EXPECT_TRUE(sameBits(store.lengthDerivativeRatio(i, j), ratio)) << i << " " << j;
            }
        }
        TransitionColumns P = transitionMatrix(k.tree, c, k.rate);
        for (int i = 1; i <= 20; i++)
            for (int j = 1; j <= 20; j++)
                EXPECT_TRUE(sameBits(P[j][i], pij(i, j, t, k.rate))) << i << " " << j;
    }
}
