// The settings of a dadiverur run, as the command line gives them, and its file paths.
//
// The start-up sets them once; every unit below it reads them.
#ifndef CORE_SETTINGS_H
#define CORE_SETTINGS_H

#include <cstdio>
#include <string>

extern int refineFlag;            // 1 default, 0 -O, 2 -C, 3 -M, 4 -V
extern double gapForEst;          // -G
extern char EntropyEstimatedFlag; // -E
extern char pseudoSitePIFlag;     // -P
extern FILE* resultFile;          // -o, else standard output; nowhere on ranks other than 0

// The input paths of the command line; empty when not given.
extern std::string alignmentPath; // -i
extern std::string treePath;      // -t
extern std::string resultPath;    // -o
extern char treeFlag;             // 1: a tree file was given
extern std::string rootProbPath;  // -r
// Where a job that fails or is interrupted leaves what it had written of its result: the -o path
// with ".partial" appended (its name cut short where the folder could not hold it). While the job
// runs, the result is written under a temporary name of its own beside the -o file. Empty without
// -o, outside a job and for an -o that is a device or a pipe: these are written in place.
extern std::string partialResultPath;

// Two names of one existing file, or the same path (also of files not there yet).
bool sameFile(const std::string& a, const std::string& b);
// The absolute path of a file that need not exist: its folder resolved, its name as given.
std::string absolutePath(const std::string& path);

int min(int a, int b);

#endif
