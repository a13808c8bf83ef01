// What each site of the alignment is to the job, from its column and the settings: whether its
// letters vary, whether it has letters enough for a rate of its own. Whether it is computed at
// all, and may be gapped, the alignment decides (computedSite, lettersForTree).
#ifndef CORE_SITERULES_H
#define CORE_SITERULES_H

#include "alignment.h"

// The least number of non-gap letters a site needs for an estimated rate and for the
// simulations, from gapForEst (a fraction of seqNum, at least 3, or a count).
int nonGapMinimum();
// The site has at least nonGapMinimum() letters by gapNumber: its rate is estimated.
bool lettersForRate(int s);
// Letters enough for a rate and not invariant by letters: the site is simulated.
bool usableSite(int s);

// Every letter of column s other than '-' is one letter.
bool invariantLetters(int s);
// Every leaf code of column s other than 0 is one code. It differs from invariantLetters only
// where a leaf's letter is not the letter of its code (after the reader's folding, never).
bool invariantCodes(int s);
// Every leaf, gaps included, holds the code of leaf 1: where no leaf has code 0, the same
// answer as invariantCodes; where one has, true only when every leaf has.
bool uniformCodes(int s);

#endif
