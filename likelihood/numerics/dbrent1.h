// One-dimensional minimisation by Brent's method (parabolic interpolation and golden
// section, function values only).
#ifndef NUMERICS_DBRENT1_H
#define NUMERICS_DBRENT1_H

// Minimises x -> f(i1, i2, x) from the bracket ax, bx, cx (bx between the ends, f(bx) below
// both) to the fractional accuracy tol. Returns the minimum value and puts its abscissa in
// *xmin. i1 and i2 are passed to f unchanged. More than 100 iterations end the program.
double dbrent1(double ax, double bx, double cx, double (*f)(int, int, double), double tol, double* xmin,
               int i1, int i2);

#endif
