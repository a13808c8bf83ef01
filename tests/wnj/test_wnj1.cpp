#include "wnj/io.h"
#include "wnj/matrix.h"
#include "wnj/tree.h"
#include "wnj/wnj1.h"

#include "alignment.h"
#include "numerics/matrixalgebra.h"
#include "pattern.h"
#include "scratch.h"
#include "smallstack.h"
#include "treefile.h"
#include "wnjtrees.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using wnjtest::Shape;

// A node array of the named leaves with every record cleared, as the alignment reader
// leaves it.
std::vector<NODE> leafRecords(const std::vector<std::string>& names) {
    int n = static_cast<int>(names.size());
    std::vector<NODE> records(2 * n - 1);
    for (int i = 1; i <= n; i++) std::strcpy(records[i].name, names[i - 1].c_str());
    for (int k = 0; k < 2 * n - 1; k++) records[k].id = k;
    return records;
}

std::vector<std::string> leafNames(int n) {
    std::vector<std::string> names;
    for (int i = 1; i <= n; i++) names.push_back("seq" + std::to_string(i));
    return names;
}

// The builder's 0-based distances as the core's matrix 1..n x 1..n.
double** coreMatrix(double** D, int n) {
    double** m = dmatrix(1, n, 1, n);
    for (int i = 1; i <= n; i++)
        for (int j = 1; j <= n; j++) m[i][j] = D[i - 1][j - 1];
    return m;
}

// Runs the builder with its progress line kept off the test output.
void runWnj(int n, std::vector<NODE>& records, double** D, const char* treeFile) {
    testing::internal::CaptureStdout();
    wnj::wnj(n, 300, records.data(), D, treeFile);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "finish wnj and return\n");
}

// The path length between two records through the parent fields; -1 when the parents do
// not lead to a common ancestor.
double pathLength(const std::vector<NODE>& records, int a, int b) {
    std::vector<double> up(records.size(), -1.0);
    double sum = 0.0;
    for (int k = a, steps = 0; steps < static_cast<int>(records.size()); k = records[k].parent, steps++) {
        up[k] = sum;
        if (records[k].parent == k) break;
        sum += records[k].length;
    }
    sum = 0.0;
    for (int k = b, steps = 0; steps < static_cast<int>(records.size()); k = records[k].parent, steps++) {
        if (k <= 0 || k >= static_cast<int>(records.size())) return -1.0;
        if (up[k] >= 0) return up[k] + sum;
        sum += records[k].length;
    }
    return -1.0;
}

// The shape the core relies on: the top its own parent with three children, inner records
// numbered in pre-order (the top's left, third, right; below, left before right), every
// other record the child of its parent, and the leaves childless.
void expectHandOverShape(const std::vector<NODE>& records, int n) {
    const NODE& top = records[n + 1];
    EXPECT_EQ(top.parent, n + 1);
    EXPECT_EQ(top.isRoot, 1);
    EXPECT_EQ(top.length, 0.0);
    int next = n + 2;
    std::function<void(int)> walk = [&](int k) {
        ASSERT_GT(k, 0);
        if (k <= n) return;
        EXPECT_EQ(k, next++) << "inner records out of pre-order";
        walk(records[k].left);
        walk(records[k].right);
    };
    for (int child : {top.left, top.third, top.right}) walk(child);
    EXPECT_EQ(next, 2 * n - 1) << "not every inner record was used";
    for (int k = 1; k <= 2 * n - 2; k++) {
        if (k == n + 1) continue;
        SCOPED_TRACE("record " + std::to_string(k));
        const NODE& parent = records[records[k].parent];
        int links = (parent.left == k) + (parent.right == k) + (parent.third == k);
        EXPECT_EQ(links, 1);
        if (k <= n) {
            EXPECT_EQ(records[k].left, 0);
            EXPECT_EQ(records[k].right, 0);
        }
        EXPECT_EQ(records[k].third, 0);
    }
}

TEST(HandOver, ParentsAndLengthsReproduceTheBuiltTree) {
    unsigned seed = 100;
    for (int n : {3, 4, 5, 12, 40})
        for (Shape shape : {Shape::Random, Shape::Caterpillar, Shape::Balanced}) {
            SCOPED_TRACE(std::to_string(n) + " leaves, seed " + std::to_string(seed));
            wnjtest::Tree t = wnjtest::randomTree(n, shape, 0.01, 0.4, seed++);
            double** D0 = wnjtest::additiveDistances(t);
            double** D = coreMatrix(D0, n);
            std::vector<NODE> records = leafRecords(leafNames(n));
            runWnj(n, records, D, nullptr);
            expectHandOverShape(records, n);
            for (int a = 1; a <= n; a++)
                for (int b = 1; b < a; b++)
                    EXPECT_NEAR(pathLength(records, a, b), D[a][b], 1e-9) << a << "-" << b;
            // The matrix stays the caller's, untouched.
            for (int a = 1; a <= n; a++)
                for (int b = 1; b <= n; b++) ASSERT_EQ(D[a][b], D0[a - 1][b - 1]);
            free_dmatrix(D, 1, n, 1, n);
            wnj::freeMatrix(D0);
        }
}

TEST(HandOver, LeavesAreFoundByExactNameWhateverTheirOrder) {
    // Names that differ only in case stay distinct; 20 characters fit the names table.
    std::vector<std::string> names = {"ab", "AB", "aB", "twentycharacterslong", "Ab"};
    wnjtest::Tree t = wnjtest::randomTree(5, Shape::Random, 0.05, 0.3, 7);
    double** D0 = wnjtest::additiveDistances(t);
    double** D = coreMatrix(D0, 5);
    std::vector<NODE> records = leafRecords(names);
    runWnj(5, records, D, nullptr);
    expectHandOverShape(records, 5);
    for (int a = 1; a <= 5; a++)
        for (int b = 1; b < a; b++) EXPECT_NEAR(pathLength(records, a, b), D[a][b], 1e-9);
    free_dmatrix(D, 1, 5, 1, 5);
    wnj::freeMatrix(D0);
}

TEST(HandOver, NamesTooLongForTheNamesTableAreRefusedNamingTheSequence) {
    std::vector<NODE> records = leafRecords({"a", "twentyonecharacters!!", "c"});
    EXPECT_EQ(wnj::longLeafName(3, records.data()), 2);
    double** D = dmatrix(1, 3, 1, 3);
    for (int i = 1; i <= 3; i++)
        for (int j = 1; j <= 3; j++) D[i][j] = i == j ? 0.0 : 0.1;
    EXPECT_EXIT(wnj::wnj(3, 10, records.data(), D, nullptr), testing::ExitedWithCode(1),
                "Sequence 2 \\(twentyonecharacters!!\\): the name has 21 characters, but a tree can be built "
                "only for names of at most 20");
    free_dmatrix(D, 1, 3, 1, 3);
}

using testsupport::literally;

TEST(HandOver, NamesTheTreeFileCannotHoldAreRefusedNamingTheSequence) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a,b", "','"}, {"a(b", "'('"},         {"a)b", "')'"},         {"a:b", "':'"},
        {"a;b", "';'"}, {"a b", "white space"}, {"a\tb", "white space"}};
    double** D = dmatrix(1, 3, 1, 3);
    for (int i = 1; i <= 3; i++)
        for (int j = 1; j <= 3; j++) D[i][j] = i == j ? 0.0 : 0.1;
    for (const auto& [name, shown] : cases) {
        SCOPED_TRACE(name);
        std::vector<NODE> records = leafRecords({"a", "b", name});
        EXPECT_EQ(wnj::markupLeafName(3, records.data()), 3);
        EXPECT_FALSE(wnj::leafNamesFit(3, records.data()));
        EXPECT_EXIT(wnj::wnj(3, 10, records.data(), D, nullptr), testing::ExitedWithCode(1),
                    "^Sequence 3 \\(" + literally(name) + "\\): the name holds " + literally(shown) +
                        ", but the names of a built tree file cannot hold");
    }
    std::vector<NODE> records = leafRecords({"a-b_c.d|e", "[x]", "'q'"});
    EXPECT_TRUE(wnj::leafNamesFit(3, records.data()));
    free_dmatrix(D, 1, 3, 1, 3);
}

// ---- the tree file ------------------------------------------------------------------------

std::string printed(const std::function<void(FILE*)>& write) {
    FILE* file = std::tmpfile();
    write(file);
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

wnj::_NodeT* leaf(const char* name, double length) {
    wnj::_NodeT* node = wnj::createNode();
    node->name = const_cast<char*>(name);
    node->length = length;
    return node;
}

wnj::_NodeT* pair(wnj::_NodeT* child1, wnj::_NodeT* child2, double length) {
    wnj::_NodeT* node = wnj::createNode();
    node->child1 = child1;
    node->child2 = child2;
    node->name = child1->name;
    node->length = length;
    return node;
}

wnj::RootNodeT* top(wnj::_NodeT* child0, wnj::_NodeT* child1, wnj::_NodeT* child2) {
    wnj::RootNodeT* root = wnj::createRootNode();
    root->child0 = child0;
    root->child1 = child1;
    root->child2 = child2;
    return root;
}

TEST(TreeText, ChildrenInReverseOrderLengthsWithSixDecimalsAndAnEmptyLastLine) {
    wnj::RootNodeT* root =
        top(leaf("d", 0.5), pair(leaf("b", 0.2), leaf("c", 1.0 / 3.0), 0.4), leaf("a", 0.1));
    EXPECT_EQ(printed([&](FILE* f) { wnj::printTree(f, root); }),
              "(a:0.100000,(c:0.333333,b:0.200000):0.400000,d:0.500000);\n\n");
    wnj::deleteTree(root);
}

TEST(TreeText, LongLinesAreCutAfterTheirLastComma) {
    // Each leaf piece has 29 characters: the third one takes the pending line to 90.
    const char* a = "aaaaaaaaaaaaaaaaaaaa";
    const char* b = "bbbbbbbbbbbbbbbbbbbb";
    const char* c = "cccccccccccccccccccc";
    wnj::RootNodeT* root = top(leaf(c, 3.0), leaf(b, 2.0), leaf(a, 1.0));
    EXPECT_EQ(printed([&](FILE* f) { wnj::printTree(f, root); }),
              std::string("(") + a + ":1.000000," + b + ":2.000000,\n" + c + ":3.000000);\n\n");
    wnj::deleteTree(root);
}

TEST(WrapPrint, CutsOnceAtTheLastCommaElseBracketAndNeverInsideAWord) {
    const std::string word75(75, 'w'), word90(90, 'y');
    struct Case {
        const char* what;
        std::vector<std::string> pieces;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"short text: one line", {"(a:1", ",", "b:2);\n"}, "(a:1,b:2);\n\n"},
        {"the last comma wins", {"a,b,", word75 + ",cc"}, "a,b," + word75 + ",\ncc\n"},
        {"no comma: the last ')'", {"(" + word75, ")):0.5"}, "(" + word75 + "))\n:0.5\n"},
        {"no comma nor ')': after the last '('", {"((", word90}, "((\n" + word90 + "\n"},
        {"no place to cut: the line stays whole", {word90, ":1.5"}, word90 + ":1.5\n"},
        {"a line longer than any fixed buffer", {word90, word90, ",z"}, word90 + word90 + ",\nz\n"},
        {"one cut per piece", {word90 + "," + word90 + ",", "q"}, word90 + "," + word90 + ",\nq\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string text = printed([&](FILE* f) {
            for (const std::string& piece : c.pieces) wnj::wrapPrint(f, piece.c_str());
            wnj::wrapPrint(f, nullptr);
        });
        EXPECT_EQ(text, c.expected);
    }
}

TEST(WrapPrint, MoveMemRefusesToMoveTowardsTheEnd) {
    char text[] = "abcdef";
    wnj::moveMem(text, text + 2, 4);
    EXPECT_STREQ(text, "cdefef");
    EXPECT_EXIT(wnj::moveMem(text + 2, text, 2), testing::ExitedWithCode(1),
                "^ALGORITHM ERROR\nCan not call moveMem with overlapping blockswhere src is less than "
                "destination\nwnj:tree:moveMem\n$");
}

// The tree file of a built tree read back by the tree reader into a fresh node array.
TEST(TreeFile, ReadsBackToTheSameTopologyAndLengths) {
    std::string dir = testsupport::enterScratchDirectory();
    unsigned seed = 300;
    for (int n : {4, 9, 60}) {
        SCOPED_TRACE(std::to_string(n) + " leaves");
        wnjtest::Tree t = wnjtest::randomTree(n, Shape::Random, 0.001, 0.9, seed++);
        double** D0 = wnjtest::additiveDistances(t);
        double** D = coreMatrix(D0, n);
        std::vector<std::string> names = leafNames(n);
        names[0] = "twentycharacterslong";
        std::vector<NODE> built = leafRecords(names);
        std::string path = dir + "built" + std::to_string(n) + ".tre";
        runWnj(n, built, D, path.c_str());

        std::string text = testsupport::fileText(path);
        ASSERT_GE(text.size(), 4u);
        EXPECT_EQ(text.substr(text.size() - 4), ");\n\n");
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = text.substr(start, end - start);
            if (line.empty() || line.back() == ';') continue;
            // A cut line crossed 80 characters and ends at a comma (or a bracket).
            EXPECT_TRUE(line.back() == ',' || line.back() == ')') << line;
        }
        if (n == 60) {
            EXPECT_GT(std::count(text.begin(), text.end(), '\n'), 10);
        }

        std::vector<NODE> read = leafRecords(names);
        seqNum = n;
        node = read.data();
        testing::internal::CaptureStdout();
        readTree(path.c_str());
        testing::internal::GetCapturedStdout();
        for (int k = 1; k <= 2 * n - 2; k++) {
            SCOPED_TRACE("record " + std::to_string(k));
            EXPECT_EQ(read[k].parent, built[k].parent);
            EXPECT_NEAR(read[k].length, built[k].length, 1e-6);
            if (k != n + 1) {
                EXPECT_EQ(read[k].left, built[k].left);
                EXPECT_EQ(read[k].right, built[k].right);
            }
        }
        // At the top the copy puts child1 into third and child0 into right; the file lists
        // them in that order, which the reader takes as right and third.
        const NODE &r = read[n + 1], &b = built[n + 1];
        EXPECT_EQ(std::multiset<int>({r.left, r.right, r.third}),
                  std::multiset<int>({b.left, b.right, b.third}));
        EXPECT_EQ(r.left, b.left);
        node = nullptr;
        free_dmatrix(D, 1, n, 1, n);
        wnj::freeMatrix(D0);
    }
}

TEST(TreeFile, AFileThatCannotBeCreatedEndsTheRun) {
    std::string dir = testsupport::enterScratchDirectory();
    std::vector<NODE> records = leafRecords({"a", "b", "c"});
    double** D = dmatrix(1, 3, 1, 3);
    for (int i = 1; i <= 3; i++)
        for (int j = 1; j <= 3; j++) D[i][j] = i == j ? 0.0 : 0.1;
    std::string path = dir + "missing/x.tre";
    EXPECT_EXIT(wnj::wnj(3, 10, records.data(), D, path.c_str()), testing::ExitedWithCode(1),
                "^" + path +
                    " could not be open for writing\nwnj::io::openWrite: No such file or directory\n$");
    free_dmatrix(D, 1, 3, 1, 3);
}

// ---- file helpers -------------------------------------------------------------------------

TEST(WholeFile, TakesItsNameOnlyWhenCompleteSoInterleavedWritersLeaveOneWholeFile) {
    std::string dir = testsupport::enterScratchDirectory();
    std::ofstream("out.txt") << "old text\n";
    wnj::WholeFile longer, shorter;
    ASSERT_TRUE(longer.open("out.txt"));
    ASSERT_TRUE(shorter.open("out.txt"));
    std::fputs("a longer text, written first\n", longer.stream());
    EXPECT_EQ(testsupport::fileText("out.txt"), "old text\n");
    ASSERT_TRUE(longer.close());
    EXPECT_EQ(testsupport::fileText("out.txt"), "a longer text, written first\n");
    std::fputs("short\n", shorter.stream());
    ASSERT_TRUE(shorter.close());
    EXPECT_EQ(testsupport::fileText("out.txt"), "short\n");
    // Nothing beside it, and the permissions of a file made the ordinary way.
    EXPECT_EQ(std::system("test \"$(ls)\" = out.txt"), 0);
    mode_t mask = umask(022);
    wnj::WholeFile file;
    ASSERT_TRUE(file.open("new.txt"));
    ASSERT_TRUE(file.close());
    umask(mask);
    struct stat status;
    ASSERT_EQ(stat("new.txt", &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
}

TEST(WholeFile, FailsAsOpeningThePathWouldAndLeavesNothingBehind) {
    std::string dir = testsupport::enterScratchDirectory();
    wnj::WholeFile file;
    EXPECT_FALSE(file.open("missing/x.txt"));
    EXPECT_EQ(errno, ENOENT);
    mkdir("folder", 0755);
    EXPECT_FALSE(file.open("folder"));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(std::system("test \"$(ls)\" = folder"), 0);
}

// A process ended during the writing (a fault, an interrupt) leaves no temporary file behind,
// nor does a file dropped unfinished; a finished file stays.
TEST(WholeFile, NoUnfinishedFileIsLeftBehind) {
    std::string dir = testsupport::enterScratchDirectory();
    wnj::WholeFile finished, interrupted;
    {
        wnj::WholeFile dropped;
        ASSERT_TRUE(dropped.open("dropped.txt"));
        ASSERT_TRUE(finished.open("finished.txt"));
        ASSERT_TRUE(interrupted.open("interrupted.txt"));
        std::fputs("never complete\n", dropped.stream());
    }
    ASSERT_TRUE(finished.close());
    wnj::abandonUnfinishedFiles();
    EXPECT_EQ(std::system("test \"$(ls)\" = finished.txt"), 0);
    EXPECT_FALSE(interrupted.close());
    EXPECT_EQ(std::system("test \"$(ls)\" = finished.txt"), 0);
}

// What a job that fails had written stays readable under the name given for it.
TEST(WholeFile, AnUnfinishedFileGivenANameForWhatIsLeftIsKeptThere) {
    std::string dir = testsupport::enterScratchDirectory();
    std::ofstream("out.txt") << "old text\n";
    wnj::WholeFile file;
    ASSERT_TRUE(file.open("out.txt", "out.txt.partial"));
    std::fputs("so far\n", file.stream());
    std::fflush(file.stream());
    wnj::abandonUnfinishedFiles();
    EXPECT_EQ(testsupport::fileText("out.txt"), "old text\n");
    EXPECT_EQ(testsupport::fileText("out.txt.partial"), "so far\n");
    EXPECT_EQ(std::system("test \"$(ls)\" = \"$(printf 'out.txt\nout.txt.partial')\""), 0);
}

// A name as long as its folder takes is written: the names beside it are cut short to fit, never
// inside a character of several bytes.
TEST(WholeFile, ANameAsLongAsTheFolderTakesHasItsCompanionsBesideIt) {
    std::string dir = testsupport::enterScratchDirectory();
    mkdir("sub", 0755);
    std::string name = "sub/" + std::string(255, 'n');
    EXPECT_EQ(wnj::nameBeside(name, ".partial"), "sub/" + std::string(247, 'n') + ".partial");
    EXPECT_EQ(wnj::nameBeside("sub/" + std::string(246, 'a') +
                                  "\xc3\xa9"
                                  "bb",
                              ".partial"),
              "sub/" + std::string(246, 'a') + ".partial");
    EXPECT_EQ(wnj::nameBeside("short.txt", ".partial"), "short.txt.partial");
    wnj::WholeFile file;
    ASSERT_TRUE(file.open(name.c_str()));
    std::fputs("whole\n", file.stream());
    ASSERT_TRUE(file.close());
    EXPECT_EQ(testsupport::fileText(name), "whole\n");
    EXPECT_EQ(std::system("test \"$(ls sub | wc -l)\" = 1"), 0);
}

// What would stop a file from being created is found without creating it.
TEST(WholeFile, WhatCouldNotBeCreatedIsFoundBeforehand) {
    std::string dir = testsupport::enterScratchDirectory();
    mkdir("folder", 0755);
    std::ofstream("plain") << "a file\n";
    const std::pair<std::string, int> cases[] = {{"missing/x", ENOENT},
                                                 {"folder", EISDIR},
                                                 {"plain/x", ENOTDIR},
                                                 {std::string(256, 'n'), ENAMETOOLONG}};
    for (const auto& [path, reason] : cases) {
        EXPECT_FALSE(wnj::canBeCreated(path.c_str())) << path;
        EXPECT_EQ(errno, reason) << path;
    }
    EXPECT_TRUE(wnj::canBeCreated("new.txt"));
    EXPECT_TRUE(wnj::canBeCreated("folder/new.txt"));
    EXPECT_EQ(std::system("test \"$(ls)\" = \"$(printf 'folder\nplain')\""), 0);
}

TEST(PhylipFile, ReadsSquareAndLowerTriangleMatrices) {
    const std::vector<std::string> texts = {
        "3\nA 0 1 2\nB 1 0 3\nC 2 3 0\n",
        "3\nA 0\nB 1 0\nC 2 3 0\n",
        "3\nA\nB 1\nC 2 3\n",
        // a square whose upper triangle disagrees: the lower one counts
        "3\nA 0 9 9\nB 1 0 9\nC 2 3 0\n",
    };
    std::string dir = testsupport::enterScratchDirectory();
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        std::ofstream(dir + "m.phy") << text;
        FILE* file = wnj::openRead((dir + "m.phy").c_str());
        int n = 0;
        double** D = nullptr;
        char** names = nullptr;
        ASSERT_EQ(wnj::readPhylipFile(file, &n, &D, &names), 1);
        std::fclose(file);
        ASSERT_EQ(n, 3);
        EXPECT_STREQ(names[0], "A");
        EXPECT_STREQ(names[2], "C");
        const double expected[3][3] = {{0, 1, 2}, {1, 0, 3}, {2, 3, 0}};
        for (int i = 0; i < 3; i++)
            for (int j = 0; j < 3; j++) EXPECT_EQ(D[i][j], expected[i][j]) << i << "," << j;
        wnj::freeMatrix(D);
        for (int i = 0; i < 3; i++) std::free(names[i]);
        std::free(names);
    }
}

TEST(PhylipFile, FormatErrorsAndOpenFailures) {
    std::string dir = testsupport::enterScratchDirectory();
    auto read = [&](const std::string& text) {
        std::ofstream(dir + "bad.phy") << text;
        FILE* file = wnj::openRead((dir + "bad.phy").c_str());
        int n = 0;
        double** D = nullptr;
        char** names = nullptr;
        return wnj::readPhylipFile(file, &n, &D, &names);
    };
    EXPECT_EQ(read("no count\n"), 0);
    EXPECT_EXIT(read("3\nA 0 1 2\nB\nC 2 3 0\n"), testing::ExitedWithCode(1), "File format error-2\n$");
    EXPECT_EXIT(read("3\nA 0 1 2\n"), testing::ExitedWithCode(1), "File format error-1\n$");
    EXPECT_EXIT(wnj::openRead((dir + "none.phy").c_str()), testing::ExitedWithCode(1),
                "none.phy could not be open for reading\nwnj::io::openRead: No such file or directory\n$");
}

// ---- trees as deep as they have leaves ----------------------------------------------------

// Deep enough that a recursion over it overflows the small stack many times over.
constexpr int DEEP_LEAVES = 12000;

// A caterpillar of the leaves 1..n (named as leafNames has them): the top holds leaf 1
// (child0), leaf 2 (child1) and chain node 1 (child2); chain node j holds leaf j+2 and chain
// node j+1, the chain on the child2 side when j is odd and on the child1 side when it is even;
// the last, n-3, holds leaves n-1 and n. Leaves have length 0.5, chain nodes 0.1. Also its
// Newick text without the line ends.
struct Caterpillar {
    std::vector<std::string> names;
    wnj::RootNodeT* root = nullptr;
    std::string text;

    explicit Caterpillar(int n) : names(leafNames(n)) {
        auto leafOf = [&](int i) { return leaf(names[i - 1].c_str(), 0.5); };
        auto leafText = [&](int i) { return names[i - 1] + ":0.500000"; };
        wnj::_NodeT* chain = pair(leafOf(n - 1), leafOf(n), 0.1);
        std::string inside = "(" + leafText(n) + "," + leafText(n - 1) + "):0.100000";
        std::vector<std::string> before, after;
        for (int j = n - 4; j >= 1; j--) {
            bool onChild2 = j % 2 == 1;
            chain = onChild2 ? pair(leafOf(j + 2), chain, 0.1) : pair(chain, leafOf(j + 2), 0.1);
            before.push_back(onChild2 ? "(" : "(" + leafText(j + 2) + ",");
            after.push_back(onChild2 ? "," + leafText(j + 2) + "):0.100000" : "):0.100000");
        }
        root = top(leafOf(1), leafOf(2), chain);
        text = "(";
        for (auto piece = before.rbegin(); piece != before.rend(); ++piece) text += *piece;
        text += inside;
        for (const std::string& piece : after) text += piece;
        text += "," + leafText(2) + "," + leafText(1) + ");";
    }
};

TEST(DeepTree, TheTreeTextOfADeepCaterpillarIsWrittenOnASmallStack) {
    Caterpillar c(DEEP_LEAVES);
    std::string text;
    testsupport::runOnSmallStack([&] { text = printed([&](FILE* f) { wnj::printTree(f, c.root); }); });
    std::size_t lines = std::count(text.begin(), text.end(), '\n');
    EXPECT_GT(lines, static_cast<std::size_t>(DEEP_LEAVES / 10));
    EXPECT_EQ(text.substr(text.size() - 4), ");\n\n");
    text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
    EXPECT_EQ(text, c.text);
    // Freeing walks the whole tree too, with less stack per level than printing: its stack is
    // smaller still.
    testsupport::runOnSmallStack([&] { wnj::deleteTree(c.root); }, testsupport::SMALL_STACK / 8);
}

TEST(DeepTree, ADeepCaterpillarIsCopiedIntoTheNodeArrayOnASmallStack) {
    const int n = DEEP_LEAVES;
    Caterpillar c(n);
    std::vector<NODE> records = leafRecords(c.names);
    testsupport::runOnSmallStack([&] {
        wnj::arrange = n + 1;
        wnj::transfer(n, n + 1, records.data(), c.root);
    });
    EXPECT_EQ(wnj::arrange, 2 * n - 2);
    const NODE& t = records[n + 1];
    EXPECT_EQ(t.left, n + 2);
    EXPECT_EQ(t.third, 2);
    EXPECT_EQ(t.right, 1);
    EXPECT_EQ(t.parent, n + 1);
    // Chain node j is record n+1+j: the inner records are numbered down the chain.
    int wrong = 0;
    for (int j = 1; j <= n - 4; j++) {
        const NODE& r = records[n + 1 + j];
        int next = n + 2 + j, side = j + 2;
        bool onChild2 = j % 2 == 1;
        wrong += r.left != (onChild2 ? next : side) || r.right != (onChild2 ? side : next);
        wrong += r.parent != n + j || r.length != 0.1;
        wrong += records[side].parent != n + 1 + j || records[side].length != 0.5;
    }
    EXPECT_EQ(wrong, 0);
    const NODE& last = records[2 * n - 2];
    EXPECT_EQ(last.left, n);
    EXPECT_EQ(last.right, n - 1);
    EXPECT_EQ(records[n].parent, 2 * n - 2);
    wnj::deleteTree(c.root);
}

} // namespace
