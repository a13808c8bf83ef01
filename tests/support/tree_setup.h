// Test support: a small alignment given as (name, letters) pairs and a tree given as text,
// read by the real readers with their progress lines kept off the test output.
#ifndef TESTS_SUPPORT_TREE_SETUP_H
#define TESTS_SUPPORT_TREE_SETUP_H

#include "alignmentfile.h"
#include "treefile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Writes text into a new file of the test's temporary directory and returns its path.
inline std::string writeTreeFile(const std::string& text, const std::string& name = "tree.tre") {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string file = std::string(test->test_suite_name()) + "_" + test->name() + "_" + name;
    for (char& c : file)
        if (c == '/') c = '_';
    std::string path = testing::TempDir() + file;
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fputs(text.c_str(), f);
    std::fclose(f);
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
}

} // namespace testsupport

#endif
