// Four-point z-scores: does a taxon and its chosen partner really form a cherry?
#ifndef WNJ_CALCZ_H
#define WNJ_CALCZ_H

namespace wnj {

// How far the cross sums of the pairs (i, j) and (k, l) exceed their pair sums (slots).
double PQ(int i, int j, int k, int l);
// Variance of PQ; never negative.
double sigma2PQ(int i, int j, int k, int l);
// z[i] for every active slot i, from its partner q[i] and second partner q2[i].
void calc_z2(int n, double z[], int q[], int q2[], double** b);
// z-score of slot i with the given partner j and second partner k.
double calcZ2(int n, int i, int j, int k, double** b);
// The same, keeping what it computes for slot i's node: the next step takes the values of
// the nodes that are still active from there while the node keeps its partners.
double memoZScore(int n, int i, int j, int k);
// Releases what memoZScore keeps for a node, or for every node.
void forgetZScores(int node);
void forgetAllZScores();
// z[i] from the pooled quartets of i and its partner q[i].
void calc_z1(int n, double z[], int q[]);
// How much to take off the distance of the pair in slots i, j when it looks doubtful.
double calcPhi(int n, int i, int j);

} // namespace wnj

#endif
