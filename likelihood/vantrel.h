// Start-up of dadiverur: the settings, the command line and the fixed preparation sequence.
#ifndef CORE_VANTREL_H
#define CORE_VANTREL_H

#include "numerics/job.h"

#include <cstdarg>
#include <cstdio>
#include <functional>
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
// The file the result is written into while the job runs, the -o path with ".partial" appended;
// empty without -o, outside a job and for an -o that is a device or a pipe: these are written in
// place.
extern std::string partialResultPath;

// Installed by the program: waits while rank 0 reports a fault and ends the job; returns
// after a grace period should that end not come.
using AwaitJobEndHook = void (*)();
extern AwaitJobEndHook awaitJobEndHook;

// Ends the job for a fault that every process of the job meets alike (same words, same files):
// the report is printed once. A process other than rank 0 first waits for rank 0 to print it and
// end the job, so no abort cuts the report short; it prints the report itself only when that end
// does not come. Outside a job the report is printed at once. Status 1.
[[noreturn]] void sharedFault(const std::function<void()>& report);
// The text that vprintf would print for format and args.
std::string formatText(const char* format, va_list args);
// The same for a report of one formatted text on the given stream.
[[noreturn]] __attribute__((format(printf, 2, 3))) void sharedFault(FILE* stream, const char* format, ...);

// Parses the options and runs the preparation; returns when it is complete.
void main_function(int argc, char** argv);
// The two halves of main_function after the model storage is allocated.
void parseOptions(int argc, char** argv);
void runPreparation();
// Ends the job unless it has 2..seqLength processes and every site can be a message tag.
void checkProcessCount();

// Gives the finished result the -o path, in place of the earlier one: on rank 0, once the final
// tables are written and the result file closed.
void finishResultFile();

// Two names of one existing file, or the same path (also of files not there yet).
bool sameFile(const std::string& a, const std::string& b);

[[noreturn]] void usage();
int min(int a, int b);

#endif
