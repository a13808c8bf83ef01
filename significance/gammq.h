// Regularized upper incomplete gamma function, the goodness of fit of a weighted line.
#ifndef SIGNIFICANCE_GAMMQ_H
#define SIGNIFICANCE_GAMMQ_H

// Q(a, x) = 1 - P(a, x); x < 0 or a <= 0 is fatal.
float gammq(float a, float x);

#endif
