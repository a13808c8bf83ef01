#include "wnj/io.h"

#include "wnj/matrix.h"

#include "numerics/matrixalgebra.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace wnj {

void printError(const char* msg) {
    std::perror("weigbor::io");
    std::fprintf(stderr, "%s\n", msg);
    fatalExit(1);
}

namespace {

[[noreturn]] void openFailure(const char* path, const char* purpose, const char* tag) {
    std::fprintf(stderr, "%s could not be open for %s\n", path, purpose);
    std::perror(tag);
    fatalExit(1);
}

FILE* openOrFail(const char* path, const char* mode, const char* purpose, const char* tag) {
    FILE* file = std::fopen(path, mode);
    if (!file) openFailure(path, purpose, tag);
    return file;
}

// Leaves errno as it was on the failure being reported.
void removeQuietly(const std::string& path) {
    int reason = errno;
    unlink(path.c_str());
    errno = reason;
}

// The open WholeFiles, the newest first. A signal handler may walk the list while the process
// changes it, so every change is one store of a link.
std::atomic<WholeFile*> unfinished{nullptr};

// Reads the name of a row into its own allocation.
char* readName(FILE* file) {
    char buffer[96];
    // One byte of the buffer ends the string, so a longer word is read in no more than 95.
    if (std::fscanf(file, "%95s", buffer) != 1) printError("File format error-1");
    char* name = static_cast<char*>(std::malloc(std::strlen(buffer) + 1));
    if (!name) printError("File format error-Out of memory");
    std::strcpy(name, buffer);
    return name;
}

} // namespace

FILE* openRead(const char* path) {
    return openOrFail(path, "r", "reading", "wnj::io::openRead");
}

FILE* openWrite(const char* path) {
    return openOrFail(path, "w", "writing", "wnj::io::openWrite");
}

void cannotCreate(const char* path) {
    openFailure(path, "writing", "wnj::io::openWrite");
}

bool WholeFile::open(const char* target) {
    struct stat status;
    if (stat(target, &status) == 0 && S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        return false;
    }
    path = target;
    temporary = path + ".XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0) return false;
    track();
    // The permissions that creating path itself would give.
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, 0666 & ~mask) == 0) file = fdopen(fd, "w");
    if (file) return true;
    int reason = errno;
    ::close(fd);
    errno = reason;
    discard();
    return false;
}

bool WholeFile::close() {
    // A full disk shows only here; a file cut short must not pass for a whole one.
    bool failed = std::ferror(file) != 0;
    failed = std::fclose(file) != 0 || failed;
    file = nullptr;
    if (!failed && std::rename(temporary.c_str(), path.c_str()) == 0) {
        untrack();
        return true;
    }
    discard();
    return false;
}

WholeFile::~WholeFile() {
    if (!file) return;
    std::fclose(file);
    discard();
}

void WholeFile::track() {
    nextUnfinished = unfinished.load();
    unfinished = this;
}

void WholeFile::untrack() {
    for (std::atomic<WholeFile*>* link = &unfinished; *link; link = &link->load()->nextUnfinished)
        if (*link == this) {
            *link = nextUnfinished.load();
            return;
        }
}

void WholeFile::discard() {
    removeQuietly(temporary);
    untrack();
}

void removeUnfinishedFiles() {
    for (WholeFile* file = unfinished; file; file = file->nextUnfinished) unlink(file->temporary.c_str());
}

int readPhylipFile(FILE* file, int* n, double*** D, char*** names) {
    if (std::fscanf(file, "%d", n) != 1) return 0;
    int count = *n;
    *names =
        static_cast<char**>(std::malloc(sizeof(char*) * static_cast<std::size_t>(count > 0 ? count : 1)));
    if (!*names) printError("File format error-Out of memory");
    double** m = matrix(count);
    bool triangle = false;
    for (int i = 0; i < count; i++) {
        (*names)[i] = readName(file);
        int columns = triangle ? i + 1 : count;
        for (int j = 0; j < columns; j++) {
            if (std::fscanf(file, "%lf", &m[i][j]) == 1) continue;
            // A row may end at its diagonal (or just after it on the first row of a triangle).
            if (j != i && (triangle || j != i + 1)) printError("File format error-2");
            triangle = true;
            break;
        }
    }
    for (int i = 0; i < count; i++)
        for (int j = 0; j < i; j++) m[j][i] = m[i][j];
    *D = m;
    return 1;
}

} // namespace wnj
