// The weighted neighbour-joining loop.
#ifndef WNJ_BUILD_H
#define WNJ_BUILD_H

#include "wnj/state.h"
#include "wnj/tree.h"

namespace wnj {

// An unrooted tree with branch lengths from the 0-based n x n distances D (read only) by
// weighted neighbour-joining; the leaves carry index k and name names[k]. n >= 3. The
// caller owns the tree (deleteTree).
RootNodeT* buildTree(int n, double** D, char** names);

// The steps of buildTree. createWorkingState makes the state with the n leaves active in
// slots 0..n-1; choosePair returns the slot J whose pair (J, q[J]) is joined next;
// joinPair joins the nodes in slots J and M of the i active ones into a node of index
// next; makeTop turns the three active nodes into the top; releaseWorkingState frees the
// state but no node.
void createWorkingState(int n, double** D, char** names);
int choosePair(int i, const int* q, const double* R);
void joinPair(int i, int next, int J, int M, double** b, const double* Z);
RootNodeT* makeTop();
void releaseWorkingState();

// Index of the largest of v[0..n-1], the first on ties.
int maxVector(int n, double* v);

} // namespace wnj

#endif
