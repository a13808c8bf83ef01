// The distance-variance model of the weighted neighbour-joining: the variance of a
// distance between two protein sequences of length L, its inverse, and the variance terms
// of a path split at a third node.
#ifndef WNJ_NOISE_H
#define WNJ_NOISE_H

namespace wnj {

// Fixed parameters of a run, set by setParameters before anything else.
extern double L;       // sequence length
extern double EPSILON; // keeps inverse variances finite
extern double MINB;    // least branch piece
extern double B;       // alphabet size
extern double sigBi;   // 1/B
extern double sigBB;   // (B-1)/B
extern double sigBBi;  // B/(B-1)

// Sets the parameters for sequences of the given length over the 20 amino acids.
void setParameters(int length);

// Variance of a distance d.
double sigma2t(double d);
// The distance whose variance is v.
double sigma2tinv(double v);
// Variance of the path X+Y beyond that of its two pieces; a clearly negative excess is fatal.
double sigma_na(double X, double Y);
// sigma_na with the variances x = sigma2t(X) and y = sigma2t(Y) of the pieces already known.
double pathExcess(double X, double Y, double x, double y);
// Variance term of d_ij when the path between the nodes in active slots i and j is split
// where the node in slot k branches off; never negative. A clearly negative term is taken as 0
// and noted for reportSplitVariance.
double sigma2_3(int i, int j, int k);

// The joins made so far in the build, which the join loop keeps.
extern int joinsMade;
// Forgets the clearly negative split variances noted, at the start of a build.
void forgetSplitVariance();
// Prints, once, the first clearly negative split variance of the build, in the order of the
// joins made before it and of its slots, on every process's notes: the processes of a job each
// compute their share of every step, and one line must not stand for as many as they are. Every
// process calls it at the end of a build.
void reportSplitVariance();
// sigma2_3 for a split of d_ik given by its difference deltaB.
double sigma2_3p(int i, int j, int k, double deltaB);
// Four-point variance term and the ordering variance of the quartet i, j, k, l.
double sig4(int i, int j, int k, int l, double PQ, double iP, double jP);
double sigord(int i, int j, int k, int l, double PQ, double iP, double jP);

} // namespace wnj

#endif
