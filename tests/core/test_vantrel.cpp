#include "alignment.h"
#include "alignmentfile.h"
#include "model.h"
#include "scratch.h"
#include "settings.h"
#include "vantrel.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

using testsupport::resetSettings;

namespace {

const std::string six = FIXTURES_DIR "/six.aln";

// Runs parseOptions on "dadiverur" followed by the words, on the settings as they stand.
void parseAsIs(const std::vector<std::string>& words) {
    std::vector<std::string> kept{"dadiverur"};
    kept.insert(kept.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (std::string& word : kept) argv.push_back(word.data());
    argv.push_back(nullptr);
    parseOptions(static_cast<int>(kept.size()), argv.data());
}

void parse(const std::vector<std::string>& words) {
    resetSettings();
    parseAsIs(words);
}

// Standard output into the death test's view.
void parseShowingStdout(const std::vector<std::string>& words, bool fresh = true) {
    dup2(2, 1);
    if (fresh) resetSettings();
    parseAsIs(words);
}

struct Parsed {
    std::vector<std::string> words;
    int refine;
    double gap;
    char pseudo;
    char entropy;
};

TEST(ParseOptions, SetsTheSettings) {
    const Parsed cases[] = {
        {{"-O", "-C"}, 2, 0.5, 0, 0}, {{"-C", "-O"}, 0, 0.5, 0, 0},  {{"-M"}, 3, 0.5, 0, 0},
        {{"-V"}, 4, 0.5, 0, 0},       {{"-Oxyz"}, 0, 0.5, 0, 0},     {{"-PS"}, 1, 0.5, 1, 0},
        {{"-PP"}, 1, 0.5, 1, 0},      {{"-PA"}, 1, 0.5, 1, 0},       {{"-PD"}, 1, 0.5, 1, 0},
        {{"-P"}, 1, 0.5, 1, 0},       {{"-E"}, 1, 0.5, 0, 1},        {{"-D", "-R", "-RO"}, 1, 0.5, 0, 0},
        {{"-G", "1"}, 1, 1.0, 0, 0},  {{"-G", "0"}, 1, 0.0, 0, 0},   {{"-G", "0.3"}, 1, 0.3, 0, 0},
        {{"-G", "3"}, 1, 3.0, 0, 0},  {{"-G", "10"}, 1, 10.0, 0, 0}, {{"-G", "many"}, 1, 0.0, 0, 0},
        {{"-G", "-i"}, 1, 0.0, 0, 0},
    };
    for (const Parsed& c : cases) {
        std::vector<std::string> words = c.words;
        words.insert(words.end(), {"-i", six});
        parse(words);
        std::string label = testing::PrintToString(c.words);
        EXPECT_EQ(refineFlag, c.refine) << label;
        EXPECT_EQ(gapForEst, c.gap) << label;
        EXPECT_EQ(pseudoSitePIFlag, c.pseudo) << label;
        EXPECT_EQ(EntropyEstimatedFlag, c.entropy) << label;
        EXPECT_EQ(resultFile, stdout) << label;
        EXPECT_EQ(alignmentPath, six);
    }
}

TEST(ParseOptions, KeepsThePaths) {
    std::string tree(300, 't'), root(300, 'r');
    parse({"-t", tree, "-r", root, "-i", six});
    EXPECT_EQ(treePath, tree);
    EXPECT_EQ(treeFlag, 1);
    EXPECT_EQ(rootProbPath, root);
}

TEST(ParseOptions, UsageErrors) {
    const std::vector<std::string> cases[] = {
        {},
        {"x"},
        {"-i", six, "x"},
        {"-Z"},
        {"-T"},
        {"-G", "1.5"},
        {"-G", "-1"},
        {"-G", "nan"},
        {"-G", "inf"},
        {"-i", six, "-G"},
        {"-i"},
        {"-i", six, "-o"},
        {"-i", six, "-r"},
        {"-i", six, "-t"},
        {"-O"}, // -i is required
    };
    for (const auto& words : cases)
        EXPECT_EXIT(parseShowingStdout(words), testing::ExitedWithCode(1), "^Usage: dadiverur \\[-O/-C\\]")
            << testing::PrintToString(words);
}

TEST(ParseOptions, OpenFailuresNameThePath) {
    EXPECT_EXIT(parseShowingStdout({"-i", "/nonexistent/a.aln"}), testing::ExitedWithCode(1),
                "^can not open file:/nonexistent/a.aln\n$");
    EXPECT_EXIT(parseShowingStdout({"-o", "/nonexistent/dir/r.txt", "-i", six}), testing::ExitedWithCode(1),
                "^can not open file:/nonexistent/dir/r.txt\n$");
}

TEST(ParseOptions, OnlyRankZeroOpensTheResultFile) {
    std::string path = testing::TempDir() + "rank1_result.txt";
    std::remove(path.c_str());
    resetSettings();
    jobSize = 2;
    jobRank = 1;
    parseAsIs({"-o", path, "-i", six});
    EXPECT_NE(access(path.c_str(), F_OK), 0);
    resetSettings();
}

TEST(MainFunction, ReadsTheAlignmentIntoTheResultFile) {
    resetSettings();
    // Without a tree file the run writes the tree next to the alignment and the distances
    // into the working directory.
    std::string dir = testsupport::enterScratchDirectory();
    std::string path = dir + "main_function_result.txt";
    testsupport::copyFile(six, dir + "six.aln");
    std::vector<std::string> words{"dadiverur", "-i", dir + "six.aln", "-o", path};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    main_function(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(seqNum, 6);
    EXPECT_EQ(seqLength, 54);
    EXPECT_EQ(calFlag[16], 1);
    EXPECT_EQ(calFlag[21], 0);
    EXPECT_NE(S_ij, nullptr);
    EXPECT_EQ(node[7].parent, 7); // the built tree's top node
    EXPECT_NE(testsupport::fileText(dir + "six.tre").find(");\n\n"), std::string::npos);
    std::fclose(resultFile);
    std::ifstream written(path);
    std::string table((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    EXPECT_EQ(table.find("The input sequences:\n"), 0u);
    EXPECT_NE(table.find("    6                shark  MKILAVGLLGL"), std::string::npos);
    resetSettings();
}

class ProcessCount : public testing::Test {
  protected:
    void SetUp() override {
        resetSettings();
        loadAlignment(six); // 54 sites
        jobTagLimit = 1 << 20;
    }
    void TearDown() override { resetSettings(); }
};

TEST_F(ProcessCount, AcceptsTwoToSeqLength) {
    for (int size : {2, 54}) {
        jobSize = size;
        checkProcessCount();
    }
    jobSize = 0; // outside a job
    checkProcessCount();
}

TEST_F(ProcessCount, RankZeroRefusesWithTheAllowedRange) {
    for (int size : {1, 55}) {
        jobSize = size;
        EXPECT_EXIT(
            checkProcessCount(), testing::ExitedWithCode(1),
            "^dadiverur: started with " + std::to_string(size) +
                " processes, but this alignment of 54 sites needs 2 to 54 \\(one master and at most one "
                "worker per site\\)\n$");
    }
    jobSize = 2;
    jobTagLimit = 53;
    EXPECT_EXIT(
        checkProcessCount(), testing::ExitedWithCode(1),
        "^dadiverur: the alignment has 54 sites, more than the largest message tag of this MPI library "
        "\\(53\\)\n$");
}

// A shared fault: ranks other than 0 first wait for rank 0 to end the job, and report it
// themselves only when that end does not come (here the hook returns at once).
TEST_F(ProcessCount, OtherRanksLeaveTheReportToRankZero) {
    jobSize = 1000;
    jobRank = 3;
    awaitJobEndHook = [] { std::fprintf(stderr, "waiting for rank 0\n"); };
    EXPECT_EXIT(checkProcessCount(), testing::ExitedWithCode(1),
                "^waiting for rank 0\ndadiverur: started with 1000 processes");
    EXPECT_EXIT(parseShowingStdout({"-Z"}, false), testing::ExitedWithCode(1),
                "^waiting for rank 0\nUsage: dadiverur");
    std::string path = writeAlignmentFile("a AC\nb AC\n");
    EXPECT_EXIT(
        {
            resultFile = std::tmpfile();
            readali(path.c_str());
        },
        testing::ExitedWithCode(1), "^waiting for rank 0\nToo few sequences");
}

} // namespace
