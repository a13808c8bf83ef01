// Ending the job for a fault that every process meets alike.
//
// Every process reads the same inputs and runs the same preparation, so a fault in them is met by
// all at once; the report is printed once, by rank 0, and the job ends through fatalExit (the
// program's hook ends the whole job). The readers, the distances and the start-up stop through here.
#ifndef NUMERICS_FAULT_H
#define NUMERICS_FAULT_H

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>

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

// A file the run can not open or write: "can not ACTION file:PATH" on standard output, the line
// that has always said so, and the system's reason on standard error.
void printFileFailure(const char* action, const char* path, const std::string& reason);

#endif
