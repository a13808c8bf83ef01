#include "gammln.h"

#include <cmath>

double gammln(double xx) {
    static const double cof[6] = {76.18009172947146,  -86.50532032941677,    24.01409824083091,
                                  -1.231739572450155, 0.1208650973866179e-2, -0.5395239384953e-5};
    double x = xx;
    double tmp = x + 5.5;
    tmp -= (x + 0.5) * std::log(tmp);
    double ser = 1.000000000190015;
    for (int j = 0; j <= 5; j++) ser += cof[j] / (x + j + 1);
    return std::log(2.5066282746310007 * ser / x) - tmp;
}

// The series runs in double either way; only the result is rounded.
float gammln(float xx) {
    return static_cast<float>(gammln(static_cast<double>(xx)));
}
