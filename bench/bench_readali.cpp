// Times readali and searchGap on a generated alignment of 1,000 sequences by 5,000 columns
// in blocks of 60 columns: bench_readali [sequences] [columns]
#include "alignment.h"
#include "settings.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    int n = argc > 1 ? std::atoi(argv[1]) : 1000;
    int columns = argc > 2 ? std::atoi(argv[2]) : 5000;
    std::string path = "/tmp/bench_readali.aln";
    {
        std::ofstream out(path);
        out << "CLUSTAL W (1.83) multiple sequence alignment\n\n";
        unsigned state = 12345;
        for (int start = 0; start < columns; start += 60) {
            for (int i = 0; i < n; i++) {
                out << "sequence_" << i << "  ";
                for (int s = start; s < columns && s < start + 60; s++) {
                    state = state * 1103515245u + 12345u;
                    out << "-ARNDCQEGHILKMFPSTWYV"[(state >> 16) % 21];
                }
                out << '\n';
            }
            out << "\n";
        }
    }
    resultFile = std::fopen("/dev/null", "w");
    std::FILE* progress = std::freopen("/dev/null", "w", stdout);
    auto begin = std::chrono::steady_clock::now();
    readali(path.c_str());
    searchGap();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::fprintf(stderr, "readali + searchGap, %d x %d: %.3f s\n", seqNum, seqLength, seconds);
    std::remove(path.c_str());
    return progress ? 0 : 1;
}
