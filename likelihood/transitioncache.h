// Transition data kept between evaluations, for every caller of the model's transition
// probabilities on a branch: the site likelihood, the column simulation and the distances.
//
// The final phase scores thousands of columns on the same site tree, rate and model with only
// the leaf letters changing, a simulation draws from the same branches column after column,
// and a distance evaluates the same few rates at one length site after site; evaluating pij
// each time would cost 20 exp per entry. Each entry holds what pij (and dpij) give for one
// branch length, rate and model, computed when first asked for, and drops all of it when any
// of the three changes: length, rate and modelVersion are the one key of transition data.
#ifndef CORE_TRANSITIONCACHE_H
#define CORE_TRANSITIONCACHE_H

#include "model.h"

#include <cstring>
#include <memory>

// True (the default): the recursion of calTree and calRL takes its transition probabilities from
// the store. False: it calls pij directly, the reference path for tests and the benchmark. The
// columns scored together (calTreeColumns), refinement's calRL and the tree optimisation always
// take them from the store.
extern bool transitionCacheEnabled;

// A stored matrix by columns: P[j][i] = pij(i, j, length, rate), i, j in 1..20. Column k is a
// leaf vector as it stands, and the recursions run over i in step.
using TransitionColumns = const double (*)[21];

// The transition data of one branch length t and rate a under the current model, each value
// equal to pij's (or dpij's) to the bit, as they come from the same exponential factors. at
// chooses the length and rate; the other members give the data of the last choice.
class Transitions {
  public:
    // The data of length t and rate a under the current model from here on: all that is held
    // stays when t, a (bit for bit) and modelVersion are those it was made for, else it goes.
    Transitions& at(double t, double a) {
        if (generation == 0 || !sameBits(t, length) || !sameBits(a, rate) || model != modelVersion) {
            generation++;
            length = t;
            rate = a;
            model = modelVersion;
        }
        return *this;
    }

    // The matrix with column k (1..20) filled.
    TransitionColumns column(int k) {
        if (!columns || columns->madeIn[k] != generation) fillColumn(k);
        return columns->p;
    }
    // The matrix with all 20 columns filled.
    TransitionColumns matrix();

    // Asks the processor for the matrix and the leaf columns that this branch holds, ahead of
    // their use: the columns of many sites pass a tree too large for the caches.
    void prefetch() const;

    // Column k (1..20) as a leaf of code k takes it into the likelihood: the column times the
    // powers of ten that rescale gives it by its largest entry; *scale receives their count.
    const double* leafColumn(int k, int* scale) {
        if (!leaves || leaves->madeIn[k] != generation) fillLeafColumn(k);
        *scale = leaves->scale[k];
        return leaves->vec[k];
    }

    // Row i summed in order of j: C[1] = pij(i, 1), C[j] = C[j-1] + pij(i, j), j = 1..20.
    const double* cumulativeRow(int i) {
        if (!rows || rows->madeIn[i] != generation) sumRow(i);
        return rows->sum[i];
    }

    // dpij(i, j)/pij(i, j), the derivative by the length of ln pij; 0.0 where pij is 0.
    double lengthDerivativeRatio(int i, int j) {
        if (!ratios || ratios->madeIn[i][j] != generation) fillRatio(i, j);
        return ratios->value[i][j];
    }

  private:
    static bool sameBits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }
    const double* factors() {
        if (factorsMadeIn != generation) {
            pijFactors(length, rate, e);
            factorsMadeIn = generation;
        }
        return e;
    }
    void fillColumn(int k);
    void sumRow(int i);
    void fillLeafColumn(int k);
    // Inline, as factors: a distance makes a new ratio every few sites, where a call would cost
    // as much as the lookup.
    void fillRatio(int i, int j) {
        if (!ratios) ratios = std::make_unique<Ratios>();
        const double* f = factors();
        double P = pij_e(i, j, f);
        ratios->value[i][j] = P == 0.0 ? 0.0 : dpij_e(i, j, f, rate) / P;
        ratios->madeIn[i][j] = generation;
    }

    // Every part carries the generation it was made in; a new key starts a new generation, so
    // that dropping what is held costs nothing. Generation 0 holds no key.
    unsigned long generation = 0;
    double length = 0.0;
    double rate = 0.0;
    unsigned long model = 0;
    unsigned long factorsMadeIn = 0;
    double e[21]; // exp(length * rate * wr[k]), as pijFactors gives them
    // Each part is made on first use: a branch of a site tree needs its matrix if it is inner and
    // its leaf columns if it leads to a leaf, a branch of the simulated tree its cumulative rows,
    // and a pass over a large tree keeps in the caches only what it needs.
    struct Columns {
        double p[21][21]; // p[j][i] = pij(i, j)
        unsigned long madeIn[21] = {};
        unsigned long matrixMadeIn = 0;
    };
    struct CumulativeRows {
        double sum[21][21];
        unsigned long madeIn[21] = {};
    };
    struct LeafColumns {
        double vec[21][21];
        int scale[21];
        unsigned long madeIn[21] = {};
    };
    struct Ratios {
        double value[21][21];
        unsigned long madeIn[21][21] = {};
    };
    std::unique_ptr<Columns> columns;
    std::unique_ptr<CumulativeRows> rows;
    std::unique_ptr<LeafColumns> leaves;
    std::unique_ptr<Ratios> ratios;
};

// The transitions of the branch above record c of site tree s (gapTree[s]) at rate a, at the
// length at which the branch enters a transition probability. Tree 0, on which the columns are
// simulated, has entries apart from the site trees': the final phase alternates between the two.
Transitions& branchTransitions(int s, int c, double a);
// The same for a branch of the given length in place of the record's, for a caller that holds
// the tree's lengths apart from gapTree.
Transitions& branchTransitions(int s, int c, double length, double a);

// branchTransitions(s, c, a) with column k filled, and with all columns filled.
TransitionColumns transitionColumn(int s, int c, double a, int k);
TransitionColumns transitionMatrix(int s, int c, double a);

#endif
