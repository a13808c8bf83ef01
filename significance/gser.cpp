#include "gser.h"

#include "gammln.h"
#include "nrutil.h"

#include <cmath>

namespace {
const float EPS = 3.0e-7f;
}

void gser(float* gamser, float a, float x, float* gln) {
    *gln = gammln(a);
    if (x <= 0.0f) {
        if (x < 0.0f) nrerror("x less than 0 in routine gser");
        *gamser = 0.0f;
        return;
    }
    // Near x = a the terms fall off like exp(-n^2 / 2a), so the series needs a number of
    // terms that grows like the square root of a (a goodness of fit over 800 points already
    // needs more than 100). Up to 100 terms the sum is the same as with a fixed limit.
    const double itmax = 100.0 + 10.0 * std::sqrt(static_cast<double>(a));
    float ap = a;
    float del = 1.0f / a;
    float sum = del;
    for (long n = 1; n <= itmax; n++) {
        ++ap;
        del = del * x / ap;
        sum += del;
        if (std::fabs(del) < std::fabs(sum) * EPS) {
            *gamser = sum * std::exp(-x + a * std::log(x) - *gln);
            return;
        }
    }
    nrerror("a too large, ITMAX too small in routine gser");
}
