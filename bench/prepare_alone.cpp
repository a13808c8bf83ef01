// The preparation of a job in one process that shares no work with others: the measure that a
// job's shared preparation is compared with. Takes dadiverur's command line; without a tree
// file it writes DISTMATRIX.txt and the built tree as a job's rank 0 does, and the result file
// up to the chosen root. Prints the wall-clock and processor seconds on standard error:
//   prepare_alone -i ALIGNMENT [dadiverur's options]
#include "vantrel.h"

#include <chrono>
#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
    // Progress lines leave as they are written, as from a job's process, so that they can be
    // timed.
    std::setvbuf(stdout, nullptr, _IOLBF, 1 << 16);
    auto wall = std::chrono::steady_clock::now();
    std::clock_t cpu = std::clock();
    main_function(argc, argv);
    std::fprintf(stderr, "preparation %.1f s (processor %.1f s)\n",
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count(),
                 static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
    return 0;
}
