#include "siterules.h"

#include "alignment.h"
#include "settings.h"

#include <climits>

int nonGapMinimum() {
    if (gapForEst < 1.000000001) {
        int m = static_cast<int>(seqNum * gapForEst);
        return m < 3 ? 3 : m;
    }
    // A count beyond any int asks for more letters than any site has; converting it would overflow.
    double count = gapForEst + 0.000001;
    return count < INT_MAX ? static_cast<int>(count) : INT_MAX;
}

bool lettersForRate(int s) {
    return seqNum - gapNumber[s] >= nonGapMinimum();
}

bool usableSite(int s) {
    return lettersForRate(s) && !invariantLetters(s);
}

namespace {

// Every leaf's value at the site other than skip is one value; 0 is no value yet.
template <typename Value, typename ValueOf> bool oneValueBut(Value skip, ValueOf valueOf) {
    Value first = 0;
    for (int i = 1; i <= seqNum; i++) {
        Value v = valueOf(i);
        if (v == skip) continue;
        if (first == 0)
            first = v;
        else if (v != first)
            return false;
    }
    return true;
}

} // namespace

bool invariantLetters(int s) {
    return oneValueBut<char>('-', [s](int i) { return node[i].seq[s]; });
}

bool invariantCodes(int s) {
    return oneValueBut<int>(0, [s](int i) { return node[i].code[s]; });
}

bool uniformCodes(int s) {
    for (int i = 2; i <= seqNum; i++)
        if (node[i].code[s] != node[1].code[s]) return false;
    return true;
}
