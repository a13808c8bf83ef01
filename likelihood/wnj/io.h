// Fatal errors of the builder's input and output.
#ifndef WNJ_IO_H
#define WNJ_IO_H

namespace wnj {

// The system's reason (perror), then msg on standard error; ends the process with status 1.
[[noreturn]] void printError(const char* msg);

} // namespace wnj

#endif
