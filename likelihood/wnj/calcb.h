// Branch-length estimates of the join loop: for every pair of active nodes the weighted
// sums over third nodes, kept per node pair so that a join step corrects only what the
// last join changed.
#ifndef WNJ_CALCB_H
#define WNJ_CALCB_H

namespace wnj {

// For the first i active slots: s, deltaB (weighted mean of d_ak - d_ck), delta2B (of its
// square) and b (b[a][c]: length of a's branch when a is joined with c); updates mS,
// mDelB and mDel2B.
void calc_b(int i, double** b, double** deltaB, double** delta2B, double** s);
// The share of the distance d on a node's side given the mean difference e of its and its
// partner's distances to the others, clamped to [0, d] for d >= 0.
double branchShare(double d, double e);
// The same sums, recomputed in full with the split of each pair taken from deltaB.
void recalc_b(int n, double** b, double** deltaB, double** delta2B, double** s);

} // namespace wnj

#endif
