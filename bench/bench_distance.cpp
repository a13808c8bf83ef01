// Times the distance step (every pairwise maximum-likelihood distance) and the tree builder
// on sequences evolved under the model on a random tree:
//   bench_distance [sites] [sequences...]      (default: 300 sites; 100, 300 and 1000 sequences)
#include "../tests/support/model_setup.h"
#include "simulated_alignment.h"

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
    useAlignment(benchsupport::evolve(n, length, 1000u + n));
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
