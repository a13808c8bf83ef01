// Continued fraction for the regularized upper incomplete gamma function Q(a, x).
#ifndef SIGNIFICANCE_GCF_H
#define SIGNIFICANCE_GCF_H

// Q(a, x) into *gammcf and ln Gamma(a) into *gln; best for x >= a + 1.
void gcf(float* gammcf, float a, float x, float* gln);

#endif
