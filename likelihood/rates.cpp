#include "rates.h"

#include "alignment.h"
#include "model.h"
#include "numerics/matrixalgebra.h"
#include "settings.h"
#include "siterules.h"

#include <cmath>
#include <cstdio>
#include <vector>

char* estFlag = nullptr;

double siteEntropy(int s) {
    int count[21] = {0};
    int total = 0;
    for (int i = 1; i <= seqNum; i++) {
        int k = node[i].code[s];
        if (k >= 1 && k <= 20) {
            count[k]++;
            total++;
        }
    }
    double h = 0.0;
    for (int k = 1; k <= 20; k++) {
        double f = static_cast<double>(count[k]) / total;
        if (f > FREQUENCY_TAKEN_AS_ZERO) h += -f * std::log(f);
    }
    return h;
}

namespace {

// A rate that is negative, infinite or not a number cannot scale branch lengths; the site is
// then run at 1.0 like a site without an estimate.
bool usableRate(double r) {
    return std::isfinite(r) && r >= 0.0;
}

void warnUnusableRate(int s) {
    printf("Warning: no valid initial rate for site %d, rate 1.0 used\n", s);
}

void writeSiteTable(const char* title, const char* format, const std::vector<double>& value) {
    fprintf(resultFile, "%s", title);
    for (int s = 1; s <= seqLength; s++) fprintf(resultFile, format, s, value[s]);
}

void entropyRates(int estimated) {
    std::vector<double> H(seqLength + 1, 1.0), A(seqLength + 1, 1.0), G(seqLength + 1, 0.0);
    for (int s = 1; s <= seqLength; s++)
        if (estFlag[s]) H[s] = siteEntropy(s);
    writeSiteTable("entropy for each site\n", "site: %3d  entropy: %10.6f\n", H);

    double m1 = 0.0;
    for (int s = 1; s <= seqLength; s++)
        if (estFlag[s]) m1 += H[s] / estimated;
    double S2 = 0.0;
    for (int s = 1; s <= seqLength; s++)
        if (estFlag[s]) S2 += (H[s] - m1) * (H[s] - m1);
    double m2 = 0.0;
    for (int s = 1; s <= seqLength; s++) {
        if (!estFlag[s]) continue;
        G[s] = S2 * (1 - std::exp(-H[s] / m1));
        m2 += G[s] / estimated;
    }

    // x = 1.4874 A / (0.4649 + A) inverted: an x above 1.4874 gives a negative A, which counts
    // in T like any other. A value that is not finite (the 0/0 of a single entropy value or of
    // all-invariant columns, x exactly 1.4874) is no estimate: the site is left out of T and
    // shows 1.0, like a site with too few letters.
    std::vector<char> used(seqLength + 1, 0);
    int usedCount = 0;
    double T = 0.0;
    for (int s = 1; s <= seqLength; s++) {
        if (!estFlag[s]) continue;
        double x = G[s] / m2;
        double value = 0.4649 * x / (1.4874 - x);
        if (!std::isfinite(value)) continue;
        A[s] = value;
        used[s] = 1;
        usedCount++;
        T += A[s];
    }
    writeSiteTable("alpha for each site before normalize\n", "site: %3d  alpha: %10.6f\n", A);

    for (int s = 1; s <= seqLength; s++) {
        alfa[s] = 1.0;
        if (!estFlag[s]) continue;
        double r = used[s] ? usedCount * A[s] / T : NAN;
        if (usableRate(r))
            alfa[s] = r == 0.0 ? 0.0 : r; // a zero over a negative T is -0, shown as "-0.000000"
        else
            warnUnusableRate(s);
    }
    std::vector<double> finalRate(alfa, alfa + seqLength + 1);
    writeSiteTable("final alpha for each site\n", "site: %3d  alpha: %10.6f\n", finalRate);
    fflush(resultFile);
}

void correlatedRates(int estimated) {
    double** P = dmatrix(1, 20, 1, 20);
    for (int i = 1; i <= 20; i++)
        for (int j = 1; j <= 20; j++) P[i][j] = pij(i, j, 1.0, 1.0);
    for (int i = 1; i <= 20; i++)
        for (int j = 1; j <= i; j++) P[i][j] = P[j][i] = (P[i][j] + P[j][i]) / 2;

    std::vector<double> R(seqLength + 1, 0.0);
    std::vector<char> used(seqLength + 1, 0);
    int usedCount = estimated;
    double T = 0.0;
    for (int s = 1; s <= seqLength; s++) {
        if (!estFlag[s]) continue;
        double sum = 0.0;
        int c = 0;
        for (int i = 1; i <= seqNum; i++) {
            int ki = node[i].code[s];
            if (ki == 0) continue;
            for (int j = i + 1; j <= seqNum; j++) {
                int kj = node[j].code[s];
                if (kj == 0) continue;
                sum += P[ki][kj];
                c++;
            }
        }
        double value = std::pow(c / sum, 1.3);
        if (!usableRate(value)) {
            warnUnusableRate(s);
            usedCount--;
            continue;
        }
        R[s] = value;
        used[s] = 1;
        T += R[s];
    }
    free_dmatrix(P, 1, 20, 1, 20);

    for (int s = 1; s <= seqLength; s++) {
        bool invariant;
        if (!dashFlag[s])
            invariant = uniformCodes(s);
        else if (estFlag[s] && calFlag[s])
            invariant = invariantCodes(s);
        else {
            alfa[s] = 1.0;
            continue;
        }
        if (invariant) {
            T = T - R[s];
            R[s] = 0;
            printf("invariant site: %d\n", s);
        }
    }

    // With no variable estimated site T is 0, up to the rounding of adding and removing the
    // same terms: the scaled rate E 0 / 0 has no value.
    bool variable = false;
    for (int s = 1; s <= seqLength; s++)
        if (used[s] && R[s] != 0.0) variable = true;
    for (int s = 1; s <= seqLength; s++) {
        if (!estFlag[s]) continue;
        double r = variable && used[s] ? usedCount * R[s] / T : NAN;
        if (usableRate(r)) {
            alfa[s] = r;
        } else {
            alfa[s] = 1.0;
            if (used[s]) warnUnusableRate(s);
        }
    }
}

} // namespace

void alpha() {
    delete[] estFlag;
    estFlag = new char[seqLength + 1];
    estFlag[0] = 0;
    int estimated = 0;
    for (int s = 1; s <= seqLength; s++) {
        estFlag[s] = lettersForRate(s) ? 1 : 0;
        estimated += estFlag[s];
    }

    if (EntropyEstimatedFlag)
        entropyRates(estimated);
    else if (refineFlag == 0 || refineFlag == 2)
        correlatedRates(estimated);
    else
        for (int s = 1; s <= seqLength; s++) alfa[s] = 1.0;
}
