// Least-squares straight line y = a + b x, optionally weighted by per-point deviations.
#ifndef SIGNIFICANCE_FIT_H
#define SIGNIFICANCE_FIT_H

// Fits points 1..ndata of x and y (index-range vectors); with mwt != 0 each point has the
// standard deviation sig[i]. Returns the intercept a, the slope b, their deviations siga and
// sigb, chi2, and the goodness of fit q (1 for an unweighted fit).
void fit(float x[], float y[], int ndata, float sig[], int mwt, float* a, float* b, float* siga, float* sigb,
         float* chi2, float* q);

#endif
