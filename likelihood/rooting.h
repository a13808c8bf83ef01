// Rooting the unrooted tree for the column simulations.
#ifndef CORE_ROOTING_H
#define CORE_ROOTING_H

// Roots tree 0 of gapTree on the branch that splits the leaves most evenly among those whose
// point of least root-to-leaf variance lies inside them, at that point. Fills the leaf counts
// of branch, prints one line per such branch, writes the chosen point into resultFile and
// keeps the rooted tree (root record 0) in copyTree[0]. Takes time linear in the leaves, apart
// from walking every leaf's path for the few branches whose values lie within rounding of a
// limit or of a printed digit (and for the chosen one). Where every inner branch has length 0
// (identical sequences, a resolved star) each leaf's path length is known without a walk: the
// ties there, which may be every branch, take time linear in the leaves each, and none at all
// when every leaf lies at the same distance.
void findMidpoint();

// Makes the inner node k the root of tree s, turning the branches on its path to the old root.
void changeRoot(int s, int k);

#endif
