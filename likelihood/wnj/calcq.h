// The pair criterion: for every active taxon its best partner and the score that the join
// loop minimises.
#ifndef WNJ_CALCQ_H
#define WNJ_CALCQ_H

namespace wnj {

// Fills b (through calc_b), and for slots 0..n-1 the best partner q, the second partner
// q2, the score R, the renormalisation statistic P and the z-score Z.
void calc_q(int n, int q[], double R[], double** b, int q2[], double P[], double Z[]);
// R(i; j, jp): negative when the taxon in slot j is a better neighbour of i than jp.
double calcR(int n, int i, int j, int jp);
// R of slot i with the given partner j and second partner k.
double calcR2(int n, int i, int j, int k, double** b);

} // namespace wnj

#endif
