// Writes an alignment for the job benchmarks: sequences evolved under the model with
// gamma-distributed site rates on a random tree, in CLUSTAL W layout.
//   make_alignment SEQUENCES SITES SEED GAMMA_SHAPE OUTPUT
#include "../tests/support/model_setup.h"
#include "simulated_alignment.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: make_alignment SEQUENCES SITES SEED GAMMA_SHAPE OUTPUT\n");
        return 1;
    }
    int n = std::atoi(argv[1]), length = std::atoi(argv[2]);
    unsigned seed = static_cast<unsigned>(std::atol(argv[3]));
    double shape = std::atof(argv[4]);
    buildModel(wagFrequencies());
    std::vector<std::string> rows = benchsupport::evolve(n, length, seed, shape);
    std::FILE* out = std::fopen(argv[5], "w");
    if (!out) {
        std::perror(argv[5]);
        return 1;
    }
    std::fprintf(out, "CLUSTAL W\n\n");
    const int width = 60;
    for (int start = 0; start < length; start += width) {
        for (int i = 0; i < n; i++)
            std::fprintf(out, "s%-11d %s\n", i + 1, rows[i].substr(start, width).c_str());
        std::fprintf(out, "\n");
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
