// The shortest branch that the likelihood, its derivatives and the simulations work with.
#ifndef CORE_BRANCHLENGTH_H
#define CORE_BRANCHLENGTH_H

// Real trees hold zero-length branches (identical sequences, resolved multifurcations). At
// length 0 a change of residue has probability 0 and the site's likelihood is minus infinity,
// and lengths just above 0 leave only rounding noise; the independent likelihood programs
// take such branches at this length, and so the results here agree with theirs.
constexpr double MIN_BRANCH_LENGTH = 1e-6;

// The length at which a tree branch enters a transition probability.
inline double modelLength(double length) {
    return length < MIN_BRANCH_LENGTH ? MIN_BRANCH_LENGTH : length;
}

#endif
