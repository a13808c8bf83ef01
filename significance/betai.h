// Regularized incomplete beta function for the beta tail probabilities.
#ifndef SIGNIFICANCE_BETAI_H
#define SIGNIFICANCE_BETAI_H

// I_x(a, b); an x outside [0, 1] is fatal.
double betai(double a, double b, double x);
// The continued fraction of the incomplete beta function (modified Lentz), converging fast
// for x < (a + 1)/(a + b + 2).
double betacf(double a, double b, double x);

#endif
