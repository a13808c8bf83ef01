#include "tree_setup.h"

#include "alignment.h"
#include "linereader.h"
#include "treefile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using testsupport::ExpectedRecord;
using testsupport::expectRecords;
using testsupport::loadSequences;
using testsupport::readTreeText;
using testsupport::writeTreeFile;

namespace {

void setUpFiveSequences() {
    loadSequences({{"a", "A"}, {"b", "R"}, {"c", "N"}, {"d", "D"}, {"e", "C"}});
}

// ((a,b),c,(d,e)): top 6, then 7 = (a,b) and 8 = (d,e) in the order of their '('.
const std::vector<ExpectedRecord> fiveLeafTree = {
    {1, 0, 0, 0, 7, 2, 0, 0, 0.1f}, {2, 0, 0, 0, 7, 2, 0, 0, 0.2f}, {3, 0, 0, 0, 6, 1, 0, 0, 0.3f},
    {4, 0, 0, 0, 8, 2, 0, 0, 0.4f}, {5, 0, 0, 0, 8, 2, 0, 0, 0.5f}, {6, 7, 3, 8, 6, 0, 1, 0, 0.0},
    {7, 1, 2, 0, 6, 1, 0, 0, 0.6f}, {8, 4, 5, 0, 6, 1, 0, 0, 0.7f},
};

void expectFiveLeafTree() {
    expectRecords(node, fiveLeafTree);
    for (int k = 1; k <= 8; k++) EXPECT_EQ(node[k].id, k);
}

TEST(TreeFile, ReadsTheTreeInWhateverLayoutItIsWritten) {
    const std::vector<std::string> layouts = {
        "((a:0.1,b:0.2):0.6,c:0.3,(d:0.4,e:0.5):0.7);",
        "((a:0.1,b:0.2):0.6,c:0.3,(d:0.4,e:0.5):0.7);\n",
        // as the tree builder cuts its lines: after a ')' and before its ':'
        "((a:0.1,b:0.2)\n:0.6,c:0.3,(d:0.4,e:0.5)\n:0.7);\n\n",
        "((a:0.1,b:0.2)\r\n:0.6,c:0.3,\r\n(d:0.4,e:0.5):0.7);\r\n",
        "((a:0.1,b:0.2)\r:0.6,c:0.3,\r(d:0.4,e:0.5):0.7);\r",
        " \n\t( (a:0.1, b:0.2):0.6,\tc:0.3 , (d:0.4,e:0.5) :0.7 ) ;  \n",
    };
    for (const std::string& text : layouts) {
        SCOPED_TRACE(text);
        setUpFiveSequences();
        readTreeText(text);
        expectFiveLeafTree();
    }
}

// Support values and names of inner nodes, quoted names and a length on the top node, as the
// common tree programs write them, and what stands around the tree.
TEST(TreeFile, ReadsTheTreesOfCommonWritersIgnoringLabelsAndTheTopLength) {
    const std::vector<std::string> trees = {
        "((a:0.1,b:0.2)95/100:0.6,c:0.3,(d:0.4,e:0.5)87.5/99:0.7);", // IQ-TREE -alrt with -B
        "((a:0.1,b:0.2)0.950:0.6,c:0.3,(d:0.4,e:0.5)0.731:0.7);",    // FastTree, PhyML
        "((a:0.10000,b:0.20000)0.95:0.60000,c:0.30000,(d:0.40000,e:0.50000):0.70000):0.00000;", // Biopython
        // DendroPy: names quoted, labels quoted or not, the top's length kept
        "(('a':0.1,'b':0.2)'95/100':0.6,'c':0.3,('d':0.4,'e':0.5)node_one:0.7):0.5;",
        "((a:0.1,b:0.2)'x:(1), y''s':0.6,c:0.3,(d:0.4,e:0.5)\n:0.7)'top' :0.5 ;",
        "((a:0.1,b:0.2)\n:0.6,c:0.3,(d:0.4,e:0.5):0.7)top;",
        "tree one = [&U] ((a:0.1,b:0.2):0.6,c:0.3,(d:0.4,e:0.5):0.7);",
        "\n\n[a comment of its own]\n((a:0.1,b:0.2):0.6,c:0.3,(d:0.4,e:0.5):0.7);",
        "\xEF\xBB\xBF((a:0.1,b:0.2):0.6,c:0.3,(d:0.4,e:0.5):0.7);",
        "((a:0.1,b:0.2):0.6,c:0.3,(d:0.4,e:0.5):0.7);,\n , \r\n,,",
    };
    for (const std::string& text : trees) {
        SCOPED_TRACE(text);
        setUpFiveSequences();
        readTreeText(text);
        expectFiveLeafTree();
    }
}

TEST(TreeFile, AQuotedNameIsTheSequenceNameWithinTheQuotes) {
    loadSequences({{"it's", "A"}, {"b/1-20", "R"}, {"'c'", "N"}, {"d", "D"}, {"e", "C"}});
    // A name that is a sequence name as it stands is taken so, quotes and all.
    readTreeText("(('it''s':0.1,'b/1-20':0.2):0.6,'c':0.3,(d:0.4,'e':0.5):0.7);");
    expectFiveLeafTree();
}

TEST(TreeFile, ANameRunsUpToItsColonWhateverItHolds) {
    loadSequences({{"a(1)", "A"}, {"b,2", "R"}, {"c;3", "N"}, {"d)4", "D"}, {"e", "C"}});
    readTreeText("((a(1):0.1,b,2:0.2):0.6,c;3:0.3,(d)4:0.4,e:0.5):0.7);");
    expectFiveLeafTree();
}

TEST(TreeFile, LengthsAreReadInSinglePrecision) {
    setUpFiveSequences();
    readTreeText("((a:0.1,b:2.5e-1):1,c:0,(d:7,e:-0):3);");
    EXPECT_EQ(node[1].length, static_cast<double>(0.1f));
    EXPECT_NEAR(node[1].length, 0.100000001490116, 1e-15);
    EXPECT_EQ(node[2].length, 0.25);
    EXPECT_EQ(node[3].length, 0.0);
    EXPECT_EQ(node[5].length, 0.0);
}

TEST(TreeFile, TakesLengthsUpTo1000) {
    setUpFiveSequences();
    readTreeText("((a:1000,b:1e3):0,c:0,(d:999.9,e:1):1);");
    EXPECT_EQ(node[1].length, 1000.0);
    EXPECT_EQ(node[2].length, 1000.0);
    EXPECT_EQ(node[4].length, static_cast<double>(999.9f));
}

TEST(TreeFile, ReportsProgressAndTakesNamesUpToTheRecordLimit) {
    std::string longest(NODE_NAME_MAX, 'x');
    loadSequences({{longest, "A"}, {"b", "R"}, {"c", "N"}});
    std::string path = writeTreeFile("(" + longest + ":1,b:2,c:3);");
    testing::internal::CaptureStdout();
    readTree(path.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Reading treefile: " + path + "\nFinish reading tree\n");
    EXPECT_EQ(node[4].left, 1);
    EXPECT_EQ(node[1].length, 1.0);
    std::remove(path.c_str());
}

TEST(TreeFile, DepthsFollowTheParents) {
    loadSequences({{"a", "A"}, {"b", "R"}, {"c", "N"}, {"d", "D"}, {"e", "C"}, {"f", "Q"}});
    readTreeText("((((a:1,b:1):1,c:1):1,d:1):1,e:1,f:1);");
    const int expected[] = {0, 4, 4, 3, 2, 1, 1, 0, 1, 2, 3};
    for (int k = 1; k <= 10; k++) EXPECT_EQ(node[k].level, expected[k]) << "record " << k;
    node[8].length = 5; // depths do not depend on lengths
    setLevel(7);
    for (int k = 1; k <= 10; k++) EXPECT_EQ(node[k].level, expected[k]) << "record " << k;
}

struct BadTree {
    std::string text;
    std::string message;
};

const std::string rooted = "the top level has 2 children instead of three: the tree is rooted, and a tree "
                           "for this program is unrooted, with three children at the top";
const std::string resolve =
    "Resolve every node of more than two children into binary nodes \\(three at the "
    "top\\); zero-length branches will do, as lengths below 1e-6 are taken as 1e-6\\.";

TEST(TreeFileDeathTest, RefusesEveryTreeThatIsNotOneOfTheAlignment) {
    const BadTree cases[] = {
        {"((a:1,b:1):1,c:1,(d:1,x:1):1);", "line 1: leaf 'x' is not a sequence of the alignment"},
        {"((a:1,b:1):1,c:1,d:1);", "sequence 'e' of the alignment is not in the tree"},
        {"((a:1,b:1):1,c:1,(d:1,a:1):1);", "leaf 'a' appears more than once"},
        {"((a:1,b:1):1,(c:1,d:1):1);", "the top level has 2 children instead of three"},
        {"((a:1,b:1):1,c:1,d:1,e:1);", "the top level has more than three children"},
        {"((a:1,b:1,c:1):1,d:1,e:1);", "an inner node has more than two children"},
        {"((a:1):1,b:1,c:1,(d:1,e:1):1);", "an inner node has 1 child instead of two"},
        {"(():1,a:1,b:1,c:1,(d:1,e:1):1);", "an inner node has 0 children instead of two"},
        {"((a:1,b):1,c:1,(d:1,e:1):1);", "leaf 'b' has no ':' and branch length"},
        {"((a:1,b:x):1,c:1,(d:1,e:1):1);", "no branch length after ':' of leaf 'b'"},
        {"((a:1,b:nan):1,c:1,(d:1,e:1):1);", "no branch length after ':' of leaf 'b'"},
        {"((a:1,b:1e99):1,c:1,(d:1,e:1):1);", "branch length '1e99' of leaf 'b' is out of range"},
        {"((a:1,b:1),c:1,(d:1,e:1):1);", "an inner node has no ':' and branch length after its '\\)'"},
        // A label stands right after its ')'; a word after a blank is none.
        {"((a:1,b:1) c:1,d:1,e:1);", "an inner node has no ':' and branch length after its '\\)'"},
        {"((a:1,b:1)90 x:1,c:1,(d:1,e:1):1);", "an inner node has no ':' and branch length"},
        {"((a:1,b:1)'90:1,c:1,(d:1,e:1):1);",
         "a quoted label after '\\)' has no closing quote: ''90:1,c:1,\\(d:1,e:1\\):\\.\\.\\.'"},
        {"(('a:1,b:1):1,c:1,(d:1,e:1):1);", "a quoted leaf name has no closing quote"},
        {"(('x y':1,b:1):1,c:1,(d:1,e:1):1);", "leaf 'x y' is not a sequence of the alignment"},
        {"(('a'b:1,b:1):1,c:1,(d:1,e:1):1);", "leaf 'a' has no ':' and branch length"},
        {"((a:1,b:1):1,c:1,(d:1,e:1):1);x", "line 1: text after the ';' that ends the tree"},
        {"((a:1,b:1):1,c:1,(d:1,e:1):1);\n(a:1,b:1,c:1);", "line 2: text after the ';'"},
        {"((a:1,b:1):1,c:1,(d:1,e:1):1);,[end]", "line 1: text after the ';'"},
        {"((a:1,b:1):1,c:1,(d:1,e:1):1):0 top;", "expected ';' after the last '\\)', found 't'"},
        {"((a:1,b:1):1,c:1,(d:1,e:1):1):x;", "no branch length after ':' of the top node"},
        {"((a:1,b:1):1,c:1,(d:1,e:1):1):-1;", "negative branch length -1 of the top node"},
        {"((a:1,b:1):1,c:1,(d:1,e:1):1)", "the tree does not end with ';'"},
        {"((a:1,b:1):1,c:1,(d:1,e:1):1;", "';' before every '\\(' is closed"},
        {"((a:1,b:1):1,c:1,\n(d:1,e:1):1\n", "line 2: the tree ends before every '\\(' is closed"},
        // A fault is at its own line, however the lines end, also at the end of the file.
        {"((a:1,b:1):1,c:1,(d:1,e:1):1)\n", "line 1: the tree does not end with ';'"},
        {"((a:1,b:1):1,\rc:1,\r\n(d:1,x:1):1);", "line 3: leaf 'x' is not a sequence"},
        {"((a:1 b:1):1,c:1,(d:1,e:1):1);",
         "line 1: a ',' is missing between two children, before 'b:1\\):1,c:1,\\(d:1,e:1\\)\\.\\.\\.'"},
        {"((a:1,b:1):1\n(c:1,d:1):1,e:1);",
         "line 2: a ',' is missing between two children, before '\\(c:1,d:1\\):1,e:1\\);'"},
        {"((a:1,,b:1):1,c:1,(d:1,e:1):1);", "line 1: a ',' without a child before it"},
        {"(,(a:1,b:1):1,c:1,(d:1,e:1):1);", "a ',' without a child before it"},
        {"((a:1,b:1,):1,c:1,(d:1,e:1):1);", "a ',' without a child after it"},
        // A length reads whole as a decimal number.
        {"((a:1,b:0x1A):1,c:1,(d:1,e:1):1);",
         "no branch length after ':' of leaf 'b': '0x1A' is not a decimal number"},
        {"((a:1,b:1):1,c:1.5e,(d:1,e:1):1);", "leaf 'c': '1.5e' is not a decimal number"},
        {"((a:1,b:1):1,c:1,(d:1,e:2.5mm):1);", "leaf 'e': '2.5mm' is not a decimal number"},
        {"((a:1,b:1):inf,c:1,(d:1,e:1):1);", "after ':' of an inner node: 'inf' is not a decimal number"},
        {"((a:1,b:1):1,c:1,(d:1,e:1):1:2);", "of an inner node: '1:2' is not a decimal number"},
        {"((a:1,b:-0.5):1,c:1,(d:1,e:1):1);", "negative branch length -0.5 of leaf 'b'"},
        {"((a:1,b:1):-1,c:1,(d:1,e:1):1);", "negative branch length -1 of an inner node"},
        {"a:1,b:1;", "no '\\(' found"},
        {"", "no '\\(' found"},
        {"((a:1,:1):1,c:1,(d:1,e:1):1);", "a branch length without a leaf name"},
        {"((a:1,b", "the tree ends inside leaf name 'b'"},
        {"(((((a:1,b:1):1,c:1):1,d:1):1,e:1):1,f:1,g:1);",
         "more inner nodes than a tree of the 5 sequences has"},
        {"((a:1,b:1e20):1,c:1,(d:1,e:1):1);", "line 1: branch length 1e20 of leaf 'b' is longer than 1000"},
        {"((a:1,b:1):1000.1,c:1,\n(d:1,e:1):1);",
         "line 1: branch length 1000.1 of an inner node is longer than 1000"},
        // A rooted tree has one inner node more than an unrooted one: it runs out of them at its
        // last '(' or, with a leaf missing, closes its top level with two children.
        {"(((a:1,b:1):1,c:1):1,(d:1,e:1):1);", rooted},
        {"((a:1,b:1):1,(c:1,(d:1,e:1):1):1);", rooted},
        {"(((a:1,b:1):1,c:1):1,d:1);", rooted},
        // also with labels that hold brackets, which are no part of the tree's shape
        {"((('a':1,b:1)'x)':1,c:1)0.9:1,(d:1,e:1)'(y':1):0;", rooted},
        {"((a:1,b:1,c:1):1,d:1,e:1);", "an inner node has more than two children\n" + resolve},
        {"((a:1,b:1):1,c:1,d:1,e:1);", "the top level has more than three children\n" + resolve},
    };
    for (const BadTree& bad : cases) {
        SCOPED_TRACE(bad.text);
        setUpFiveSequences();
        std::string path = writeTreeFile(bad.text);
        EXPECT_EXIT(readTree(path.c_str()), testing::ExitedWithCode(1),
                    "Error in tree file .*" + bad.message);
        std::remove(path.c_str());
    }
}

TEST(TreeFileDeathTest, RefusesANameLongerThanARecordHolds) {
    setUpFiveSequences();
    std::string path = writeTreeFile("(" + std::string(NODE_NAME_MAX + 1, 'x') + ":1,b:1,c:1,(d:1,e:1):1);");
    EXPECT_EXIT(readTree(path.c_str()), testing::ExitedWithCode(1),
                "Error in tree file .*: leaf name 'x+\\.\\.\\.' is longer than 51 characters");
    std::remove(path.c_str());
}

TEST(TreeFileDeathTest, AFileThatCannotBeOpenedIsNamed) {
    setUpFiveSequences();
    EXPECT_EXIT(readTree("/nonexistent/dir/my.tre"), testing::ExitedWithCode(1),
                "^Data file /nonexistent/dir/my.tre not found\n\nFATAL - execution terminated\n$");
}

// A file without end, or too large for a tree, is refused before it fills the memory.
TEST(TreeFileDeathTest, RefusesWhatIsNoTreeFile) {
    setUpFiveSequences();
    EXPECT_EXIT(readTree("/dev/zero"), testing::ExitedWithCode(1),
                "^Error in tree file /dev/zero, line 1: a NUL byte at column 1: this is not a text file\n$");
    std::string line(1 << 20, ' ');
    std::string text;
    for (std::size_t size = 0; size < MAX_LINE_LENGTH; size += line.size() + 1) text += line + "\n";
    std::string path = writeTreeFile(text);
    EXPECT_EXIT(
        readTree(path.c_str()), testing::ExitedWithCode(1),
        "^Error in tree file .*, line 32: the tree file holds more than 33554432 characters: this is not a "
        "tree file\n$");
    std::remove(path.c_str());
}

} // namespace
