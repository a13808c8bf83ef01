// Test support: a fresh directory of the test's own, made the working directory, for runs
// that write files next to their inputs or into the working directory.
#ifndef TESTS_SUPPORT_SCRATCH_H
#define TESTS_SUPPORT_SCRATCH_H

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <unistd.h>

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

inline void copyFile(const std::string& from, const std::string& to) {
    std::ofstream(to, std::ios::binary) << fileText(from);
}

} // namespace testsupport

#endif
