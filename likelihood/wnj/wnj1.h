// The builder's entry: from the core's distance matrix to a tree file and the topology of
// the core's node array.
#ifndef WNJ_WNJ1_H
#define WNJ_WNJ1_H

#include "records.h"
#include "wnj/tree.h"

namespace wnj {

// Longest leaf name the builder's names table holds.
constexpr int NAME_TABLE_WIDTH = 20;

// The number of the last node record handed out by the topology copy.
extern int arrange;

// Builds the tree of the n leaves node[1..n] from the distances D[1..n][1..n] (kept by the
// caller) for sequences of length L, writes it to treeFile (not written when treeFile is
// null) and copies it into node[1..2n-2]: the top node n+1 its own parent with length 0 and
// root flag 1, inner records n+2.. in pre-order, every other record's parent and length.
// n >= 3; the leaf names must fit the names table.
void wnj(int n, int L, NODE* node, double** D, const char* treeFile);

// The first of the leaves 1..n whose name is longer than NAME_TABLE_WIDTH; 0 when none is.
int longLeafName(int n, const NODE* node);
// The first of the leaves 1..n whose name holds a character with a meaning in the tree file
// (, ( ) : ; or white space); 0 when none does.
int markupLeafName(int n, const NODE* node);
// No leaf name is too long for the names table or holds such a character.
bool leafNamesFit(int n, const NODE* node);
// Ends the run, naming the sequence, when a leaf name does not fit.
void checkLeafNames(int n, const NODE* node);

// The topology copy: the top of root into record index, and the subtree sub into record
// index, whose inner nodes take the numbers after arrange.
void transfer(int n, int index, NODE* node, const RootNodeT* root);
void transfer1(int n, int index, NODE* node, const _NodeT* sub);

} // namespace wnj

#endif
