#include "settings.h"

#include <cstdlib>
#include <sys/stat.h>

int refineFlag = 1;
double gapForEst = 0.5;
char EntropyEstimatedFlag = 0;
char pseudoSitePIFlag = 0;
FILE* resultFile = stdout;

std::string alignmentPath;
std::string treePath;
std::string resultPath;
char treeFlag = 0;
std::string rootProbPath;
std::string partialResultPath;

bool sameFile(const std::string& a, const std::string& b) {
    struct stat x, y;
    bool aExists = stat(a.c_str(), &x) == 0, bExists = stat(b.c_str(), &y) == 0;
    if (aExists && bExists) return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
    return aExists == bExists && absolutePath(a) == absolutePath(b);
}

std::string absolutePath(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    char* resolved = realpath(folder.c_str(), nullptr);
    if (!resolved) return path;
    std::string absolute = std::string(resolved) + "/" + path.substr(slash + 1);
    std::free(resolved);
    return absolute;
}

int min(int a, int b) {
    return a < b ? a : b;
}
