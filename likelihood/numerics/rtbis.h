// Root finding by bisection.
#ifndef NUMERICS_RTBIS_H
#define NUMERICS_RTBIS_H

// A root of x -> f(i1, x, i2) between x1 and x2 to the accuracy xacc: the last point found
// with f <= 0, on the negative side of the root. i1 and i2 are passed to f unchanged. Ends
// the program when f(x1) and f(x2) do not have strictly opposite signs or after 40 halvings.
double rtbis(double (*f)(int, double, int), double x1, double x2, double xacc, int i1, int i2);

#endif
