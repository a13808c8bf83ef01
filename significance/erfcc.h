// Complementary error function for the normal tail probabilities.
#ifndef SIGNIFICANCE_ERFCC_H
#define SIGNIFICANCE_ERFCC_H

// erfc(x) by a Chebyshev-fitted rational-exponential approximation (relative error below
// about 1.2e-7 everywhere).
double erfcc(double x);

#endif
