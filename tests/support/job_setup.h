// Test support: the whole preparation of a job on a fixture of fixtures/job, as every process
// of the job runs it, with its progress lines kept off the test output.
#ifndef TESTS_SUPPORT_JOB_SETUP_H
#define TESTS_SUPPORT_JOB_SETUP_H

#include "settings_reset.h"

#include "vantrel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testsupport {

// Runs the start-up on NAME.aln and NAME.tre with the further options, from the settings a
// process starts with; the result file is one of the test's own, whose path is returned.
inline std::string prepareFixture(const char* name, std::vector<std::string> options = {}) {
    resetSettings();
    std::string dir = std::string(FIXTURES_DIR) + "/job/";
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string result = testing::TempDir() + test->test_suite_name() + "_" + test->name() + ".result";
    std::vector<std::string> words = {"dadiverur", "-i",  dir + name + ".aln", "-t", dir + name + ".tre",
                                      "-o",        result};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    testing::internal::CaptureStdout();
    main_function(static_cast<int>(argv.size()), argv.data());
    testing::internal::GetCapturedStdout();
    return result;
}

} // namespace testsupport

#endif
