// The process-wide working state of one tree build, which the join loop keeps and the terms of
// every step (pair sums, z-scores, quartets, variances) read.
#ifndef WNJ_STATE_H
#define WNJ_STATE_H

#include "wnj/tree.h"

namespace wnj {

// Working state of one buildTree call, for n leaves and N = 2n-3 nodes in all.
extern _NodeT** nodes; // N slots: 0..i-1 the i active nodes, later slots the joined ones
extern double** mD;    // N x N distances by node index
extern double* vC;     // variance offset by node index: 0 at a leaf
// The caches hold a pair's sums from the last step; they are kept by active slot and move
// with the nodes when slots exchange them, so that a step reads them row by row.
extern double** mS;      // (n+1) x (n+1) cached weight sums by slot; -1: none cached
extern double** mDelB;   // (n+1) x (n+1) cached weighted sums of d_ak - d_ck
extern double** mDel2B;  // (n+1) x (n+1) cached weighted sums of (d_ak - d_ck)^2
extern double** s;       // n x n this step's weight sums by active slot
extern double** deltaB;  // n x n this step's weighted means of d_ak - d_ck
extern double** delta2B; // n x n this step's weighted means of (d_ak - d_ck)^2
extern int ta, tb, tc;   // after a join: slots of the two parked children and of the new node

// The one-time-warning latch; -1 keeps warnings off.
extern int warnFlag;

// The same distances and offsets by active slot, kept in step with nodes, mD and vC, so that
// the terms of a step read compact rows instead of rows scattered over mD; and per pair of
// slots the variance of its whole path, sigma2t(d_ij + c_i + c_j) added up from the node of
// lower index, which every split of that path shares.
// One more row, PARKED_SLOT (n), keeps the first child of the last join, which the cached
// sums of the next step take out again.
extern double** slotDistance;     // (n+1) x (n+1)
extern double* slotOffset;        // n+1
extern int* slotNodeIndex;        // n+1: the node index of each slot's node
extern double** slotPathVariance; // (n+1) x (n+1)
extern int PARKED_SLOT;

// Distance between the nodes in active slots i and j, and the offset of slot i's node.
inline double slotD(int i, int j) {
    return slotDistance[i][j];
}
inline double slotC(int i) {
    return slotOffset[i];
}

} // namespace wnj

#endif
