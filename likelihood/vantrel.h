// Start-up of dadiverur: the settings, the command line and the fixed preparation sequence.
#ifndef CORE_VANTREL_H
#define CORE_VANTREL_H

#include <cstdio>

extern int refineFlag;             // 1 default, 0 -O, 2 -C, 3 -M, 4 -V
extern double gapForEst;           // -G
extern char EntropyEstimatedFlag;  // -E
extern char pseudoSitePIFlag;      // -P
extern FILE* resultFile;           // -o, else standard output

// The job this process belongs to, set by the program before main_function: the number of
// processes, this process's rank and the largest message tag. jobSize 0 means the core runs
// outside a job (unit tests), where no process count is checked and this process writes.
extern int jobSize;
extern int jobRank;
extern long jobTagLimit;

// Parses the options and runs the preparation; returns when it is complete.
void main_function(int argc, char** argv);
[[noreturn]] void usage();
int min(int a, int b);

#endif
