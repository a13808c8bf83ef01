// Test support: a small alignment given as (name, letters) pairs and a tree given as text,
// read by the real readers with their progress lines kept off the test output.
#ifndef TESTS_SUPPORT_TREE_SETUP_H
#define TESTS_SUPPORT_TREE_SETUP_H

#include "alignmentfile.h"
#include "sitetree.h"
#include "treefile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <type_traits>
#include <unistd.h>
#include <utility>
#include <vector>

namespace testsupport {

// Writes text into a new file of the temporary directory and returns its path; unique across
// the test processes that run side by side.
inline std::string writeTreeFile(const std::string& text) {
    std::string path = testing::TempDir() + "treeXXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) ADD_FAILURE() << "cannot create " << path;
    close(fd);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// Reads the sequences as one block of an alignment file (readali, searchGap).
inline void loadSequences(const std::vector<std::pair<std::string, std::string>>& sequences) {
    std::string text;
    for (const auto& [name, letters] : sequences) text += name + " " + letters + "\n";
    testing::internal::CaptureStdout();
    loadAlignmentText(text);
    testing::internal::GetCapturedStdout();
}

// Reads the tree given as text, with the reader's progress lines kept off the test output.
inline void readTreeText(const std::string& text) {
    std::string path = writeTreeFile(text);
    testing::internal::CaptureStdout();
    readTree(path.c_str());
    testing::internal::GetCapturedStdout();
    std::remove(path.c_str());
}

// One record of a tree as a test expects it; a level of -1 is not checked, nor the gap flag
// of a node array record.
struct ExpectedRecord {
    int k, left, right, third, parent, level, isRoot, gap;
    double length;
};

template <typename Record>
void expectRecords(const Record* tree, const std::vector<ExpectedRecord>& expected,
                   const std::string& tree_name = "") {
    for (const ExpectedRecord& e : expected) {
        SCOPED_TRACE(tree_name + " record " + std::to_string(e.k));
        const Record& r = tree[e.k];
        EXPECT_EQ(r.left, e.left);
        EXPECT_EQ(r.right, e.right);
        EXPECT_EQ(r.third, e.third);
        EXPECT_EQ(r.parent, e.parent);
        if (e.level >= 0) {
            EXPECT_EQ(r.level, e.level);
        }
        EXPECT_EQ(r.isRoot, e.isRoot);
        if constexpr (!std::is_same_v<Record, NODE>) {
            EXPECT_EQ(r.gap, e.gap);
        }
        EXPECT_DOUBLE_EQ(r.length, e.length);
    }
}

// Path length between two records of a tree, over the parent links (a root is its own
// parent or has parent 0).
template <typename Record> double pathLength(const Record* tree, int from, int to) {
    std::vector<int> above;
    std::vector<double> distance;
    double sum = 0.0;
    for (int k = from;; k = tree[k].parent) {
        above.push_back(k);
        distance.push_back(sum);
        if (tree[k].isRoot) break;
        sum += tree[k].length;
    }
    sum = 0.0;
    for (int k = to;; k = tree[k].parent) {
        for (std::size_t i = 0; i < above.size(); i++)
            if (above[i] == k) return sum + distance[i];
        if (tree[k].isRoot) break;
        sum += tree[k].length;
    }
    ADD_FAILURE() << "records " << from << " and " << to << " are not in one tree";
    return -1.0;
}

// The per-site trees and the branch table of the tree in node, as the start-up makes them.
inline void assignTreesAndBranches() {
    assignTree();
    branchNo = 0;
    assignBranch(seqNum + 1);
}

} // namespace testsupport

#endif
