// Times the distance step (every pairwise maximum-likelihood distance) and the tree builder
// on sequences evolved under the model on a random tree:
//   bench_distance [sites] [sequences...]      (default: 300 sites; 100, 300 and 1000 sequences)
#include "../tests/support/model_setup.h"

#include "alignment.h"
#include "distance.h"
#include "model.h"
#include "numerics/matrixalgebra.h"
#include "wnj/wnj1.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

// Draws from the distribution p[1..20].
int draw(std::mt19937& rng, const double* p) {
    double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng), sum = 0.0;
    for (int k = 1; k <= 20; k++) {
        sum += p[k];
        if (u < sum) return k;
    }
    return 20;
}

// n sequences of the given length evolved down a random unrooted tree: each new leaf
// splits a random branch, lengths uniform in [0.02, 0.15]; the root letters follow PI.
std::vector<std::string> evolve(int n, int length, unsigned seed) {
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
            for (int j = 1; j <= 20; j++) row[j] = pij(from, j, len[k], 1.0);
            state[k][s] = draw(rng, row);
        }
    std::vector<std::string> rows(n, std::string(length, '-'));
    for (int i = 0; i < n; i++)
        for (int s = 0; s < length; s++) rows[i][s] = aa[state[i][s]];
    return rows;
}

// Wall-clock and processor seconds of a step; on a busy machine the two part.
struct Timer {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    std::clock_t cpu = std::clock();
    double wallSeconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    }
    double cpuSeconds() const { return static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC; }
};

void run(int n, int length) {
    buildModel(wagFrequencies());
    useAlignment(evolve(n, length, 1000u + n));
    for (int i = 1; i <= n; i++) std::snprintf(node[i].name, sizeof node[i].name, "s%d", i);
    alfa = dvector(0, seqLength);
    for (int s = 0; s <= seqLength; s++) alfa[s] = 1.0;

    double** D = dmatrix(1, n, 1, n);
    Timer distanceTimer;
    for (int i = 1; i <= n; i++) {
        D[i][i] = 0.0;
        for (int j = 1; j < i; j++) D[i][j] = D[j][i] = dist(i, j);
    }
    double distances = distanceTimer.wallSeconds(), distancesCpu = distanceTimer.cpuSeconds();
    Timer builderTimer;
    wnj::wnj(n, length, node, D, nullptr);
    double builder = builderTimer.wallSeconds(), builderCpu = builderTimer.cpuSeconds();
    double mean = 0.0;
    for (int i = 2; i <= n; i++)
        for (int j = 1; j < i; j++) mean += D[i][j];
    mean /= n * (n - 1) / 2.0;
    double pairs = n * (n - 1) / 2.0;
    std::fprintf(stderr,
                 "%5d sequences x %d sites: distances %8.2f s (cpu %8.2f s, %.1f us per pair, mean %.3f), "
                 "builder %8.2f s (cpu %8.2f s)\n",
                 n, length, distances, distancesCpu, 1e6 * distancesCpu / pairs, mean, builder, builderCpu);
    free_dmatrix(D, 1, n, 1, n);
}

} // namespace

int main(int argc, char** argv) {
    int length = argc > 1 ? std::atoi(argv[1]) : 300;
    std::vector<int> sizes;
    for (int k = 2; k < argc; k++) sizes.push_back(std::atoi(argv[k]));
    if (sizes.empty()) sizes = {100, 300, 1000};
    std::FILE* progress = std::freopen("/dev/null", "w", stdout);
    for (int n : sizes) run(n, length);
    return progress ? 0 : 1;
}
