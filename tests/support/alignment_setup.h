// Test support: the stores of the alignment reader, allocated and cleared as the reader
// leaves them, from a few sequences held in memory, with the site flags of searchGap.
#ifndef TESTS_SUPPORT_ALIGNMENT_SETUP_H
#define TESTS_SUPPORT_ALIGNMENT_SETUP_H

#include "alignment.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct AlignmentStores {
    std::vector<NODE> nodes;
    std::vector<std::string> letters;
    std::vector<std::vector<int>> codes;
    std::vector<BranchRecord> branches;
    std::vector<std::vector<SiteTreeNode>> trees;
    std::vector<std::vector<SiteTreeNode>> copies;
    std::vector<SiteTreeNode*> treeList, copyList;
    std::vector<int> roots, gaps;
    std::vector<char> dashes, computed;
    std::vector<double> rates;
};

inline AlignmentStores& stores() {
    static AlignmentStores s;
    return s;
}

// Sets seqNum, seqLength, DIM and every store that readali and searchGap fill, from
// (name, letters) pairs of equal length; records and trees start cleared. Letters are taken
// as given: use upper-case residues and '-'.
inline void setUpAlignment(const std::vector<std::pair<std::string, std::string>>& sequences) {
    AlignmentStores& s = stores();
    s = AlignmentStores{};
    seqNum = static_cast<int>(sequences.size());
    seqLength = static_cast<int>(sequences[0].second.size());
    DIM = 2 * seqNum - 1;
    s.nodes.assign(DIM, NODE{});
    s.letters.assign(DIM, " " + std::string(seqLength, '-'));
    s.codes.assign(DIM, std::vector<int>(seqLength + 1, 0));
    for (int k = 0; k < DIM; k++) {
        if (k >= 1) s.nodes[k].id = k;
        if (k >= 1 && k <= seqNum) {
            std::strcpy(s.nodes[k].name, sequences[k - 1].first.c_str());
            s.letters[k] = " " + sequences[k - 1].second;
            for (int site = 1; site <= seqLength; site++)
                s.codes[k][site] = static_cast<int>(std::strchr(aa, s.letters[k][site]) - aa);
        }
        s.nodes[k].seq = &s.letters[k][0];
        s.nodes[k].code = s.codes[k].data();
    }
    node = s.nodes.data();
    s.branches.assign(2 * seqNum - 2, BranchRecord{});
    branch = s.branches.data();
    s.trees.assign(seqLength + 2, std::vector<SiteTreeNode>(DIM, SiteTreeNode{}));
    s.copies.assign(2, std::vector<SiteTreeNode>(DIM, SiteTreeNode{}));
    for (auto& t : s.trees) s.treeList.push_back(t.data());
    for (auto& t : s.copies) s.copyList.push_back(t.data());
    gapTree = s.treeList.data();
    copyTree = s.copyList.data();
    s.roots.assign(seqLength + 1, 0);
    treeRoot = s.roots.data();
    s.rates.assign(seqLength + 1, 1.0);
    alfa = s.rates.data();
    s.gaps.assign(seqLength + 1, 0);
    s.dashes.assign(seqLength + 1, 0);
    s.computed.assign(seqLength + 1, 0);
    for (int site = 1; site <= seqLength; site++) {
        for (int k = 1; k <= seqNum; k++) s.gaps[site] += s.letters[k][site] == '-';
        s.dashes[site] = s.gaps[site] > 0;
        s.computed[site] = s.gaps[site] > 0 && s.gaps[site] <= seqNum - 3;
    }
    gapNumber = s.gaps.data();
    dashFlag = s.dashes.data();
    calFlag = s.computed.data();
}

} // namespace testsupport

#endif
