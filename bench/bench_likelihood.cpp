// Site likelihood with and without the stored branch transition matrices: the same columns
// on one 50-leaf gap-free site tree, as the final phase scores shuffled and simulated columns.
// Prints both timings, the speed-up and whether every result agrees to the bit.
//
// Usage: bench_likelihood [columns]   (default 10000)
#include "../tests/support/sitefixture.h"
#include "alignment.h"
#include "model.h"
#include "sitelikelihood.h"
#include "transitioncache.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

const int leaves = 50;

double scoreAll(const std::vector<int>& columns, int count, std::vector<double>& result) {
    auto start = std::chrono::steady_clock::now();
    for (int col = 0; col < count; col++) {
        for (int i = 1; i <= leaves; i++) node[i].code[1] = columns[col * leaves + i - 1];
        result[col] = calTree(1, leaves + 1, 1.3);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (count < 1) {
        fprintf(stderr, "usage: bench_likelihood [columns]\n");
        return 1;
    }
    // The test fixtures build the stores: a model of random frequencies and one gap-free site
    // on a random tree.
    std::mt19937 rng(2024);
    buildModel(sitefixture::randomFrequencies(rng).data());
    sitefixture::makeAlignment(leaves, 1);
    sitefixture::randomTree(rng, 0.02, 0.6);
    sitefixture::copyTreeToSite(1);
    std::vector<int> columns(static_cast<size_t>(count) * leaves);
    std::uniform_int_distribution<int> residue(1, 20);
    for (int& k : columns) k = residue(rng);

    std::vector<double> cached(count), direct(count);
    transitionCacheEnabled = true;
    double cachedTime = scoreAll(columns, count, cached);
    transitionCacheEnabled = false;
    double directTime = scoreAll(columns, count, direct);

    int differ = 0;
    for (int col = 0; col < count; col++)
        if (std::memcmp(&cached[col], &direct[col], sizeof(double)) != 0) differ++;
    printf("%d columns, %d leaves, one gap-free site tree\n", count, leaves);
    printf("stored matrices: %10.4f s (%8.2f us per column)\n", cachedTime, 1e6 * cachedTime / count);
    printf("pij in the loop: %10.4f s (%8.2f us per column)\n", directTime, 1e6 * directTime / count);
    printf("speed-up: %.1fx\n", directTime / cachedTime);
    printf("results differing: %d of %d\n", differ, count);
    return differ == 0 ? 0 : 1;
}
