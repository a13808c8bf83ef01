#include "numerics/rtbis.h"

#include "numerics/matrixalgebra.h"

#include <cmath>

namespace {
constexpr int maxBisections = 40;
}

double rtbis(double (*f)(int, double, int), double x1, double x2, double xacc, int i1, int i2) {
    double f1 = f(i1, x1, i2);
    double f2 = f(i1, x2, i2);
    // Compared by sign rather than by the product, which can underflow to 0 for a true
    // bracket; a zero or a NaN at either end is no bracket.
    bool bracketed = (f1 < 0.0 && f2 > 0.0) || (f1 > 0.0 && f2 < 0.0);
    if (!bracketed) nrerror("Root must be bracketed for bisection in rtbis");
    double rtb = f1 < 0.0 ? x1 : x2;
    double dx = f1 < 0.0 ? x2 - x1 : x1 - x2;
    for (int j = 1; j <= maxBisections; j++) {
        dx *= 0.5;
        double xmid = rtb + dx;
        double fmid = f(i1, xmid, i2);
        if (fmid <= 0.0) rtb = xmid;
        if (std::fabs(dx) < xacc || fmid == 0.0) return rtb;
    }
    nrerror("Too many bisections in rtbis");
}
