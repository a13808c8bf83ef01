#include "wnj/io.h"

#include "wnj/matrix.h"

#include "numerics/matrixalgebra.h"

#include <cerrno>
#include <climits>
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

// A path as the folder its file goes into, as written with its closing slash (empty for the
// working folder), and the file's name.
struct PathParts {
    std::string folder;
    std::string name;
};

PathParts splitPath(const std::string& path) {
    std::size_t start = path.rfind('/') + 1; // 0 without a slash
    return {path.substr(0, start), path.substr(start)};
}

const char* folderToOpen(const PathParts& parts) {
    return parts.folder.empty() ? "." : parts.folder.c_str();
}

// The longest file name the folder takes; for a folder that is not there, the usual limit, and
// its opening says what is wrong.
std::size_t nameLimit(const PathParts& parts) {
    long limit = pathconf(folderToOpen(parts), _PC_NAME_MAX);
    return limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
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

std::string nameBeside(const std::string& path, const std::string& suffix) {
    PathParts parts = splitPath(path);
    std::size_t limit = nameLimit(parts);
    std::size_t room = limit > suffix.size() ? limit - suffix.size() : 0;
    if (parts.name.size() > room) {
        // A name cut inside a character of several bytes (UTF-8) would end in a byte no one wrote.
        while (room > 0 && (static_cast<unsigned char>(parts.name[room]) & 0xC0) == 0x80) room--;
        parts.name.resize(room);
    }
    return parts.folder + parts.name + suffix;
}

bool canBeCreated(const char* path) {
    struct stat status;
    if (stat(path, &status) == 0 && S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        return false;
    }
    PathParts parts = splitPath(path);
    if (parts.name.size() > nameLimit(parts)) {
        errno = ENAMETOOLONG;
        return false;
    }
    return access(folderToOpen(parts), W_OK | X_OK) == 0;
}

bool WholeFile::open(const char* target, const std::string& left) {
    // Also what only the renaming would meet, at the end: a name too long for its folder.
    if (!canBeCreated(target)) return false;
    path = target;
    leftName = left;
    temporary = nameBeside(path, ".XXXXXX");
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

void WholeFile::abandon() const {
    if (!leftName.empty() && std::rename(temporary.c_str(), leftName.c_str()) == 0) return;
    unlink(temporary.c_str());
}

void WholeFile::discard() {
    // errno stays that of the failure being reported.
    int reason = errno;
    abandon();
    errno = reason;
    untrack();
}

void abandonUnfinishedFiles() {
    for (WholeFile* file = unfinished; file; file = file->nextUnfinished) file->abandon();
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
