// Transition matrices of the branches of one site tree, kept between likelihood evaluations.
//
// The final phase scores thousands of columns on the same site tree, rate and model with only
// the leaf letters changing; evaluating pij inside the recursion would cost 20 exp per entry
// every time. The store holds, for the site tree in use, each record's 20 x 20 matrix exactly
// as pij returns it, and drops everything when the site, the rate or the model (modelVersion)
// changes; a record whose branch length changed is recomputed on its own.
#ifndef CORE_TRANSITIONCACHE_H
#define CORE_TRANSITIONCACHE_H

// True (the default): the likelihood recursion takes its transition probabilities from the
// store. False: it calls pij directly, the reference path for tests and the benchmark.
extern bool transitionCacheEnabled;

// A stored matrix by columns: P[j][i] = pij(i, j, length of the record, rate), i, j in 1..20
// (entries from the shared exponential factors, equal to pij's to the bit). Column k is a leaf
// vector as it stands, and the recursion runs over i in step.
using TransitionColumns = const double (*)[21];

// The matrix of record c of site tree s at rate a with column k (1..20) filled.
TransitionColumns transitionColumn(int s, int c, double a, int k);

// The same matrix with all 20 columns filled.
TransitionColumns transitionMatrix(int s, int c, double a);

#endif
