// The alignment reader and the per-node, per-tree and per-site stores it allocates.
#ifndef CORE_ALIGNMENT_H
#define CORE_ALIGNMENT_H

#include "records.h"

// The residue alphabet: code 0 is the gap, codes 1..20 the residues.
extern const char aa[];

// The reader's lists, in input order.
extern int nal;       // number of sequences
extern int alilen;    // alignment length
extern char** aname;  // sequence names, closed by a null entry
extern char** aseq;   // sequence texts
extern int* astart;   // start numbers (0 where absent)
extern int* alen;     // alphabetic characters per sequence

extern int seqNum;    // n: sequences (leaves 1..n)
extern int seqLength; // L: sites 1..L
extern int DIM;       // 2n-1 records in node and in every tree

extern NODE* node;                // records 0..2n-2
extern BranchRecord* branch;      // entries 1..2n-3
extern SiteTreeNode** gapTree;    // trees 0..L+1, records 0..2n-2
extern SiteTreeNode** copyTree;   // trees 0..1; tree 0 holds the rooted copy
extern int* treeRoot;             // 1..L; 0 for a site left out
extern char* dashFlag;            // 1..L: the column holds a gap
extern char* calFlag;             // 1..L: gapped but still computed
extern double* alfa;              // 0..L, rate of each site
extern int* gapNumber;            // 1..L

void readali(const char* path);
void searchGap();

char* mymalloc(int size);
char* strsave(const char* s);
char* strnsave(const char* s, int n);
char** incbuf(int n, char** list);
int* incibuf(int n, int* list);
char* ccvector(long lo, long hi);
SiteTreeNode** topmatrix(long rl, long rh, long cl, long ch);

#endif
