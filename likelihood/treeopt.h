// Residue states of the inner nodes of a site's tree, and a sideways drawing of the tree.
#ifndef CORE_TREEOPT_H
#define CORE_TREEOPT_H

// Per record 0..DIM-1: the state probabilities of the inner records seqNum+1..2*seqNum-2,
// rows 1..seqLength+1 (sites), columns 1..21 (residues 1..20 used); null for the other
// records. Allocated, cleared, on first use for the alignment in node.
extern double*** nodeProb;

// Allocates nodeProb, cleared, unless it already belongs to the alignment in node; the tables
// of an earlier alignment are released.
void allocateNodeProb();

// Drawing flags of print_tree per record and depth, both 0..DIM-1; allocated on first use.
extern int** levelFlag;

// The jointly most probable states of the inner nodes of site's tree at the rate, into
// node[i].code[site] (0 for an inner node pruned from the site's tree). A site left out of
// computation is left alone.
void optTree(int site, double rate);

// The most probable state of each inner node of site's tree by itself, into
// node[i].code[site], with the node's state probabilities in its nodeProb row for the site
// (values below 1e-8 as 0). The site's tree, and with D_A_P_Flag 4 the model, are as before
// on return.
void optTree_Goldstein(int site, double rate);

// Draws the subtree of record k of node sideways into resultFile; k must be a record
// 1..2*seqNum-2.
void print_tree(int k);

#endif
