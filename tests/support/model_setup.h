// Test support for the substitution model: the model storage as the start-up allocates it,
// a small alignment put straight into the alignment stores, and a model built from given
// frequencies.
#ifndef TESTS_SUPPORT_MODEL_SETUP_H
#define TESTS_SUPPORT_MODEL_SETUP_H

#include "alignment.h"
#include "model.h"
#include "numerics/matrixalgebra.h"

#include <cctype>
#include <cstring>
#include <string>
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

// rows[i-1] becomes leaf i (at least two rows, all of one length): seqNum, seqLength, DIM and node (records
// 0..2n-2, with seq and code of the leaves, letters folded as the reader folds them), dashFlag and calFlag as
// searchGap sets them. The stores of an earlier call are left behind, not released.
inline void useAlignment(const std::vector<std::string>& rows) {
    seqNum = static_cast<int>(rows.size());
    seqLength = static_cast<int>(rows[0].size());
    DIM = 2 * seqNum - 1;
    node = new NODE[DIM]();
    for (int i = 0; i < DIM; i++) {
        node[i].id = i;
        node[i].seq = new char[seqLength + 2]();
        node[i].code = new int[seqLength + 1]();
        node[i].seq[0] = ' ';
        for (int s = 1; s <= seqLength; s++) node[i].seq[s] = '-';
    }
    for (int i = 1; i <= seqNum; i++) {
        for (int s = 1; s <= seqLength; s++) {
            char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(rows[i - 1][s - 1])));
            const char* found = std::strchr(aa, letter);
            if (!found || letter == '\0') letter = '-', found = aa;
            node[i].seq[s] = letter;
            node[i].code[s] = static_cast<int>(found - aa);
        }
    }
    dashFlag = new char[seqLength + 1]();
    calFlag = new char[seqLength + 1]();
    for (int s = 1; s <= seqLength; s++) {
        int gaps = 0;
        for (int i = 1; i <= seqNum; i++) gaps += node[i].code[s] == 0;
        dashFlag[s] = gaps > 0;
        calFlag[s] = gaps > 0 && gaps <= seqNum - 3;
    }
}

#endif
