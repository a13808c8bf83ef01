// Test support: the start-up's settings as a process starts with them, so that a test sees
// none of the options, paths or job facts that an earlier test of its program left.
#ifndef TESTS_SUPPORT_SETTINGS_RESET_H
#define TESTS_SUPPORT_SETTINGS_RESET_H

#include "numerics/fault.h"
#include "numerics/job.h"
#include "settings.h"

#include <cstdio>

namespace testsupport {

inline void resetSettings() {
    refineFlag = 1;
    gapForEst = 0.5;
    EntropyEstimatedFlag = 0;
    pseudoSitePIFlag = 0;
    resultFile = stdout;
    alignmentPath.clear();
    treePath.clear();
    resultPath.clear();
    treeFlag = 0;
    rootProbPath.clear();
    partialResultPath.clear();
    jobSize = jobRank = 0;
    jobTagLimit = 0;
    awaitJobEndHook = nullptr;
}

} // namespace testsupport

#endif
