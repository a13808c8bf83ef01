// Logarithm of the gamma function, in double for the beta tail and in single precision for
// the goodness of fit of the straight line.
#ifndef SIGNIFICANCE_GAMMLN_H
#define SIGNIFICANCE_GAMMLN_H

// ln Gamma(xx) for xx > 0 by a six-term Lanczos series.
double gammln(double xx);
// The same series with its result rounded to float.
float gammln(float xx);

#endif
