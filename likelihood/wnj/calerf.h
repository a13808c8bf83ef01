// The error function, its complement and the scaled complement exp(x*x)*erfc(x), by
// W. J. Cody's rational Chebyshev approximations (Math. Comp. 23 (1969) 631-638).
#ifndef WNJ_CALERF_H
#define WNJ_CALERF_H

namespace wnj {

// *x truncated towards zero.
double aint(double* x);
// kind 0: erf(x); 1: erfc(x); 2: exp(x*x)*erfc(x).
double calerf(double x, int kind);
double derf(double x);
double derfc(double x);
double derfcx(double x);

} // namespace wnj

#endif
