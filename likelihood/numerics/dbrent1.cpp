#include "numerics/dbrent1.h"

#include "numerics/matrixalgebra.h"

#include <cmath>

namespace {

constexpr int maxIterations = 100;
constexpr double golden = 0.381966;
constexpr double tinyTolerance = 1e-10;

// |magnitude| with the sign of of; of == 0 counts as positive.
double withSign(double magnitude, double of) {
    return of >= 0.0 ? std::fabs(magnitude) : -std::fabs(magnitude);
}

} // namespace

double dbrent1(double ax, double bx, double cx, double (*f)(int, int, double), double tol, double* xmin,
               int i1, int i2) {
    double a = ax < cx ? ax : cx;
    double b = ax > cx ? ax : cx;
    double x = bx, w = bx, v = bx;
    double fx = f(i1, i2, bx), fw = fx, fv = fx;
    double d = 0.0, e = 0.0;
    for (int iter = 1; iter <= maxIterations; iter++) {
        double xm = 0.5 * (a + b);
        double tol1 = tol * std::fabs(x) + tinyTolerance;
        double tol2 = 2.0 * tol1;
        if (std::fabs(x - xm) <= tol2 - 0.5 * (b - a)) {
            *xmin = x;
            return fx;
        }
        bool parabolic = false;
        if (std::fabs(e) > tol1) {
            double r = (x - w) * (fx - fv);
            double q = (x - v) * (fx - fw);
            double p = (x - v) * q - (x - w) * r;
            q = 2.0 * (q - r);
            if (q > 0.0) p = -p;
            q = std::fabs(q);
            double etemp = e;
            e = d;
            if (std::fabs(p) < std::fabs(0.5 * q * etemp) && p > q * (a - x) && p < q * (b - x)) {
                parabolic = true;
                d = p / q;
                double u = x + d;
                if (u - a < tol2 || b - u < tol2) d = withSign(tol1, xm - x);
            }
        }
        if (!parabolic) {
            e = x >= xm ? a - x : b - x;
            d = golden * e;
        }
        double u = std::fabs(d) >= tol1 ? x + d : x + withSign(tol1, d);
        double fu = f(i1, i2, u);
        if (fu <= fx) {
            if (u >= x)
                a = x;
            else
                b = x;
            v = w, fv = fw;
            w = x, fw = fx;
            x = u, fx = fu;
        } else {
            if (u < x)
                a = u;
            else
                b = u;
            if (fu <= fw || w == x) {
                v = w, fv = fw;
                w = u, fw = fu;
            } else if (fu <= fv || v == x || v == w) {
                v = u, fv = fu;
            }
        }
    }
    nrerror("Too many iterations in brent");
}
