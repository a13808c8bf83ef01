// The expected-entropy rate search (-V) of every site of the bundled example (38 sequences x
// 213 sites), as the workers of a job run it: a bisection whose every evaluation pushes the
// root probabilities down tree 0. Prints the processor time of the thread and a checksum of
// the bits of every rate found, by which builds of two versions can be set side by side.
//
// Usage: bench_rootsearch [rounds]   (default 5, each round every site once)
#include "example_job.h"

#include "alignment.h"
#include "sitework.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    if (rounds < 1) {
        std::fprintf(stderr, "usage: bench_rootsearch [rounds]\n");
        return 1;
    }
    std::printf("machine: %ld processors online, load average %s", sysconf(_SC_NPROCESSORS_ONLN),
                benchsupport::loadAverage().c_str());
    benchsupport::prepareExample();
    std::uint64_t checksum = 14695981039346656037u; // FNV-1a over the rates' bytes
    double seconds = 0.0;
    // A site without a root says so on standard output.
    benchsupport::quietly([&] {
        double start = benchsupport::threadSeconds();
        for (int round = 0; round < rounds; round++)
            for (int s = 1; s <= seqLength; s++) {
                double rate = expectedEntropyAlphaSite(s);
                unsigned char bytes[sizeof rate];
                std::memcpy(bytes, &rate, sizeof rate);
                for (unsigned char b : bytes) checksum = (checksum ^ b) * 1099511628211u;
            }
        seconds = benchsupport::threadSeconds() - start;
    });
    std::printf(
        "expected-entropy rate search, %d rounds of %d sites (%d sequences); processor time of the thread\n",
        rounds, seqLength, seqNum);
    std::printf("%8.3f s (%.3f ms per site)\n", seconds, 1e3 * seconds / (rounds * seqLength));
    std::printf("checksum of the rates: %016llx\n", static_cast<unsigned long long>(checksum));
    return 0;
}
