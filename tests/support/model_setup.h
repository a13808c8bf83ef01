// Test support for the substitution model: the model storage as the start-up allocates it,
// a small alignment read from its rows, and a model built from given frequencies.
#ifndef TESTS_SUPPORT_MODEL_SETUP_H
#define TESTS_SUPPORT_MODEL_SETUP_H

#include "alignment.h"
#include "model.h"
#include "numerics/matrixalgebra.h"
#include "settings.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

// The model storage, allocated once per test program as the start-up does; later calls
// keep it (its contents are the callers').
inline void allocateModelStorageOnce() {
    if (!S_ij) allocateModelStorage();
}

// The model of the frequencies f[1..20]: WAG exchangeabilities, PI = f, Q_ij and its
// eigen-decomposition.
inline void buildModel(const double* f) {
    allocateModelStorageOnce();
    init_S();
    for (int k = 1; k <= 20; k++) PI[k] = f[k];
    cal_Q(PI);
    cal_Eign();
}

// The WAG equilibrium frequencies scaled to sum 1, entries 1..20 in residue-code order: a
// realistic, uneven frequency vector for tests.
inline const double* wagFrequencies() {
    static const double published[21] = {0,         0.0866279, 0.043972,  0.0390894, 0.0570451, 0.0193078,
                                         0.0367281, 0.0580589, 0.0832518, 0.0244313, 0.048466,  0.086209,
                                         0.0620286, 0.0195027, 0.0384319, 0.0457631, 0.0695179, 0.0610127,
                                         0.0143859, 0.0352742, 0.0708956};
    static double f[21];
    double total = 0.0;
    for (int k = 1; k <= 20; k++) total += published[k];
    for (int k = 1; k <= 20; k++) f[k] = published[k] / total;
    return f;
}

// Runs body with standard output sent nowhere, for the progress lines of a reader.
template <typename Body> void withoutStandardOutput(Body body) {
    std::fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    int nowhere = open("/dev/null", O_WRONLY);
    dup2(nowhere, STDOUT_FILENO);
    close(nowhere);
    body();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
}

// rows[i-1] becomes leaf i, named s<i> (at least three rows, all of one length, without
// blanks): the alignment reader reads them as one block of a file (readali, searchGap), with
// its input table going to a temporary file and its progress lines nowhere. The stores of an
// earlier call are left behind, not released.
inline void useAlignment(const std::vector<std::string>& rows) {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/alignmentXXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    close(fd);
    std::ofstream file(path);
    for (std::size_t i = 0; i < rows.size(); i++) file << 's' << i + 1 << ' ' << rows[i] << '\n';
    file.close();
    FILE* saved = resultFile;
    resultFile = std::tmpfile();
    withoutStandardOutput([&] {
        readali(path.c_str());
        searchGap();
    });
    std::fclose(resultFile);
    resultFile = saved;
    std::remove(path.c_str());
}

#endif
