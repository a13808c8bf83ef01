// Brute-force references: every assignment of residue states to a tree's inner records.
#ifndef TESTS_SUPPORT_ENUMERATION_H
#define TESTS_SUPPORT_ENUMERATION_H

#include <cstddef>
#include <vector>

// Calls visit() once for every assignment of the residues 1..20 to the records listed in
// inner, each assignment written into state (indexed by record).
template <typename Visit>
void forEachAssignment(const std::vector<int>& inner, std::vector<int>& state, Visit&& visit,
                       std::size_t k = 0) {
    if (k == inner.size()) {
        visit();
        return;
    }
    for (int x = 1; x <= 20; x++) {
        state[inner[k]] = x;
        forEachAssignment(inner, state, visit, k + 1);
    }
}

#endif
