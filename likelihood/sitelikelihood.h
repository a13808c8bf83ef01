// Likelihood of one site's column on the site's own tree, its derivative by the site rate,
// and the maximum-likelihood rate of a site.
#ifndef CORE_SITELIKELIHOOD_H
#define CORE_SITELIKELIHOOD_H

// Pruning recursion on gapTree[s] below record c at rate a: fills vec and scale of c and of
// every record below it (vec is the conditional likelihood times 10^scale).
void calRL(int s, int c, double a);

// Natural log-likelihood of the leaf codes of site s at rate a on its tree from root, the
// root weighted by PI; 0.0 when the root is flagged gap (a site left out of computation).
double calTree(int s, int root, double a);

// calTree of count columns at once, each to the bit what calTree gives when the leaves hold
// it: column b has the code of leaf i (1..n) at codes[b * stride + i], and its log-likelihood
// goes into logL[b]. The columns go through the tree together, each branch's transition matrix
// serving all of them while it is at hand.
void calTreeColumns(int s, int root, double a, const unsigned char* codes, int stride, int count,
                    double* logL);

// calRL with the transition probabilities of record target replaced by their derivative by
// the rate; the vectors, which can be negative, are rescaled by their largest magnitude.
void calRL_alfa(int s, int c, double a, int target);

// ln |dL/da| of site s at rate a (L the likelihood itself); *sign is -1 when dL/da < 0,
// else 1.
double calTree_alfa(int s, int root, double a, int* sign);

// -calTree(s, root, a): the objective the minimiser works on.
double func_alfa(int s, int root, double a);

// The rate of largest likelihood of site s on its tree, from the ten-point grid and the
// minimiser, whatever its letters; *logL receives the log-likelihood at that rate.
double searchAlpha(int s, double* logL);

// Maximum-likelihood rate of site s on its tree; 1.0 below the non-gap minimum of letters,
// 1e-8 for an invariant column.
double optimizeAlpha(int s);

#endif
