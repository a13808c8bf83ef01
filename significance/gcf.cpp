#include "gcf.h"

#include "gammln.h"
#include "nrutil.h"

#include <cmath>

namespace {

const float EPS = 3.0e-7f;
const float FPMIN = 1.0e-30f;

float clampAwayFromZero(float v) {
    return std::fabs(v) < FPMIN ? FPMIN : v;
}

} // namespace

void gcf(float* gammcf, float a, float x, float* gln) {
    *gln = gammln(a);
    // Like the series, the fraction needs about sqrt(a) steps when x is close to a; the
    // limit grows with a and is 100 for small a, where the result is unchanged.
    const double itmax = 100.0 + 10.0 * std::sqrt(static_cast<double>(a));
    float b = x + 1.0f - a;
    float c = 1.0f / FPMIN;
    float d = 1.0f / b;
    float h = d;
    for (long i = 1; i <= itmax; i++) {
        float an = -i * (i - a);
        b += 2.0f;
        d = 1.0f / clampAwayFromZero(an * d + b);
        c = clampAwayFromZero(b + an / c);
        float del = d * c;
        h *= del;
        if (std::fabs(del - 1.0f) < EPS) {
            *gammcf = std::exp(-x + a * std::log(x) - *gln) * h;
            return;
        }
    }
    nrerror("a too large, ITMAX too small in gcf");
}
