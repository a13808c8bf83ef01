// The builder's tree: binary nodes made one at a time, and the three-way top of the
// finished unrooted tree.
#ifndef WNJ_TREE_H
#define WNJ_TREE_H

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

} // namespace wnj

#endif
