// The alignment reader and the per-node, per-tree and per-site stores it allocates.
#ifndef CORE_ALIGNMENT_H
#define CORE_ALIGNMENT_H

#include "records.h"

// The residue alphabet: code 0 is the gap, codes 1..20 the residues.
extern const char aa[];

// The reader's lists, in input order.
extern int nal;      // number of sequences
extern int alilen;   // alignment length
extern char** aname; // sequence names, closed by a null entry
extern char** aseq;  // sequence texts, closed by a null entry
extern int* astart;  // start numbers (0 where absent)
extern int* alen;    // alphabetic characters per sequence

extern int seqNum;    // n: sequences (leaves 1..n)
extern int seqLength; // L: sites 1..L
extern int DIM;       // 2n-1 records in node and in every tree

// Every record of node, branch, gapTree and copyTree starts cleared (children, parents,
// depths, lengths, flags 0; names empty).
extern NODE* node;              // records 0..2n-2
extern BranchRecord* branch;    // entries 0..2n-3, used 1..2n-3
extern SiteTreeNode** gapTree;  // trees 0..L+1, records 0..2n-2, one block; trees 1..L share vectors
extern SiteTreeNode** copyTree; // trees 0..1; tree 0 holds the rooted copy
extern int* treeRoot;           // 1..L; 0 for a site left out
extern char* dashFlag;          // 1..L: the column holds a gap
extern char* calFlag;           // 1..L: gapped but still computed
extern double* alfa;            // 0..L, rate of each site
extern int* gapNumber;          // 1..L

// Reads the alignment file, writes the input table into resultFile, folds the letters to
// residue codes and allocates the stores above. Every fault of the file ends the program.
void readali(const char* path);
// A column of the given number of gaps keeps letters enough for a tree: at least three. A
// gapped site is computed (calFlag) under this rule.
bool lettersForTree(int gaps);
// The site is computed: it has no gap, or is gapped and still computed.
bool computedSite(int s);
// Sets dashFlag and calFlag, recomputes the leaf codes and clears the inner records' codes.
void searchGap();
// Ends the program when no site is computed (every column has fewer than three letters).
void checkComputedSites();
// Ends the program when every computed site holds one and the same residue.
void checkResidueTypes();

// The residue code of a letter after folding: 1..20 for a residue (either case), else 0.
int residueCode(char c);

// The reader's lists and texts; memory running out throws std::bad_alloc, which the reader
// reports with the file it was reading.
char* mymalloc(int size);
char* strsave(const char* s);
char* strnsave(const char* s, int n);
// The list of n entries with an empty entry n added; a list of n > 0 entries must come from
// these routines, which keep room beyond its entries.
char** incbuf(int n, char** list);
int* incibuf(int n, int* list);
char* ccvector(long lo, long hi);
// Trees rl..rh of records cl..ch in one block; records and vectors are cleared, unlike the
// numerical library's matrices. Every tree has vectors of its own, except that trees
// sharedLow..sharedHigh (none by default) share one set: a process computes one site at a
// time, so the sites' trees need one vector per record between them, not one each.
SiteTreeNode** topmatrix(long rl, long rh, long cl, long ch, long sharedLow = 1, long sharedHigh = 0);
// Tree to becomes a copy of tree from, records 0..DIM-1 with the values of their vectors; the
// records of to keep their own vectors.
void copyTreeRecords(SiteTreeNode* to, const SiteTreeNode* from);

#endif
