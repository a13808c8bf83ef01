// Test helpers: an alignment written to a scratch file, and the reader run on it with the
// result stream caught in a temporary file.
#ifndef TESTS_SUPPORT_ALIGNMENTFILE_H
#define TESTS_SUPPORT_ALIGNMENTFILE_H

#include "alignment.h"
#include "settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

// Writes text to a new file in the test scratch directory and returns its path.
inline std::string writeAlignmentFile(const std::string& text) {
    // Unique across the test processes that CTest runs side by side.
    std::string path = testing::TempDir() + "alignmentXXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) ADD_FAILURE() << "cannot create " << path;
    close(fd);
    std::ofstream(path) << text;
    return path;
}

// Runs readali and searchGap on a file; the input table goes to a temporary file.
inline void loadAlignment(const std::string& path) {
    resultFile = std::tmpfile();
    readali(path.c_str());
    searchGap();
}

inline void loadAlignmentText(const std::string& text) {
    loadAlignment(writeAlignmentFile(text));
}

// Everything written to resultFile so far.
inline std::string resultText() {
    std::fflush(resultFile);
    std::rewind(resultFile);
    std::string text;
    for (int c; (c = std::fgetc(resultFile)) != EOF;) text += static_cast<char>(c);
    return text;
}

#endif
