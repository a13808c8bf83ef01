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

// The name of a file beside path: path with suffix appended, its file name cut short where the
// folder could not hold one that long, so that a valid path always has its companion files.
std::string nameBeside(const std::string& path, const std::string& suffix);

// False when path could not be created, as opening it for writing would fail: a folder that is not
// there or may not be written, a folder of that name, a name too long; errno says why. Checks
// without creating anything, so that a run refuses before its work what it could not write after.
bool canBeCreated(const char* path);

// A file that takes its name only once it is complete: it is written under a temporary name of its
// own beside its path (unique, so that no other job or process writes it) and then renamed, so
// that a reader, or another job writing the same path at the same time, finds one whole file and
// never a mix of two. A file left unfinished (a failure, a file dropped, a process ended) is
// removed, or renamed to the name given for what is left, where what was written stays readable
// without passing for the finished file.
class WholeFile {
  public:
    WholeFile() = default;
    // The list of unfinished files holds this object itself.
    WholeFile(const WholeFile&) = delete;
    WholeFile& operator=(const WholeFile&) = delete;
    ~WholeFile();

    // False when path cannot be created, as opening it would fail (a missing folder, a folder of
    // that name); errno says why. leftName: where an unfinished file goes; empty: it is removed.
    bool open(const char* path, const std::string& leftName = "");
    FILE* stream() const { return file; }
    // False when the text could not be written in full or the file not renamed; errno says why.
    bool close();

  private:
    friend void abandonUnfinishedFiles();
    void track();
    void untrack();
    void abandon() const;
    void discard();

    FILE* file = nullptr;
    std::string path;
    std::string temporary;
    std::string leftName;
    std::atomic<WholeFile*> nextUnfinished{nullptr};
};

// Removes the temporary file of every WholeFile of this process that is open, or gives it its
// name for what is left, for a process that is ended before they are complete (a fault, an
// interrupt). Safe in a signal handler.
void abandonUnfinishedFiles();

// A distance matrix in Phylip form: the count, then per row a name and its distances, as
// a full square or a lower triangle with or without the diagonal. *D becomes a matrix(n),
// symmetric from its lower triangle, and *names n names of their own. Returns 0 when no
// count can be read, else 1.
int readPhylipFile(FILE* file, int* n, double*** D, char*** names);

} // namespace wnj

#endif
