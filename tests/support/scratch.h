// Test support: a fresh directory of the test's own, made the working directory, for runs
// that write files next to their inputs or into the working directory, and the text of what
// they wrote.
#ifndef TESTS_SUPPORT_SCRATCH_H
#define TESTS_SUPPORT_SCRATCH_H

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace testsupport {

// Unique across the test processes that CTest runs side by side; returns the path with a
// closing '/'.
inline std::string enterScratchDirectory() {
    std::string dir = testing::TempDir() + "scratchXXXXXX";
    if (!mkdtemp(dir.data())) ADD_FAILURE() << "cannot create " << dir;
    if (chdir(dir.c_str()) != 0) ADD_FAILURE() << "cannot enter " << dir;
    return dir + "/";
}

inline std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The lines of a text without their line ends; a last line without one counts too.
inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

inline void copyFile(const std::string& from, const std::string& to) {
    std::ofstream(to, std::ios::binary) << fileText(from);
}

} // namespace testsupport

#endif
