// The builder's file helpers and the fatal error of its input and output.
#ifndef WNJ_IO_H
#define WNJ_IO_H

#include <cstdio>

namespace wnj {

// The system's reason (perror), then msg on standard error; ends the process with status 1.
[[noreturn]] void printError(const char* msg);

// The open stream, or the end of the process with a message naming the path.
FILE* openRead(const char* path);
FILE* openWrite(const char* path);

// A distance matrix in Phylip form: the count, then per row a name and its distances, as
// a full square or a lower triangle with or without the diagonal. *D becomes a matrix(n),
// symmetric from its lower triangle, and *names n names of their own. Returns 0 when no
// count can be read, else 1.
int readPhylipFile(FILE* file, int* n, double*** D, char*** names);

} // namespace wnj

#endif
