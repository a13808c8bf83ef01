// Start-up of dadiverur: the command line and the fixed preparation sequence.
#ifndef CORE_VANTREL_H
#define CORE_VANTREL_H

#include "numerics/fault.h"
#include "numerics/job.h"
#include "settings.h"

// Parses the options and runs the preparation; returns when it is complete.
void main_function(int argc, char** argv);
// The two halves of main_function after the model storage is allocated.
void parseOptions(int argc, char** argv);
void runPreparation();
// Ends the job unless it has 2..seqLength processes and every site can be a message tag.
void checkProcessCount();

// Closes the finished result and gives it the -o path, in place of the earlier one: on rank 0,
// once the final tables are written.
void finishResultFile();

[[noreturn]] void usage();

#endif
