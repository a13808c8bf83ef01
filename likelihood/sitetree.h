// The per-site trees and the branch table of the unrooted tree.
#ifndef CORE_SITETREE_H
#define CORE_SITETREE_H

#include "records.h"

extern int branchNo; // branches numbered so far in branch; 2*seqNum-3 once the table stands

// Copies the tree in node into every tree of gapTree: tree 0 whole, each site's tree pruned
// of its gapped leaves; a site with too few letters is left out (treeRoot 0).
void assignTree();

// Prunes tree s of the leaves gapped at site s and returns the root of what remains.
int rebuildTree(int s);

// Once a child of inner record j of tree t is flagged, j is flagged too and both its child
// slots hold emptied; a child still unflagged takes j's place below j's parent with both
// lengths.
void pruneInner(SiteTreeNode* t, int j, int emptied);

// Depths in tree s from record k down.
void setRLevel(int s, int k);

// Numbers the branches below record k of node in pre-order; start with branchNo 0.
void assignBranch(int k);

#endif
