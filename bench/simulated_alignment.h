// Protein sequences evolved under the model on a random tree, for the benchmarks. The model
// must be built first (buildModel).
#ifndef BENCH_SIMULATED_ALIGNMENT_H
#define BENCH_SIMULATED_ALIGNMENT_H

#include "alignment.h"
#include "model.h"

#include <random>
#include <string>
#include <vector>

namespace benchsupport {

// Draws from the distribution p[1..20].
inline int draw(std::mt19937& rng, const double* p) {
    double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng), sum = 0.0;
    for (int k = 1; k <= 20; k++) {
        sum += p[k];
        if (u < sum) return k;
    }
    return 20;
}

// n sequences of the given length evolved down a random unrooted tree: each new leaf
// splits a random branch, lengths uniform in [0.02, 0.15]; the root letters follow PI. With
// a gamma shape above 0, every site evolves at its own rate drawn from the gamma distribution
// of that shape and mean 1, else all at rate 1.
inline std::vector<std::string> evolve(int n, int length, unsigned seed, double gammaShape = 0.0) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> branch(0.02, 0.15);
    // Rooted binary tree: parent and length per node; nodes 0..n-1 the leaves.
    std::vector<int> parent(2 * n - 1, -1);
    std::vector<double> len(2 * n - 1, 0.0);
    int root = n, next = n + 1;
    parent[0] = parent[1] = root;
    len[0] = branch(rng), len[1] = branch(rng);
    for (int leaf = 2; leaf < n; leaf++) {
        int below = std::uniform_int_distribution<int>(0, leaf - 1)(rng);
        if (next > n + 1 && rng() % 4 == 0) below = n + 1 + static_cast<int>(rng() % (next - n - 1));
        int split = next++;
        parent[split] = parent[below];
        len[split] = branch(rng);
        parent[below] = split;
        parent[leaf] = split;
        len[leaf] = branch(rng);
    }
    std::vector<double> rate(length, 1.0);
    if (gammaShape > 0) {
        std::gamma_distribution<double> gamma(gammaShape, 1.0 / gammaShape);
        for (double& r : rate) r = gamma(rng);
    }
    std::vector<std::vector<int>> state(2 * n - 1, std::vector<int>(length));
    for (int s = 0; s < length; s++) state[root][s] = draw(rng, PI);
    // Parents are made before their children except for the splits, so resolve by depth.
    std::vector<int> order;
    std::vector<char> done(2 * n - 1, 0);
    done[root] = 1;
    while (static_cast<int>(order.size()) < 2 * n - 2)
        for (int k = 0; k < 2 * n - 1; k++)
            if (!done[k] && parent[k] >= 0 && done[parent[k]]) done[k] = 1, order.push_back(k);
    double row[21];
    for (int k : order)
        for (int s = 0; s < length; s++) {
            int from = state[parent[k]][s];
            for (int j = 1; j <= 20; j++) row[j] = pij(from, j, len[k], rate[s]);
            state[k][s] = draw(rng, row);
        }
    std::vector<std::string> rows(n, std::string(length, '-'));
    for (int i = 0; i < n; i++)
        for (int s = 0; s < length; s++) rows[i][s] = aa[state[i][s]];
    return rows;
}

} // namespace benchsupport

#endif
