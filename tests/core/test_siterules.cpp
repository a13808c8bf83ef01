#include "siterules.h"

#include "alignment.h"
#include "model_setup.h"
#include "settings.h"
#include "settings_reset.h"

#include <gtest/gtest.h>

#include <string>

TEST(SiteRules, EachSiteOfASmallAlignment) {
    testsupport::resetSettings();
    gapForEst = 0.75; // six of the eight leaves need a letter for a rate
    // Columns: 1 invariant, 2 variable, 3 six letters, 4 five, 5 three, 6 two, 7 an 'X' that
    // folds to a gap, 8 a lower-case letter that folds to its residue.
    useAlignment(
        {"AA----Aa", "AA----AA", "AAA---AA", "AAAA--AA", "AAAA--AA", "AAAAA-AA", "AAAACAAA", "ACCCDCXA"});
    ASSERT_EQ(nonGapMinimum(), 6);
    struct Expected {
        bool computed, forRate, invariantLetters, invariantCodes, uniformCodes, usable;
    } site[] = {{},
                {1, 1, 1, 1, 1, 0},
                {1, 1, 0, 0, 0, 1},
                {1, 1, 0, 0, 0, 1},
                {1, 0, 0, 0, 0, 0},
                {1, 0, 0, 0, 0, 0},
                {0, 0, 0, 0, 0, 0},
                {1, 1, 1, 1, 0, 0},
                {1, 1, 1, 1, 1, 0}};
    for (int s = 1; s <= 8; s++) {
        EXPECT_EQ(computedSite(s), site[s].computed) << s;
        EXPECT_EQ(lettersForRate(s), site[s].forRate) << s;
        EXPECT_EQ(invariantLetters(s), site[s].invariantLetters) << s;
        EXPECT_EQ(invariantCodes(s), site[s].invariantCodes) << s;
        EXPECT_EQ(uniformCodes(s), site[s].uniformCodes) << s;
        EXPECT_EQ(usableSite(s), site[s].usable) << s;
    }
    // The gaps a tree allows: at most seqNum - 3.
    EXPECT_TRUE(lettersForTree(5));
    EXPECT_FALSE(lettersForTree(6));
    testsupport::resetSettings();
}
