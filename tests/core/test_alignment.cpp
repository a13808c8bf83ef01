#include "alignment.h"
#include "alignmentfile.h"
#include "linereader.h"
#include "settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

// Two blocks, a conservation line under each, start numbers in the first block.
const char* twoBlocks = "CLUSTAL W (1.83) multiple sequence alignment\n"
                        "\n"
                        "seqA      1 MKVLA\n"
                        "seqB      1 MKILA\n"
                        "seqC      1 MRVL-\n"
                        "            **:* \n"
                        "\n"
                        "\n"
                        "seqA      GW\n"
                        "seqB      GW\n"
                        "seqC      GF\n"
                        "            *.\n";

std::string column(int site) {
    std::string letters;
    for (int i = 1; i <= seqNum; i++) letters += node[i].seq[site];
    return letters;
}

TEST(Readali, ReadsBlocksIntoTheNodeArray) {
    loadAlignmentText(twoBlocks);
    EXPECT_EQ(seqNum, 3);
    EXPECT_EQ(seqLength, 7);
    EXPECT_EQ(DIM, 5);
    EXPECT_STREQ(node[1].name, "seqA");
    EXPECT_STREQ(node[3].name, "seqC");
    EXPECT_STREQ(node[2].seq, " MKILAGW");
    EXPECT_EQ(astart[0], 1);
    EXPECT_EQ(alen[2], 6);
    EXPECT_EQ(aname[3], nullptr);
    for (int i = 1; i < DIM; i++) EXPECT_EQ(node[i].id, i);
    EXPECT_EQ(node[1].code[2], 12); // K
    EXPECT_EQ(node[3].code[5], 0);
}

TEST(Readali, StoresStartCleared) {
    loadAlignmentText(twoBlocks);
    for (int i = 0; i < DIM; i++) {
        const NODE& r = node[i];
        EXPECT_EQ(r.level | r.left | r.right | r.isRoot | r.third | r.parent, 0) << i;
        EXPECT_EQ(r.length, 0.0);
        EXPECT_EQ(r.seq[0], ' ');
        EXPECT_EQ(r.seq[seqLength + 1], '\0');
        if (i == 0 || i > seqNum) {
            EXPECT_STREQ(r.name, "");
        }
    }
    EXPECT_EQ(node[0].id, 0);
    // Every tree of both lists, one run of records each.
    EXPECT_EQ(&gapTree[1][0], &gapTree[0][DIM - 1] + 1);
    auto cleared = [](const SiteTreeNode& r) {
        static const SiteTreeNode zero{};
        bool zeroVector = std::all_of(r.vec, r.vec + 21, [](double x) { return x == 0.0; });
        return std::memcmp(&r, &zero, offsetof(SiteTreeNode, vec)) == 0 && zeroVector;
    };
    for (int t = 0; t <= seqLength + 1; t++)
        for (int i = 0; i < DIM; i++) EXPECT_TRUE(cleared(gapTree[t][i])) << t << " " << i;
    for (int t = 0; t <= 1; t++)
        for (int i = 0; i < DIM; i++) EXPECT_TRUE(cleared(copyTree[t][i]));
    for (int b = 0; b <= 2 * seqNum - 3; b++) EXPECT_EQ(branch[b].leftPoint | branch[b].rightPoint, 0);
    for (int s = 1; s <= seqLength; s++) {
        EXPECT_EQ(alfa[s], 1.0);
        EXPECT_EQ(treeRoot[s], 0);
    }
}

// A process computes one site at a time: the sites' trees share one vector per record, while
// tree 0 (the simulation's), tree L+1 and the copies have their own; no two vectors overlap.
TEST(Readali, SiteTreesShareOneVectorPerRecord) {
    loadAlignmentText(twoBlocks);
    std::vector<const double*> distinct;
    for (int k = 0; k < DIM; k++) {
        for (int s = 2; s <= seqLength; s++) EXPECT_EQ(gapTree[s][k].vec, gapTree[1][k].vec) << s << " " << k;
        for (const SiteTreeNode* t :
             {gapTree[0], gapTree[1], gapTree[seqLength + 1], copyTree[0], copyTree[1]})
            distinct.push_back(t[k].vec);
    }
    std::sort(distinct.begin(), distinct.end());
    for (size_t i = 1; i < distinct.size(); i++) EXPECT_GE(distinct[i] - distinct[i - 1], 21);
}

// The rooted copy and the simulation's tree trade records both ways; each keeps its vectors.
TEST(Readali, CopyingATreeKeepsTheTargetsVectors) {
    loadAlignmentText(twoBlocks);
    for (int k = 0; k < DIM; k++) {
        SiteTreeNode& r = gapTree[0][k];
        r.level = k, r.left = k + 1, r.right = k + 2, r.third = k + 3, r.parent = k + 4, r.scale = k + 5;
        r.isRoot = 1, r.gap = 1, r.length = 0.5 + k;
        for (int i = 0; i <= 20; i++) r.vec[i] = k * 100 + i;
    }
    copyTreeRecords(copyTree[0], gapTree[0]);
    for (int k = 0; k < DIM; k++) {
        const SiteTreeNode &from = gapTree[0][k], &to = copyTree[0][k];
        EXPECT_NE(to.vec, from.vec);
        EXPECT_EQ(std::memcmp(&to, &from, offsetof(SiteTreeNode, isRoot)), 0);
        EXPECT_EQ(to.isRoot, 1);
        EXPECT_EQ(to.gap, 1);
        EXPECT_EQ(to.length, from.length);
        for (int i = 0; i <= 20; i++) EXPECT_EQ(to.vec[i], from.vec[i]);
    }
}

TEST(Readali, WritesTheInputTableAsRead) {
    loadAlignmentText("a  mkV.x*B\nbb MKVLAGW\ncc MKVLAGW\n");
    std::string ruler = std::string(27, ' ') + "0         ";
    EXPECT_EQ(resultText(), "The input sequences:\n" + ruler + "\n" +
                                "    1                    a  mkV.x*B\n"
                                "    2                   bb  MKVLAGW\n"
                                "    3                   cc  MKVLAGW\n");
}

TEST(Readali, RulerMarksEveryTenthSite) {
    std::string letters(20, 'A');
    loadAlignmentText("a " + letters + "\nb " + letters + "\nc " + letters + "\n");
    std::string table = resultText();
    std::string ruler = std::string(27, ' ') + "0         10        20        \n";
    EXPECT_NE(table.find("\n" + ruler), std::string::npos) << table;
}

TEST(Readali, FoldsLettersIntoTheAlphabet) {
    loadAlignmentText("s1 mx.*BA\ns2 MAAAAA\ns3 MAAAAA\n");
    EXPECT_STREQ(node[1].seq, " M----A");
    EXPECT_EQ(node[1].code[1], 13);
    for (int s = 2; s <= 5; s++) {
        EXPECT_EQ(node[1].code[s], 0);
        EXPECT_EQ(gapNumber[s], 1);
        EXPECT_EQ(dashFlag[s], 1);
    }
    EXPECT_EQ(gapNumber[6], 0);
    EXPECT_EQ(residueCode('v'), 20);
    EXPECT_EQ(residueCode('\0'), 0);
}

TEST(SearchGap, MarksGappedAndComputedSites) {
    // Sites: no gap, 2 gaps, 3 gaps, 1 gap.
    loadAlignmentText("s1 A--A\ns2 A--A\ns3 AA-A\ns4 AAAA\ns5 AAA-\n");
    const char dash[] = {0, 0, 1, 1, 1};
    const char cal[] = {0, 0, 1, 0, 1};
    for (int s = 1; s <= 4; s++) {
        EXPECT_EQ(dashFlag[s], dash[s]) << s;
        EXPECT_EQ(calFlag[s], cal[s]) << s;
    }
    EXPECT_EQ(gapNumber[3], 3);
    for (int i = seqNum + 1; i < DIM; i++)
        for (int s = 1; s <= seqLength; s++) EXPECT_EQ(node[i].code[s], 0);
}

TEST(Readali, FirstLineIsSkippedOnlyForClustalW) {
    loadAlignmentText("CLUSTAL W anything at all\nx ACD\ny ACD\nz ACD\n");
    EXPECT_EQ(seqNum, 3);
    loadAlignmentText("CLUSTAL 2.1\nx ACD\ny ACD\nz ACD\n");
    EXPECT_EQ(seqNum, 4);
    EXPECT_STREQ(node[1].name, "CLUSTAL");
    EXPECT_EQ(column(1), "-AAA");
}

// Editors on Windows begin a UTF-8 file with a byte-order mark; the text starts after it.
TEST(Readali, AByteOrderMarkAtTheStartIsNoPartOfTheText) {
    loadAlignmentText("\xEF\xBB\xBF"
                      "CLUSTAL W (1.83) multiple sequence alignment\r\n\r\nx ACD\r\ny ACD\r\nz ACD\r\n");
    EXPECT_EQ(seqNum, 3);
    EXPECT_STREQ(node[1].name, "x");
    loadAlignmentText("\xEF\xBB\xBFx ACD\ny ACD\nz ACD\n");
    EXPECT_STREQ(node[1].name, "x");
}

TEST(Readali, BlockLayouts) {
    // Single block without a closing empty line; empty lines between blocks have no effect.
    loadAlignmentText("a AC\nb AC\nc AC");
    EXPECT_EQ(seqLength, 2);
    loadAlignmentText("a AC\nb AC\nc AC\n\n\n\n\na DE\nb DE\nc DE\n\n");
    EXPECT_EQ(seqNum, 3);
    EXPECT_STREQ(node[3].seq, " ACDE");
    // A line of four blanks is indented as far as the second field: ignored, no block end.
    loadAlignmentText("aa AC\nbb AC\n    \ncc AC\n");
    EXPECT_EQ(seqNum, 3);
}

// Every "\n" of text made "\r\n".
std::string withWindowsLineEnds(const std::string& text) {
    std::string windows;
    for (char c : text) windows += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return windows;
}

TEST(Readali, WindowsLineEndsReadAsTheLineEndAlone) {
    // With one-character names the second field stands at column 2, as far as "\r\n" reaches.
    const char* texts[] = {
        "a AC\nb AC\nc AC\n\na DE\nb DE\nc DE\n",
        "a 1 AC\nb 1 AC\nc 1 A-\n  *\n\n\na DEF\nb DEF\nc DEF",
        "aa AC\nbb AC\n    \ncc AC\n\naa W\nbb W\ncc Y\n",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        loadAlignmentText(text);
        int n = seqNum, length = seqLength;
        std::vector<std::string> rows;
        for (int i = 1; i <= n; i++) rows.push_back(node[i].seq);
        loadAlignmentText(withWindowsLineEnds(text));
        ASSERT_EQ(seqNum, n);
        ASSERT_EQ(seqLength, length);
        for (int i = 1; i <= n; i++) EXPECT_EQ(node[i].seq, rows[i - 1]);
    }
    // The last line without its line feed.
    loadAlignmentText("a AC\r\nb AC\r\nc AC\r");
    EXPECT_EQ(seqLength, 2);
    EXPECT_STREQ(node[3].seq, " AC");
}

// Old Mac files end their lines with a bare carriage return, from some point on or throughout.
TEST(Readali, ABareCarriageReturnEndsALine) {
    const std::string text = "a 1 MKVLA\nb 1 MKILA\nc 1 MRVL-\n      **:*\n\na GW\nb GW\nc GF\n";
    loadAlignmentText(text);
    std::vector<std::string> rows;
    for (int i = 1; i <= 3; i++) rows.push_back(node[i].seq);
    std::string mac = text, mixed = text;
    std::replace(mac.begin(), mac.end(), '\n', '\r');
    std::replace(mixed.begin() + static_cast<long>(text.find("c 1")), mixed.end(), '\n', '\r');
    for (const std::string& variant : {mac, mixed}) {
        loadAlignmentText(variant);
        ASSERT_EQ(seqNum, 3);
        ASSERT_EQ(seqLength, 7);
        for (int i = 1; i <= 3; i++) EXPECT_EQ(node[i].seq, rows[i - 1]);
    }
}

TEST(Readali, StartNumberOnlyBeforeTheSegment) {
    loadAlignmentText("a 10 MKV\nb MKV 10\nc MKV\n");
    EXPECT_EQ(astart[0], 10);
    EXPECT_EQ(astart[1], 0);
    EXPECT_STREQ(node[1].seq, " MKV");
    EXPECT_STREQ(node[2].seq, " MKV");
}

// A residue count may end a line, as current aligners write it, with blanks after it or not.
TEST(Readali, AResidueCountMayEndALine) {
    loadAlignmentText("a 1 MKV 3\nb MKV 3  \nc MKV\t3\n\na WW 5\nb WW 5\nc WW\n");
    EXPECT_EQ(seqLength, 5);
    EXPECT_STREQ(node[2].seq, " MKVWW");
}

TEST(Readali, LongLinesAreNeverSplit) {
    std::string letters(25000, 'W');
    loadAlignmentText("first " + letters + "\nsecond " + letters + "\nthird " + letters + "\n");
    EXPECT_EQ(seqNum, 3);
    EXPECT_EQ(seqLength, 25000);
    EXPECT_EQ(node[3].code[25000], 18);
}

TEST(Readali, KeepsNamesOfFiftyOneCharacters) {
    std::string name(NODE_NAME_MAX, 'n');
    loadAlignmentText(name + " AC\nb AC\nc AC\n");
    EXPECT_EQ(std::string(node[1].name), name);
}

struct ReaderFault {
    const char* name;
    const char* text;
    const char* message; // regular expression on standard error
};

void PrintTo(const ReaderFault& fault, std::ostream* out) {
    *out << fault.name;
}

class ReaderFaults : public testing::TestWithParam<ReaderFault> {};

TEST_P(ReaderFaults, EndWithStatusOne) {
    std::string path = writeAlignmentFile(GetParam().text);
    EXPECT_EXIT(loadAlignment(path), testing::ExitedWithCode(1), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Readali, ReaderFaults,
    testing::Values(
        ReaderFault{"NamesDoNotMatch", "a AC\nb AC\nc AC\n\nb DE\na DE\nc DE\n",
                    "Names do not match, was: a, now: b\n\\(alignment file \".*\", line 5\\)"},
        // A header of a current Clustal writer is read as a sequence named CLUSTAL.
        ReaderFault{
            "ClustalHeaderOfAnotherWriter",
            "CLUSTAL O(1.2.4) multiple sequence alignment\n\na AC\nb AC\nc AC\n",
            "^Names do not match, was: CLUSTAL, now: a\nThe first line must begin \"CLUSTAL W\" \\(or be "
            "left out\\)\n\\(alignment file \".*\", line 3\\)\n$"},
        ReaderFault{"MuscleHeader", "MUSCLE (3.8) multiple sequence alignment\n\n\na AC\nb AC\nc AC\n",
                    "^Names do not match, was: MUSCLE, now: a\nThe first line must begin \"CLUSTAL W\""},
        ReaderFault{"KalignHeaderRightAboveTheBlock",
                    "Kalign (3.3.5) multiple sequence alignment  \na AC\nb AC\nc AC\n",
                    "^wrong len for Kalign, was: 2, now: 7\nThe first line must begin \"CLUSTAL W\" "
                    "\\(or be left out\\)\n\\(alignment file \".*\", line 1\\)\n$"},
        // The lines after such a header are read as any others.
        ReaderFault{"GroupsAfterAnotherHeader",
                    "MUSCLE (3.8) multiple sequence alignment\na AC DE\nb AC DE\n",
                    "field after the segment: \"DE\".*\n.*line 2\\)"},
        ReaderFault{"WrongNal", "a AC\nb AC\nc AC\n\na DE\nb DE\n\n",
                    "Wrong nal, was: 3, now: 2\n\\(.*line 7\\)"},
        ReaderFault{"WrongNalAtEnd", "a AC\nb AC\nc AC\n\na DE\nb DE\n",
                    "Wrong nal, was: 3, now: 2\n\\(.*at its end\\)"},
        ReaderFault{"BadSequenceNumber", "a AC\nb AC\nc AC\n\na DE\nb DE\nc DE\nd DE\n",
                    "Bad sequence number: 3 of 3\n\\(.*line 8\\)"},
        ReaderFault{"WrongLen", "a AC\nb ACD\nc AC\n", "wrong len for b, was: 2, now: 3\n\\(.*line 2\\)"},
        // The odd line is blamed, also when it is the block's first or a two-line block's second.
        ReaderFault{"FirstLineShort", "a AC\nb AC\nc AC\n\na D\nb DE\nc DE\n",
                    "^wrong len for a, was: 2, now: 1\n\\(alignment file \".*\", line 5\\)\n$"},
        ReaderFault{"SecondLineOdd", "a AC\nb A\nc AC\n",
                    "^wrong len for b, was: 2, now: 1\n\\(.*line 2\\)\n$"},
        ReaderFault{"TwoLinesDiffer", "a AC\nb AC\nc AC\n\na DE\nb D\n\n",
                    "^wrong len for b, was: 2, now: 1\n\\(.*line 6\\)\n$"},
        // Segments written in groups, or anything else after the segment but a residue count.
        ReaderFault{"GroupedSegments", "a 1 ABCDE FGHIK\nb 1 ABCDE FGHIK\nc 1 ABCDE FGHIK\n",
                    "^A field after the segment: \"FGHIK\"; a block line holds a name, a start number "
                    "\\(optional\\), one segment without blanks and a residue count \\(optional\\)\n"
                    "\\(alignment file \".*\", line 1\\)\n$"},
        ReaderFault{"FieldAfterTheCount", "a AC\nb AC 2 x\nc AC\n",
                    "field after the segment: \"x\".*\n.*line 2\\)"},
        ReaderFault{"CountNotANumber", "a AC\nb AC 2x\nc AC\n",
                    "field after the segment: \"2x\".*\n.*line 2\\)"},
        ReaderFault{"GroupsAfterAClustalHeader", "CLUSTAL W\n\na AC DE\nb AC DE\nc AC DE\n",
                    "field after the segment: \"DE\".*\n.*line 3\\)"},
        ReaderFault{"OnlyEmptyLines", "\n\n  \n", "No alignments read\n"},
        ReaderFault{"EmptyFile", "", "No alignments read\n"},
        ReaderFault{"TooFewSequences", "a AC\nb AC\n", "Too few sequences: 2; at least 3 are needed\n"},
        ReaderFault{"NoSites", "a\nb\nc\n", "No sites: every sequence is empty\n"},
        ReaderFault{"NameTooLong", "a_name_of_fifty_two_characters_which_is_one_too_long AC\nb AC\nc AC\n",
                    "Sequence name longer than 51 characters \\(52\\): "
                    "a_name_of_fifty_two_characters_which_is_one_too_long\n\\(.*line 1\\)"}),
    [](const testing::TestParamInfo<ReaderFault>& info) { return std::string(info.param.name); });

// What no alignment holds is refused at its line: a NUL byte, a line beyond the limit, a file
// that can not be read.
TEST(Readali, AFileThatIsNoTextIsRefusedAtItsLine) {
    const struct {
        std::string path, message;
    } cases[] = {
        {writeAlignmentFile(std::string("a AC\nb A\0C\nc AC\n", 16)),
         "^a NUL byte at column 4: this is not a text file\n\\(alignment file \".*\", line 2\\)\n$"},
        {"/dev/zero", "^a NUL byte at column 1: .*\n\\(alignment file \"/dev/zero\", line 1\\)\n$"},
        {writeAlignmentFile("a AC\r" + std::string(MAX_LINE_LENGTH + 1, 'A')),
         "^a line longer than 33554432 characters: this is not an input file\n\\(.*line 2\\)\n$"},
        {testing::TempDir(), "^the file can not be read: Is a directory\n\\(.*line 1\\)\n$"},
    };
    for (const auto& c : cases)
        EXPECT_EXIT(loadAlignment(c.path), testing::ExitedWithCode(1), c.message) << c.path;
}

// This process may use only `extra` bytes more address space than it holds now.
void limitAddressSpace(long extra) {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlim_t limit = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE) + extra);
    rlimit bound{limit, limit};
    setrlimit(RLIMIT_AS, &bound);
}

TEST(Readali, MemoryRunningOutIsReportedWithTheFile) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
    std::string path = writeAlignmentFile("a A\nb A\nc " + std::string(30 << 20, 'A') + "\n");
    EXPECT_EXIT(
        {
            limitAddressSpace(8 << 20);
            loadAlignment(path);
        },
        testing::ExitedWithCode(1),
        "^memory ran out while reading this file\n\\(alignment file \".*\", line 3\\)\n$");
}

TEST(Readali, MissingFile) {
    EXPECT_EXIT(loadAlignment("/nonexistent/x.aln"), testing::ExitedWithCode(1),
                "No such file: \"/nonexistent/x.aln\"\n");
}

// Duplicates are listed on standard output; the death test watches standard error.
void loadWithStdoutOnStderr(const std::string& path) {
    dup2(2, 1);
    loadAlignment(path);
}

TEST(Readali, DuplicateNamesAreAllListed) {
    std::string two = writeAlignmentFile("a A\nd A\nb A\nd A\n");
    EXPECT_EXIT(loadWithStdoutOnStderr(two), testing::ExitedWithCode(1),
                "try to find the duplicate name of different sequences\n"
                "duplication: seqNo:2 seqName:d  seqNo:4 seqName:d\n"
                "Sequence name d is given more than once\n\\(alignment file \".*\", lines 2 and 4\\)\n$");
    std::string three = writeAlignmentFile("x A\nx A\nx A\n");
    EXPECT_EXIT(loadWithStdoutOnStderr(three), testing::ExitedWithCode(1),
                "seqNo:1 seqName:x  seqNo:2 seqName:x\n.*seqNo:1 seqName:x  seqNo:3 seqName:x\n"
                ".*seqNo:2 seqName:x  seqNo:3 seqName:x\n"
                "Sequence name x is given more than once\n\\(.*, lines 1, 2 and 3\\)\n$");
    // Pairs of two names interleaved: in the order of the first sequence, then of the second.
    std::string interleaved = writeAlignmentFile("x A\ny A\nx A\ny A\nx A\n");
    EXPECT_EXIT(loadWithStdoutOnStderr(interleaved), testing::ExitedWithCode(1),
                "sequences\n"
                "duplication: seqNo:1 seqName:x  seqNo:3 seqName:x\n"
                "duplication: seqNo:1 seqName:x  seqNo:5 seqName:x\n"
                "duplication: seqNo:2 seqName:y  seqNo:4 seqName:y\n"
                "duplication: seqNo:3 seqName:x  seqNo:5 seqName:x\n"
                "Sequence name x is given more than once\n\\(.*, lines 1, 3 and 5\\)\n"
                "Sequence name y is given more than once\n\\(.*, lines 2 and 4\\)\n$");
}

TEST(CheckComputedSites, NeedsOneComputedSite) {
    loadAlignmentText("a A-\nb A-\nc AA\nd AA\n");
    checkComputedSites();
    std::string path = writeAlignmentFile("a A-\nb -A\nc AA\n");
    EXPECT_EXIT(
        {
            loadAlignment(path);
            checkComputedSites();
        },
        testing::ExitedWithCode(1), "No site to compute: every site has more than 0 gaps");
}

TEST(CheckResidueTypes, NeedsTwoResidueTypesAtTheComputedSites) {
    loadAlignmentText("a AA\nb AA\nc AW\n");
    checkResidueTypes();
    // The W stands in a column with too many gaps to be computed; lower case folds to upper.
    std::string path = writeAlignmentFile("a Aa-W\nb aA--\nc AA--\nd AA--\n");
    EXPECT_EXIT(
        {
            loadAlignment(path);
            checkResidueTypes();
        },
        testing::ExitedWithCode(1),
        "^The alignment has a single residue type: every computed site holds A only, and a substitution "
        "model "
        "needs two residue types at least\n$");
}

} // namespace
