#include "wnj/calerf.h"

#include <cmath>

namespace wnj {

namespace {

// Coefficients of the three intervals: erf for |x| <= 0.46875, erfc up to 4, erfc beyond.
const double a[5] = {3.16112374387056560e00, 1.13864154151050156e02, 3.77485237685302021e02,
                     3.20937758913846947e03, 1.85777706184603153e-1};
const double b[4] = {2.36012909523441209e01, 2.44024637934444173e02, 1.28261652607737228e03,
                     2.84423683343917062e03};
const double c[9] = {5.64188496988670089e-1, 8.88314979438837594e00, 6.61191906371416295e01,
                     2.98635138197400131e02, 8.81952221241769090e02, 1.71204761263407058e03,
                     2.05107837782607147e03, 1.23033935479799725e03, 2.15311535474403846e-8};
const double d[8] = {1.57449261107098347e01, 1.17693950891312499e02, 5.37181101862009858e02,
                     1.62138957456669019e03, 3.29079923573345963e03, 4.36261909014324716e03,
                     3.43936767414372164e03, 1.23033935480374942e03};
const double p[6] = {3.05326634961232344e-1, 3.60344899949804439e-1, 1.25781726111229246e-1,
                     1.60837851487422766e-2, 6.58749161529837803e-4, 1.63153871373020978e-2};
const double q[5] = {2.56852019228982242e00, 1.87295284992346047e00, 5.27905102951428412e-1,
                     6.05183413124413191e-2, 2.33520497626869185e-3};

const double thresh = 0.46875;
const double xsmall = 1.11e-16;
const double xbig = 26.543;
const double xhuge = 6.71e7;
const double xmax = 2.53e307;
const double xneg = -26.628;
const double xinf = 1.79e308;
const double sqrpi = 0.56418958354775628695;

// exp(sign*y*y) as exp(sign*r*r)*exp(sign*(y-r)(y+r)), r = y truncated to a multiple of
// 1/16, so that the large part of the square is formed exactly.
double expSquare(double y, double sign) {
    double scaled = y * 16.0;
    double r = aint(&scaled) / 16.0;
    double rest = (y - r) * (y + r);
    return std::exp(sign * r * r) * std::exp(sign * rest);
}

// erf(x) for |x| <= thresh.
double nearZero(double x, double y) {
    double ysq = y > xsmall ? y * y : 0.0;
    double xnum = a[4] * ysq, xden = ysq;
    for (int i = 0; i < 3; i++) {
        xnum = (xnum + a[i]) * ysq;
        xden = (xden + b[i]) * ysq;
    }
    return x * (xnum + a[3]) / (xden + b[3]);
}

// exp(y*y)*erfc(y) for thresh < y <= 4.
double middleScaled(double y) {
    double xnum = c[8] * y, xden = y;
    for (int i = 0; i < 7; i++) {
        xnum = (xnum + c[i]) * y;
        xden = (xden + d[i]) * y;
    }
    return (xnum + c[7]) / (xden + d[7]);
}

// exp(y*y)*erfc(y) for 4 < y < xhuge.
double tailScaled(double y) {
    double ysq = 1.0 / (y * y);
    double xnum = p[5] * ysq, xden = ysq;
    for (int i = 0; i < 4; i++) {
        xnum = (xnum + p[i]) * ysq;
        xden = (xden + q[i]) * ysq;
    }
    double result = ysq * (xnum + p[4]) / (xden + q[4]);
    return (sqrpi - result) / y;
}

// erfc(y) (kind 0, 1) or exp(y*y)*erfc(y) (kind 2) for y = |x| > thresh.
double awayFromZero(double y, int kind) {
    if (y <= 4.0) {
        double scaled = middleScaled(y);
        return kind == 2 ? scaled : expSquare(y, -1.0) * scaled;
    }
    if (y >= xbig) {
        if (kind != 2 || y >= xmax) return 0.0;
        if (y >= xhuge) return sqrpi / y;
    }
    double scaled = tailScaled(y);
    return kind == 2 ? scaled : expSquare(y, -1.0) * scaled;
}

} // namespace

double aint(double* x) {
    return *x >= 0 ? std::floor(*x) : std::ceil(*x);
}

double calerf(double x, int kind) {
    double y = std::fabs(x);
    if (y <= thresh) {
        double result = nearZero(x, y);
        if (kind == 0) return result;
        result = 1.0 - result;
        return kind == 1 ? result : std::exp(y > xsmall ? y * y : 0.0) * result;
    }
    double result = awayFromZero(y, kind);
    if (kind == 0) {
        result = (0.5 - result) + 0.5;
        return x < 0 ? -result : result;
    }
    if (kind == 1) return x < 0 ? 2.0 - result : result;
    if (x >= 0) return result;
    if (x < xneg) return xinf;
    double e = expSquare(x, 1.0);
    return (e + e) - result;
}

double derf(double x) {
    return calerf(x, 0);
}
double derfc(double x) {
    return calerf(x, 1);
}
double derfcx(double x) {
    return calerf(x, 2);
}

} // namespace wnj
