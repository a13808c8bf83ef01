// The tree file reader: a Newick tree with a three-way top level into the node array.
#ifndef CORE_TREEFILE_H
#define CORE_TREEFILE_H

#include <initializer_list>

// Reads the unrooted tree into node: leaves 1..seqNum, the top node seqNum+1, the other
// inner nodes numbered from seqNum+2 in the order of their '(' in the file; then sets the
// depths. A tree that is not exactly a tree of the alignment's sequences ends the run with a
// message naming the file and the fault.
void readTree(const char* treefile);

// Depths of record k and of everything below it: 0 at the top node, parent's + 1 below.
void setLevel(int k);

// The depth rule shared by the node array and the per-site trees: a root gets 0 and passes
// on to all its children, any other record its parent's depth + 1, and a record without
// both children is a leaf.
template <typename Record> void setDepths(Record* tree, int k) {
    Record& r = tree[k];
    if (r.isRoot) {
        r.level = 0;
        for (int child : {r.left, r.right, r.third})
            if (child) setDepths(tree, child);
        return;
    }
    r.level = tree[r.parent].level + 1;
    if (r.left == 0 || r.right == 0) return;
    setDepths(tree, r.left);
    setDepths(tree, r.right);
}

#endif
