// Series for the regularized lower incomplete gamma function P(a, x).
#ifndef SIGNIFICANCE_GSER_H
#define SIGNIFICANCE_GSER_H

// P(a, x) into *gamser and ln Gamma(a) into *gln; best for x < a + 1.
void gser(float* gamser, float a, float x, float* gln);

#endif
