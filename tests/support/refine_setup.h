// Test support for the inner-state reconstruction and the rate refinement: six sequences on
// a fixed tree, read by the real readers, with the alignment's model and the per-site trees.
#ifndef TESTS_SUPPORT_REFINE_SETUP_H
#define TESTS_SUPPORT_REFINE_SETUP_H

#include "model_setup.h"
#include "tree_setup.h"

#include "alignment.h"
#include "model.h"
#include "settings.h"
#include "sitetree.h"

#include <string>
#include <utility>
#include <vector>

namespace refinesetup {

// Six sequences a..f = 1..6 on the fixed tree: top node 7 = ((a,b), c, (d,(e,f))), inner nodes
// 8 = (a,b), 9 = (d,(e,f)), 10 = (e,f); the alignment's model and the per-site trees.
inline void loadOnSixLeafTree(const std::vector<std::pair<std::string, std::string>>& sequences) {
    testsupport::loadSequences(sequences);
    testsupport::readTreeText("((a:0.1,b:0.2):0.05,c:0.3,(d:0.15,(e:0.1,f:0.25):0.1):0.2);");
    allocateModelStorageOnce();
    init_S();
    cal_PI();
    cal_Q(PI);
    cal_Eign();
    assignTree();
}

// The six-leaf tree with the sites:
//   1 invariant, no gap          2 variable, no gap            3 six residues, no gap
//   4 a, b gapped: 9 the root     5 a, d gapped: 8, 10 spliced   6 four gaps: left out
//   7 invariant, e gapped
inline void loadSixSequences() {
    loadOnSixLeafTree({{"a", "AAA---L"},
                       {"b", "AAR-A-L"},
                       {"c", "ARNRR-L"},
                       {"d", "ARDR--L"},
                       {"e", "AKCKKK-"},
                       {"f", "AKQKKRL"}});
}

// Every site's frequencies half its own and half the alignment's, so that every residue has
// some weight, as under a pseudocount profile: the rate matrix of a site's own frequencies
// then has a well-conditioned eigensystem.
inline void blendSiteFrequencies() {
    for (int s = 1; s <= seqLength; s++)
        for (int k = 1; k <= 20; k++) sitePI[s][k] = (sitePI[s][k] + PI[k]) / 2;
}

// Runs body with resultFile on a fresh temporary file and returns what it wrote there;
// resultFile is standard output again afterwards.
template <typename Body> std::string resultOf(Body body) {
    resultFile = std::tmpfile();
    body();
    std::string text = resultText();
    std::fclose(resultFile);
    resultFile = stdout;
    return text;
}

} // namespace refinesetup

#endif
