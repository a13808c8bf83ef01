// The builder's file helpers and the fatal error of its input and output.
#ifndef WNJ_IO_H
#define WNJ_IO_H

#include <atomic>
#include <cstdio>
#include <string>

namespace wnj {

// The system's reason (perror), then msg on standard error; ends the process with status 1.
[[noreturn]] void printError(const char* msg);

// The open stream, or the end of the process with a message naming the path.
FILE* openRead(const char* path);
FILE* openWrite(const char* path);
// The message of openWrite for a file that cannot be created, and the end of the process.
[[noreturn]] void cannotCreate(const char* path);

// A file that takes its name only once it is complete: it is written under a temporary name beside
// its path and then renamed, so that a reader, or another job writing the same path at the same
// time, finds one whole file and never a mix of two. Nothing is left behind on failure, nor when
// the file is dropped unfinished.
class WholeFile {
  public:
    WholeFile() = default;
    // The list of unfinished files holds this object itself.
    WholeFile(const WholeFile&) = delete;
    WholeFile& operator=(const WholeFile&) = delete;
    ~WholeFile();

    // False when path cannot be created, as opening it would fail (a missing folder, a folder of
    // that name); errno says why.
    bool open(const char* path);
    FILE* stream() const { return file; }
    // False when the text could not be written in full or the file not renamed; errno says why.
    bool close();

  private:
    friend void removeUnfinishedFiles();
    void track();
    void untrack();
    void discard();

    FILE* file = nullptr;
    std::string path;
    std::string temporary;
    std::atomic<WholeFile*> nextUnfinished{nullptr};
};

// Removes the temporary file of every WholeFile of this process that is open, for a process that
// is ended before they are complete (a fault, an interrupt). Safe in a signal handler.
void removeUnfinishedFiles();

// A distance matrix in Phylip form: the count, then per row a name and its distances, as
// a full square or a lower triangle with or without the diagonal. *D becomes a matrix(n),
// symmetric from its lower triangle, and *names n names of their own. Returns 0 when no
// count can be read, else 1.
int readPhylipFile(FILE* file, int* n, double*** D, char*** names);

} // namespace wnj

#endif
