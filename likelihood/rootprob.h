// Root-state probabilities of every site, from the root probability file (-r) or, without
// one, the per-site frequencies.
#ifndef CORE_ROOTPROB_H
#define CORE_ROOTPROB_H

// Sites 1..seqLength x residues 1..20, in the order of the residue codes.
extern double** RootProbMatrix;

// Fills RootProbMatrix from the file at path (empty when -r was not given). A file that
// cannot be opened gives the per-site frequencies sitePI instead; a file that opens but lacks
// a row, or holds a short or unreadable row, ends the process with status 1.
void readRootProbMatrix(const char* path);

#endif
