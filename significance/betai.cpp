#include "betai.h"

#include "gammln.h"
#include "nrutil.h"

#include <algorithm>
#include <cmath>

namespace {

const double EPS = 3.0e-7;
const double FPMIN = 1.0e-30;

double clampAwayFromZero(double v) {
    return std::fabs(v) < FPMIN ? FPMIN : v;
}

} // namespace

double betai(double a, double b, double x) {
    if (x < 0.0 || x > 1.0) nrerror("Bad x in routine betai");
    double bt = 0.0;
    if (x != 0.0 && x != 1.0)
        bt = std::exp(gammln(a + b) - gammln(a) - gammln(b) + a * std::log(x) + b * std::log(1.0 - x));
    if (x < (a + 1.0) / (a + b + 2.0)) return bt * betacf(a, b, x) / a;
    return 1.0 - bt * betacf(b, a, 1.0 - x) / b;
}

double betacf(double a, double b, double x) {
    // The fraction needs a number of terms that grows like the square root of the larger
    // shape; 100 is plenty for small shapes, so those results are unchanged by the wider
    // limit, while sharply peaked distributions (large shapes) still converge.
    const double maxit = 100.0 + 10.0 * std::sqrt(std::max(std::fabs(a), std::fabs(b)));
    double qab = a + b, qap = a + 1.0, qam = a - 1.0;
    double c = 1.0;
    double d = 1.0 / clampAwayFromZero(1.0 - qab * x / qap);
    double h = d;
    for (long m = 1; m <= maxit; m++) {
        double m2 = 2.0 * m;
        double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
        d = 1.0 / clampAwayFromZero(1.0 + aa * d);
        c = clampAwayFromZero(1.0 + aa / c);
        h = h * d * c;
        aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
        d = 1.0 / clampAwayFromZero(1.0 + aa * d);
        c = clampAwayFromZero(1.0 + aa / c);
        double del = d * c;
        h *= del;
        if (std::fabs(del - 1.0) < EPS) return h;
    }
    nrerror("a or b too big, or MAXIT too small in betacf");
}
