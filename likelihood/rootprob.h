// Root-state probabilities of every site, from the root probability file (-r) or, without
// one, the per-site frequencies.
#ifndef CORE_ROOTPROB_H
#define CORE_ROOTPROB_H

// Sites 1..seqLength x residues 1..20, in the order of the residue codes.
extern double** RootProbMatrix;

// Fills RootProbMatrix from the file at path (empty when -r was not given). A file that
// cannot be opened gives the per-site frequencies sitePI instead; a file that opens but lacks
// a row, or holds a row that is short, unreadable, out of site order, negative or does not sum
// to 10,000 units within 1%, ends the job with status 1, naming the file, the line and the site.
void readRootProbMatrix(const char* path);

#endif
