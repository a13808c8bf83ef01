#include "sitefixture.h"

#include "alignment.h"
#include "model.h"
#include "numerics/fault.h"
#include "numerics/job.h"
#include "rootprob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

using namespace sitefixture;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

class RootProbabilities : public ::testing::Test {
  protected:
    void SetUp() override {
        makeAlignment(4, 3);
        sitePI = dmatrix(1, 3, 1, 20);
        for (int s = 1; s <= 3; s++)
            for (int k = 1; k <= 20; k++) sitePI[s][k] = (s * 20 + k) / 1000.0;
    }
    std::string write(const std::string& name, const std::string& text) {
        std::string path = testing::TempDir() + name;
        std::ofstream(path) << text;
        return path;
    }
    // One row as the program that writes these files lays it out.
    static std::string row(int site, char letter, const double* p) {
        char buffer[256];
        int len = snprintf(buffer, sizeof buffer, "%4d  %c ", site, letter);
        for (int k = 1; k <= 20; k++)
            len += snprintf(buffer + len, sizeof buffer - len, "%6.0f", p[k] * 10000);
        return std::string(buffer) + "\n";
    }
};

TEST_F(RootProbabilities, WithoutAFileTheSiteFrequenciesStandIn) {
    for (const char* path : {"", "/nonexistent/rootprob.txt"}) {
        CaptureStdout();
        readRootProbMatrix(path);
        EXPECT_EQ(GetCapturedStdout(), std::string("can not open RootProbMatrix file: ") + path +
                                           ", use PI for each site instead\n");
        for (int s = 1; s <= 3; s++)
            for (int k = 1; k <= 20; k++) EXPECT_EQ(RootProbMatrix[s][k], sitePI[s][k]);
    }
}

TEST_F(RootProbabilities, RowsFollowTheFirstLineOfSiteOne) {
    double first[21] = {0, 1.0}, uniform[21], skewed[21];
    for (int k = 1; k <= 20; k++) uniform[k] = 0.05, skewed[k] = k / 210.0;
    std::string text = "root state probabilities\n"
                       "  1 this line starts too far left\n" +
                       row(1, 'A', first) + row(2, 'R', uniform) + row(3, 'N', skewed) +
                       "   4  D  anything after the last site\n";
    readRootProbMatrix(write("rootprob_layout.txt", text).c_str());
    EXPECT_EQ(RootProbMatrix[1][1], 1.0);
    for (int k = 2; k <= 20; k++) EXPECT_EQ(RootProbMatrix[1][k], 0.0);
    for (int k = 1; k <= 20; k++) {
        EXPECT_EQ(RootProbMatrix[2][k], 500 * 0.0001);
        EXPECT_NEAR(RootProbMatrix[3][k], skewed[k], 0.00005);
    }

    // Only the whole part of a value counts.
    std::string fractional = "   1  A  2500.9 2500 2500 2500";
    for (int k = 5; k <= 20; k++) fractional += " 0";
    readRootProbMatrix(
        write("rootprob_fraction.txt", fractional + "\n" + row(2, 'R', uniform) + row(3, 'N', uniform))
            .c_str());
    EXPECT_EQ(RootProbMatrix[1][1], 0.25);
    EXPECT_EQ(RootProbMatrix[1][2], 0.25);
}

// Old Mac files end their lines with a bare carriage return; Windows ones with "\r\n".
TEST_F(RootProbabilities, EveryLineEndEndsARow) {
    double first[21] = {0, 1.0}, last[21] = {0};
    last[20] = 1.0;
    std::string text = "title\r" + row(1, 'A', first) + row(2, 'R', first) + row(3, 'V', last);
    std::string mac = text, windows;
    std::replace(mac.begin(), mac.end(), '\n', '\r');
    for (char c : text) windows += c == '\n' ? std::string("\r\n") : std::string(1, c);
    for (const std::string& variant : {mac, windows}) {
        readRootProbMatrix(write("rootprob_lineends.txt", variant).c_str());
        EXPECT_EQ(RootProbMatrix[2][1], 1.0);
        EXPECT_EQ(RootProbMatrix[3][20], 1.0);
        EXPECT_EQ(RootProbMatrix[3][19], 0.0);
    }
}

// A byte-order mark, as editors on Windows begin a UTF-8 file with, does not hide the first row.
TEST_F(RootProbabilities, AByteOrderMarkBeforeTheFirstRowIsNoPartOfIt) {
    double first[21] = {0, 1.0};
    readRootProbMatrix(write("rootprob_bom.txt",
                             "\xEF\xBB\xBF" + row(1, 'R', first) + row(2, 'A', first) + row(3, 'N', first))
                           .c_str());
    EXPECT_EQ(RootProbMatrix[1][1], 1.0);
    EXPECT_EQ(RootProbMatrix[3][1], 1.0);
}

TEST_F(RootProbabilities, UnusableFileEndsWithMessageNamingFileAndSite) {
    double uniform[21];
    for (int k = 1; k <= 20; k++) uniform[k] = 0.05;
    std::string shortRow = "   2  R  500 500 500\n";
    std::string badNumber = row(2, 'R', uniform);
    badNumber.replace(badNumber.find("500"), 3, "x50");
    // Row 2 changed at its first value: the rest of the row stays as written.
    auto rowTwo = [&uniform](const std::string& value) {
        std::string text = row(2, 'R', uniform);
        return text.replace(text.find("500") - 3, 6, value);
    };
    double zeros[21] = {}, triple[21];
    for (int k = 1; k <= 20; k++) triple[k] = 0.15;
    struct Case {
        const char* name;
        std::string text, message;
    } cases[] = {
        {"rootprob_nostart.txt", "  1  A  10000\n 1 A\n", "rootprob_nostart.txt.*no row of site 1"},
        {"rootprob_fewrows.txt", row(1, 'A', uniform) + row(2, 'R', uniform),
         "rootprob_fewrows.txt.*ends before the row of site 3"},
        {"rootprob_shortrow.txt", row(1, 'A', uniform) + shortRow + row(3, 'N', uniform),
         "rootprob_shortrow.txt.*row of site 2 holds 5 fields"},
        {"rootprob_badnumber.txt", row(1, 'A', uniform) + badNumber + row(3, 'N', uniform),
         "rootprob_badnumber.txt.*row of site 2 holds \"x50\""},
        {"rootprob_empty.txt", "", "rootprob_empty.txt.*no row of site 1"},
        // Rows in site order, of values that are not negative and sum to 10000 within 1%.
        {"rootprob_order.txt", "x\n" + row(1, 'A', uniform) + row(3, 'N', uniform) + row(2, 'R', uniform),
         "^RootProbMatrix file .*rootprob_order.txt, line 3: the row of site 2 begins with \"3\" "
         "where the site number 2 is needed"},
        {"rootprob_ten.txt", " " + row(10, 'A', uniform), "line 1: the row of site 1 begins with \"10\""},
        {"rootprob_negative.txt", row(1, 'A', uniform) + rowTwo("  -500") + row(3, 'N', uniform),
         "rootprob_negative.txt, line 2: the row of site 2 holds the negative value -500\n"},
        {"rootprob_zeros.txt", row(1, 'A', uniform) + row(2, 'R', zeros) + row(3, 'N', uniform),
         "line 2: the row of site 2 sums to 0 units of 0.0001 instead of 10000 \\(within 1%\\)\n"},
        {"rootprob_triple.txt", row(1, 'A', uniform) + row(2, 'R', uniform) + row(3, 'N', triple),
         "line 3: the row of site 3 sums to 30000 units"},
        {"rootprob_over.txt", row(1, 'A', uniform) + rowTwo("   601") + row(3, 'N', uniform),
         "line 2: the row of site 2 sums to 10101 units"},
        {"rootprob_hex.txt", row(1, 'A', uniform) + rowTwo("  0x1F") + row(3, 'N', uniform),
         "line 2: the row of site 2 holds \"0x1F\" where a number is needed"},
    };
    for (const Case& c : cases) {
        std::string path = write(c.name, c.text);
        EXPECT_EXIT(readRootProbMatrix(path.c_str()), testing::ExitedWithCode(1), c.message) << c.name;
    }
}

// Every process of a job meets the same unusable file: the others leave the report to rank 0.
TEST_F(RootProbabilities, OtherRanksLeaveTheReportToRankZero) {
    std::string path = write("rootprob_rank1.txt", "no rows\n");
    jobSize = 2;
    jobRank = 1;
    awaitJobEndHook = [] { std::fprintf(stderr, "waiting for rank 0\n"); };
    EXPECT_EXIT(readRootProbMatrix(path.c_str()), testing::ExitedWithCode(1),
                "^waiting for rank 0\nRootProbMatrix file .*rootprob_rank1.txt: no row of site 1");
    jobSize = jobRank = 0;
    awaitJobEndHook = nullptr;
}

} // namespace
