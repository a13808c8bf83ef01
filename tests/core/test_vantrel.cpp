#include "alignment.h"
#include "alignmentfile.h"
#include "model.h"
#include "numerics/fault.h"
#include "pattern.h"
#include "scratch.h"
#include "settings.h"
#include "settings_reset.h"
#include "sitework.h"
#include "vantrel.h"
#include "wnj/io.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
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
        {{"-O", "-C"}, 2, 0.5, 0, 0},     {{"-C", "-O"}, 0, 0.5, 0, 0},   {{"-M"}, 3, 0.5, 0, 0},
        {{"-V"}, 4, 0.5, 0, 0},           {{"-Oxyz"}, 0, 0.5, 0, 0},      {{"-PS"}, 1, 0.5, 1, 0},
        {{"-PP"}, 1, 0.5, 1, 0},          {{"-PA"}, 1, 0.5, 1, 0},        {{"-PD"}, 1, 0.5, 1, 0},
        {{"-P"}, 1, 0.5, 1, 0},           {{"-E"}, 1, 0.5, 0, 1},         {{"-D", "-R", "-RO"}, 1, 0.5, 0, 0},
        {{"-G", "1"}, 1, 1.0, 0, 0},      {{"-G", "0"}, 1, 0.0, 0, 0},    {{"-G", "0.3"}, 1, 0.3, 0, 0},
        {{"-G", "3"}, 1, 3.0, 0, 0},      {{"-G", "10"}, 1, 10.0, 0, 0},  {{"-G", ".5"}, 1, 0.5, 0, 0},
        {{"-G", "2.5e1"}, 1, 25.0, 0, 0}, {{"-G", "+0.5"}, 1, 0.5, 0, 0},
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

using testsupport::literally;

// The usage text, then one line on what is wrong.
TEST(ParseOptions, RefusalsSayWhatIsWrong) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-i", six, "-G", "abc"}, "-G takes a decimal number, not \"abc\""},
        {{"-i", six, "-G", "0.5x"}, "-G takes a decimal number, not \"0.5x\""},
        {{"-i", six, "-G", "0x10"}, "-G takes a decimal number, not \"0x10\""},
        {{"-i", six, "-G", " 0.5"}, "-G takes a decimal number, not \" 0.5\""},
        {{"-i", six, "-G", ""}, "-G takes a decimal number, not \"\""},
        {{"-i", six, "-G", "1e999"}, "-G takes a decimal number, not \"1e999\""},
        {{"-i", six, "-G", "+-1"}, "-G takes a decimal number, not \"+-1\""},
        {{"-i", six, "-G", "1.5"},
         "-G takes a fraction from 0 to 1 or a number of letters from 3 on, not 1.5"},
        {{"-i", six, "-G", "-1"}, "-G takes a fraction from 0 to 1 or a number of letters from 3 on, not -1"},
        {{"-i", six, "-G", "-O"}, "-G needs a value, not the option -O"},
        {{"-i", six, "-o", "-O"}, "-o needs a value, not the option -O"},
        {{"-i", "-O", "-o", "r.txt"}, "-i needs a value, not the option -O"},
        {{"-i", six, "-t", "-r", "x"}, "-t needs a value, not the option -r"},
        {{"-i", six, "-r", "-o", "x"}, "-r needs a value, not the option -o"},
        {{"-i", six, "-G"}, "-G needs a value"},
        {{"-i", ""}, "-i needs a path, not an empty word"},
        {{"-i", six, "-o", ""}, "-o needs a path, not an empty word"},
        {{"-i", six, "-t", ""}, "-t needs a path, not an empty word"},
        {{"-i", six, "-r", ""}, "-r needs a path, not an empty word"},
        {{"-O"}, "the alignment file (-i) is required"},
        {{"-i", six, "-Z"}, "-Z is not supported"},
        {{"-i", six, "x"}, "x is not an option"},
        {{"-i", six, "-q"}, "-q is not an option"},
    };
    for (const auto& [words, line] : cases)
        EXPECT_EXIT(parseShowingStdout(words), testing::ExitedWithCode(1),
                    "^Usage: dadiverur \\[-O/-C\\].*\ndadiverur: " + literally(line) + "\n$")
            << testing::PrintToString(words);
}

TEST(ParseOptions, OpenFailuresNameThePath) {
    EXPECT_EXIT(parseShowingStdout({"-i", "/nonexistent/a.aln"}), testing::ExitedWithCode(1),
                "^can not open file:/nonexistent/a.aln\n"
                "dadiverur: can not open /nonexistent/a.aln: No such file or directory\n$");
    EXPECT_EXIT(parseShowingStdout({"-o", "/nonexistent/dir/r.txt", "-i", six}), testing::ExitedWithCode(1),
                "^can not open file:/nonexistent/dir/r.txt: No such file or directory\n$");
    std::string dir = testsupport::enterScratchDirectory();
    EXPECT_EXIT(parseShowingStdout({"-o", dir, "-i", six}), testing::ExitedWithCode(1),
                "^can not open file:" + dir + ": Is a directory\n$");
}

// Every process reads the inputs: what is no regular file is refused before it is read, and a
// path that is not there is left to the reader of that input.
TEST(ParseOptions, InputsMustBeRegularFiles) {
    std::string dir = testsupport::enterScratchDirectory();
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    const std::vector<std::string> cases[] = {
        {"-i", "/dev/stdin"},      {"-i", dir},    {"-i", six, "-t", dir}, {"-i", six, "-t", "/dev/null"},
        {"-i", six, "-r", "fifo"}, {"-i", "fifo"},
    };
    for (const auto& words : cases)
        EXPECT_EXIT(parseShowingStdout(words), testing::ExitedWithCode(1),
                    "^" + literally(words.back()) +
                        " is not a regular file; dadiverur reads its inputs on every process\n$")
            << testing::PrintToString(words);
    parse({"-i", six, "-t", "missing.tre", "-r", "missing.txt"});
    EXPECT_EQ(treePath, "missing.tre");
    resetSettings();
}

TEST(ParseOptions, OnlyRankZeroOpensTheResultFile) {
    std::string path = testing::TempDir() + "rank1_result.txt";
    std::remove(path.c_str());
    resetSettings();
    jobSize = 2;
    jobRank = 1;
    parseAsIs({"-o", path, "-i", six});
    EXPECT_NE(access(path.c_str(), F_OK), 0);
    EXPECT_NE(access((path + ".partial").c_str(), F_OK), 0);
    resetSettings();
}

// In a job, rank 0 writes the result into the partial file, which takes the -o path only when
// the job ends well.
class RunFiles : public testing::Test {
  protected:
    void SetUp() override {
        resetSettings();
        dir = testsupport::enterScratchDirectory();
        jobSize = 2;
    }
    void TearDown() override { resetSettings(); }

    // The job's result text, written, closed and given its name as at a good end.
    static void finishWith(const char* text) {
        std::fputs(text, resultFile);
        closeResultFile();
        finishResultFile();
    }

    std::string dir;
};

TEST_F(RunFiles, TheEarlierResultStaysUntilTheJobEndsWell) {
    std::ofstream("r.txt") << "earlier result\n";
    chmod("r.txt", 0640);
    std::ofstream("r.txt.partial") << "what a failed job left\n";
    parseAsIs({"-i", six, "-o", "r.txt"});
    EXPECT_EQ(partialResultPath, "r.txt.partial");
    std::fputs("new result\n", resultFile);
    std::fflush(resultFile);
    EXPECT_EQ(testsupport::fileText("r.txt"), "earlier result\n");
    EXPECT_EQ(testsupport::fileText("r.txt.partial"), "what a failed job left\n");
    finishWith("");
    EXPECT_EQ(testsupport::fileText("r.txt"), "new result\n");
    // Neither the job's own temporary file nor the older partial one is left.
    EXPECT_EQ(std::system("test \"$(ls)\" = r.txt"), 0);
    struct stat status;
    ASSERT_EQ(stat("r.txt", &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
}

// A job that fails leaves what it had written in the partial file (rank 0's abort and interrupt
// end do so), and the earlier result as it was.
TEST_F(RunFiles, AFailedJobLeavesWhatItWroteInThePartialFile) {
    std::ofstream("r.txt") << "earlier result\n";
    EXPECT_EXIT(
        {
            parseAsIs({"-i", six, "-o", "r.txt"});
            std::fputs("tables so far\n", resultFile);
            std::fflush(resultFile);
            wnj::abandonUnfinishedFiles();
            std::_Exit(1);
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(testsupport::fileText("r.txt"), "earlier result\n");
    EXPECT_EQ(testsupport::fileText("r.txt.partial"), "tables so far\n");
    EXPECT_EQ(std::system("test \"$(ls)\" = \"$(printf 'r.txt\nr.txt.partial')\""), 0);
}

// The longest name a folder takes is a valid -o: the names beside it are cut short to fit.
TEST_F(RunFiles, ANameAsLongAsTheFolderTakesIsWritten) {
    std::string name(255, 'r');
    std::ofstream(name) << "earlier\n";
    parseAsIs({"-i", six, "-o", name});
    EXPECT_EQ(partialResultPath, std::string(247, 'r') + ".partial");
    finishWith("new\n");
    EXPECT_EQ(testsupport::fileText(name), "new\n");
    EXPECT_EQ(std::system(("test \"$(ls)\" = " + name).c_str()), 0);
}

TEST_F(RunFiles, ALinkStillLeadsToTheResult) {
    mkdir("runs", 0755);
    std::ofstream("runs/one.txt") << "earlier\n";
    ASSERT_EQ(symlink("runs/one.txt", "latest.txt"), 0);
    parseAsIs({"-i", six, "-o", "latest.txt"});
    EXPECT_EQ(partialResultPath, dir + "runs/one.txt.partial");
    // The job's own temporary file lies beside the file the link names.
    EXPECT_EQ(std::system("ls runs/one.txt.?????? >/dev/null"), 0);
    finishWith("new\n");
    struct stat status;
    ASSERT_EQ(lstat("latest.txt", &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(testsupport::fileText("runs/one.txt"), "new\n");
}

// A device keeps no earlier result; outside a job no job end would give the file its name.
TEST_F(RunFiles, ADeviceAndARunOutsideAJobAreWrittenInPlace) {
    parseAsIs({"-i", six, "-o", "/dev/null"});
    EXPECT_EQ(partialResultPath, "");
    finishWith("discarded\n");
    resetSettings();
    parseAsIs({"-i", six, "-o", "r.txt"});
    EXPECT_EQ(partialResultPath, "");
    finishWith("in place\n");
    EXPECT_EQ(testsupport::fileText("r.txt"), "in place\n");
}

TEST_F(RunFiles, AResultThatMayNotBeReplacedIsRefused) {
    if (geteuid() == 0) GTEST_SKIP() << "the permissions do not bind the superuser";
    std::ofstream("kept.txt") << "kept\n";
    chmod("kept.txt", 0444);
    EXPECT_EXIT(parseShowingStdout({"-i", six, "-o", "kept.txt"}, false), testing::ExitedWithCode(1),
                "^can not open file:kept.txt: Permission denied\n$");
    EXPECT_NE(access("kept.txt.partial", F_OK), 0);
}

// A built file that could not be created is refused at the start, as its opening would be, and
// not after the distances and the builder.
TEST_F(RunFiles, BuiltFilesThatCouldNotBeCreatedAreRefusedAtTheStart) {
    std::string longName(253, 'a'); // with ".tre", too long a name for its tree file
    testsupport::copyFile(six, "six.aln");
    testsupport::copyFile(six, longName);
    mkdir("six.tre", 0755);
    const std::pair<std::string, std::string> cases[] = {
        {"six.aln", "six.tre could not be open for writing\nwnj::io::openWrite: Is a directory"},
        {longName, longName + ".tre could not be open for writing\nwnj::io::openWrite: File name too long"},
    };
    for (const auto& [alignment, message] : cases)
        EXPECT_EXIT(parseShowingStdout({"-i", alignment, "-o", "r.txt"}, false), testing::ExitedWithCode(1),
                    "^" + message + "\n$");
    rmdir("six.tre");
    mkdir("DISTMATRIX.txt", 0755);
    EXPECT_EXIT(
        parseShowingStdout({"-i", "six.aln", "-o", "r.txt"}, false), testing::ExitedWithCode(1),
        "^can not open file:DISTMATRIX.txt\ndadiverur: can not open DISTMATRIX.txt: Is a directory\n$");
    EXPECT_EQ(
        std::system(("test \"$(ls)\" = \"$(printf 'DISTMATRIX.txt\n" + longName + "\nsix.aln')\"").c_str()),
        0);
}

// Nothing the run writes may be a file it reads, nor a built file the result; the refusal comes
// before anything is written.
TEST_F(RunFiles, OutputsOnInputsAreRefusedBeforeAnythingIsWritten) {
    testsupport::copyFile(six, "six.aln");
    testsupport::copyFile(six, "r.txt.partial");
    std::ofstream("six.tre") << "root probabilities\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-i", "six.aln", "-r", "six.tre", "-o", "r.txt"},
         "The tree file six.tre would overwrite the root-probability file six.tre; rename the "
         "root-probability file or give a tree file with -t"},
        {{"-i", "six.aln", "-r", "./DISTMATRIX.txt"},
         "The distance file DISTMATRIX.txt would overwrite the root-probability file ./DISTMATRIX.txt; "
         "rename the root-probability file or give a tree file with -t"},
        {{"-i", "six.aln", "-o", "six.tre"},
         "The tree file six.tre would overwrite the result file six.tre; choose another result file or give "
         "a tree file with -t"},
        {{"-i", "r.txt.partial", "-t", six, "-o", "r.txt"},
         "The partial result file r.txt.partial (-o) is the alignment file (-i) r.txt.partial; choose "
         "another result file"},
        {{"-i", "six.aln", "-t", six, "-o", "./six", "-r", "six.partial"},
         "The partial result file ./six.partial (-o) is the root-probability file (-r) six.partial; choose "
         "another result file"},
    };
    for (const auto& [words, line] : cases)
        EXPECT_EXIT(parseShowingStdout(words, false), testing::ExitedWithCode(1),
                    "^" + literally(line) + "\n$")
            << testing::PrintToString(words);
    EXPECT_EQ(std::system("test \"$(ls)\" = \"$(printf 'r.txt.partial\nsix.aln\nsix.tre')\""), 0);
    EXPECT_EQ(testsupport::fileText("six.tre"), "root probabilities\n");
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
