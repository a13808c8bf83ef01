// The builder's tree: binary nodes made one at a time, and the three-way top of the
// finished unrooted tree.
#ifndef WNJ_TREE_H
#define WNJ_TREE_H

#include <cstdio>

namespace wnj {

struct _NodeT {
    char* name;      // a leaf: its row of the names table; inner node: child1's name
    int index;       // row and column in mD and vC: leaves 0..n-1, joined nodes n, n+1, ...
    double length;   // branch length to the parent
    _NodeT* child1;  // partner from the lower slot; null at a leaf
    _NodeT* child2;  // partner from the higher slot; null at a leaf
    int createIndex; // index given at the join; -1 until then
    int activeCount; // active nodes after the join; -1 until then
};

struct RootNodeT {
    _NodeT* child0;
    _NodeT* child1;
    _NodeT* child2;
};

// A node with no name, index 0, length 0 and no children.
_NodeT* createNode();
// A top with three empty slots.
RootNodeT* createRootNode();
// Frees every node of the tree and the top.
void deleteTree(RootNodeT* root);
// Frees the descendants of node, not node itself.
void deleteNode(_NodeT* node);

// The tree as Newick text: "(" child2 "," child1 "," child0 ");", leaves "name:length",
// inner nodes "(" child2 "," child1 "):length", lengths with six decimals; then an empty line.
void printTree(FILE* file, const RootNodeT* root);
void printBinaryTree(FILE* file, const _NodeT* node);
// Line-wrapped output through one pending line: once it holds 80 characters or more, the
// text up to its last ',' is written as a line (else up to its last ')', else up to its
// last '('); with none of the three the line stays pending, so that no name or number is
// broken. A null text writes the pending line and a line end.
void wrapPrint(FILE* file, const char* text);
// Copies count bytes from src to dst, first byte first; dst must not lie above src.
void moveMem(char* dst, const char* src, int count);

} // namespace wnj

#endif
