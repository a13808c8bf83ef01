// The tree file reader: a Newick tree with a three-way top level into the node array.
#ifndef CORE_TREEFILE_H
#define CORE_TREEFILE_H

#include <initializer_list>
#include <vector>

// Reads the unrooted tree into node: leaves 1..seqNum, the top node seqNum+1, the other
// inner nodes numbered from seqNum+2 in the order of their '(' in the file; then sets the
// depths. A tree that is not exactly a tree of the alignment's sequences ends the run with a
// message naming the file and the fault.
void readTree(const char* treefile);

// Depths of record k and of everything below it: 0 at the top node, parent's + 1 below.
void setLevel(int k);

// The depth rule shared by the node array and the per-site trees: a root gets 0 and passes
// on to all its children, any other record its parent's depth + 1, and a record without
// both children is a leaf. Trees may be as deep as they have leaves, so the records still
// to visit are kept on a list of their own rather than on the call stack.
template <typename Record> void setDepths(Record* tree, int k) {
    std::vector<int> pending = {k};
    while (!pending.empty()) {
        Record& r = tree[pending.back()];
        pending.pop_back();
        if (r.isRoot) {
            r.level = 0;
            for (int child : {r.third, r.right, r.left})
                if (child) pending.push_back(child);
            continue;
        }
        r.level = tree[r.parent].level + 1;
        if (r.left == 0 || r.right == 0) continue;
        pending.push_back(r.right);
        pending.push_back(r.left);
    }
}

#endif
