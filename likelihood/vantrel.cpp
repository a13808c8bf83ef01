#include "vantrel.h"

#include "alignment.h"
#include "branchlength.h"
#include "distance.h"
#include "linereader.h"
#include "model.h"
#include "numerics/matrixalgebra.h"
#include "rates.h"
#include "rooting.h"
#include "rootprob.h"
#include "sitetree.h"
#include "treefile.h"
#include "wnj/io.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::time_t startTime = 0;
// The file the finished result takes the place of: the -o path, or the file it links to.
std::string finalResultPath;
// The result while the job runs, under a name of its own, so that jobs writing one -o path at
// the same time never mix their tables.
wnj::WholeFile unfinishedResult;

// The open failure of a file to write: the path and the system's reason.
[[noreturn]] void cannotOpenForWriting(const char* path) {
    std::printf("can not open file:%s: %s\n", path, std::strerror(errno));
    fatalExit(1);
}

FILE* openForWriting(const char* path) {
    FILE* file = std::fopen(path, "w");
    if (!file) cannotOpenForWriting(path);
    return file;
}

void printUsage() {
    std::printf(
        "Usage: dadiverur [-O/-C] [-D] [-R/-RO [-Z]] [-PD/-PA/-PP/-PS] [-G] -i sequencefile [-t treefile] "
        "[-o outputfile] -T function file\n");
    std::printf("       DEFAULT: use constant alfa (1.0) and Goldstein method to find the optimal solution "
                "(lower precision)\n");
    std::printf("       -O:  optimize alfa (more time and higher precision)\n");
    std::printf("       -C:  calculate correlated alfa (less time and high precision)\n");
    std::printf("       -D:  Use Veskar method to find the optimal solution\n");
    std::printf("       -R:  Reconstruct sequence for biological root and all internal nodes\n");
    std::printf("       -RO: Only reconstruct sequence for the biological root\n");
    std::printf("       -Z:  Predict functional sites, should be used with -R/-RO\n");
    std::printf("       -PP: Optimize PI vector with Powell method\n");
    std::printf("       -PD: Optimize PI vector with Downhill Simplex Method in Multidimensions\n");
    std::printf("       -PA: Optimize PI vector with Continuous Minimization by Simulated Annealing\n");
    std::printf("       -PS: Optimize PI vector for each site with Continuous Minimization by Simulated "
                "Annealing\n");
    std::printf(
        "       -G:  Non-gap number or percentage (>=3 or =0~1), no estimated alpha used at that site "
        "if non-gap number is less\n");
    std::printf("       -i   name: read sequences from file\n");
    std::printf("       -t   name: read tree structure from file or use wnj method to produce tree file\n");
    std::printf("       -o   name: write the result into file or standard output device\n");
    std::printf("       -P   use psudocount freq for each site to do simulation\n");
}

// The usage text, then the one line that says what is wrong with the command line.
[[noreturn]] void refuseCommandLine(const std::string& reason) {
    sharedFault([&] {
        printUsage();
        std::fflush(stdout);
        std::fprintf(stderr, "dadiverur: %s\n", reason.c_str());
    });
}

// A word that the parser takes as an option; as the value of an option it means that the
// value was left out.
bool isOptionWord(const char* word) {
    return word[0] == '-' && std::isalpha(static_cast<unsigned char>(word[1]));
}

// The word after word i, the value of the option word i.
const char* optionValue(int argc, char** argv, int& i) {
    std::string option = argv[i];
    if (i + 1 >= argc) refuseCommandLine(option + " needs a value");
    const char* value = argv[++i];
    if (isOptionWord(value)) refuseCommandLine(option + " needs a value, not the option " + value);
    return value;
}

// The value of an option that names a file: an empty word names none, and would otherwise pass
// for the option left out (-r) or for standard output (-o).
const char* pathValue(int argc, char** argv, int& i) {
    std::string option = argv[i];
    const char* value = optionValue(argc, argv, i);
    if (*value == '\0') refuseCommandLine(option + " needs a path, not an empty word");
    return value;
}

// A number as a researcher writes it, by the rule every reader of the job uses (no hexadecimal,
// no infinity, no blanks), and within the range of a double.
bool readDecimal(const char* text, double& value) {
    if (!isDecimalNumber(text)) return false;
    value = std::strtod(text, nullptr);
    return std::isfinite(value);
}

void setGapForEst(const std::string& option, const char* value) {
    if (!readDecimal(value, gapForEst))
        refuseCommandLine(option + " takes a decimal number, not \"" + value + "\"");
    if (gapForEst < 0 || (gapForEst > 1.0000000001 && gapForEst < 2.999999999))
        refuseCommandLine(option + " takes a fraction from 0 to 1 or a number of letters from 3 on, not " +
                          value);
}

// A file the run reads or writes, as its messages name it.
struct RunFile {
    std::string path;
    std::string kind;
    std::string option;
};

std::vector<RunFile> inputFiles() {
    std::vector<RunFile> files{{alignmentPath, "alignment file", "-i"}};
    if (treeFlag) files.push_back({treePath, "tree file", "-t"});
    if (!rootProbPath.empty()) files.push_back({rootProbPath, "root-probability file", "-r"});
    return files;
}

std::vector<RunFile> resultFiles() {
    if (resultPath.empty()) return {};
    std::vector<RunFile> files{{resultPath, "result file", "-o"}};
    if (!partialResultPath.empty()) files.push_back({partialResultPath, "partial result file", "-o"});
    return files;
}

// Every process reads the inputs itself: a pipe or a terminal gives its data to one process only,
// a device may never end, and a folder holds no data.
void checkInputsAreFiles() {
    for (const RunFile& input : inputFiles()) {
        struct stat status;
        if (stat(input.path.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
            sharedFault(stderr, "%s is not a regular file; dadiverur reads its inputs on every process\n",
                        input.path.c_str());
    }
}

void checkAlignmentOpens() {
    FILE* file = std::fopen(alignmentPath.c_str(), "r");
    if (!file) {
        std::string reason = std::strerror(errno);
        sharedFault([&] { printFileFailure("open", alignmentPath.c_str(), reason); });
    }
    std::fclose(file);
}

// The file a link names, so that the finished result replaces it and the link still leads there.
std::string linkedFile(const std::string& path) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    char* target = realpath(path.c_str(), nullptr);
    if (!target) return path;
    std::string file = target;
    std::free(target);
    return file;
}

// A device or a pipe given as -o holds no earlier result to keep and is written in place, as is
// the result file of a run outside a job, which has no job end to give it its name.
void planResultFile() {
    struct stat status;
    if (resultPath.empty() || jobSize == 0) return;
    if (stat(resultPath.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode))
        return;
    finalResultPath = linkedFile(resultPath);
    partialResultPath = wnj::nameBeside(finalResultPath, ".partial");
}

// Nothing the run writes may be a file it reads: opening it would empty it.
void checkOutputPaths() {
    for (const RunFile& result : resultFiles())
        for (const RunFile& input : inputFiles())
            if (sameFile(result.path, input.path))
                sharedFault(stderr, "The %s %s (%s) is the %s (%s) %s; choose another result file\n",
                            result.kind.c_str(), result.path.c_str(), result.option.c_str(),
                            input.kind.c_str(), input.option.c_str(), input.path.c_str());
    if (!treeFlag) checkBuiltFilePaths(alignmentPath);
}

// The finished result takes the place of the -o file, which is checked as opening it for writing
// would check it: a folder, or a file that may not be written, is refused.
void openResultFile() {
    if (resultPath.empty() || !writesFiles()) return;
    if (partialResultPath.empty()) {
        resultFile = openForWriting(resultPath.c_str());
        return;
    }
    struct stat status;
    bool exists = stat(finalResultPath.c_str(), &status) == 0;
    if (exists && S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        cannotOpenForWriting(resultPath.c_str());
    }
    if (exists && access(finalResultPath.c_str(), W_OK) != 0) cannotOpenForWriting(resultPath.c_str());
    if (!unfinishedResult.open(finalResultPath.c_str(), partialResultPath))
        cannotOpenForWriting(resultPath.c_str());
    resultFile = unfinishedResult.stream();
    // A result kept from other eyes stays so.
    if (exists) fchmod(fileno(resultFile), status.st_mode & 07777);
}

// Says once how many branches of the tree in node (every record but the top node) the
// likelihood and the simulations take at the shortest model length.
void reportRaisedBranches() {
    int raised = 0;
    for (int k = 1; k <= 2 * seqNum - 2; k++)
        if (k != seqNum + 1 && node[k].length < MIN_BRANCH_LENGTH) raised++;
    if (raised > 0 && writesFiles())
        std::printf("%d of the %d branches of the tree are shorter than 1e-6 and are taken as 1e-6\n", raised,
                    2 * seqNum - 3);
}

} // namespace

void usage() {
    sharedFault(printUsage);
}

void finishResultFile() {
    if (partialResultPath.empty()) return;
    // Nothing may reach the closed stream, not even the flush of a fatal end.
    resultFile = nullptr;
    if (!unfinishedResult.close()) {
        std::fprintf(stderr, "can not write the result file %s: %s\n", finalResultPath.c_str(),
                     std::strerror(errno));
        fatalExit(1);
    }
    // What an earlier job that failed left is older than this result.
    unlink(partialResultPath.c_str());
}

void parseOptions(int argc, char** argv) {
    if (argc <= 1) usage();
    for (int i = 1; i < argc; i++) {
        const char* word = argv[i];
        if (word[0] != '-') refuseCommandLine(std::string(word) + " is not an option");
        switch (word[1]) {
        case 'O':
            refineFlag = 0;
            break;
        case 'C':
            refineFlag = 2;
            break;
        case 'M':
            refineFlag = 3;
            break;
        case 'V':
            refineFlag = 4;
            break;
        case 'E':
            EntropyEstimatedFlag = 1;
            break;
        case 'P':
            pseudoSitePIFlag = 1;
            break;
        case 'D':
        case 'R':
            break;
        case 'G':
            setGapForEst(word, optionValue(argc, argv, i));
            break;
        case 'i':
            alignmentPath = pathValue(argc, argv, i);
            break;
        case 'o':
            resultPath = pathValue(argc, argv, i);
            break;
        case 'r':
            rootProbPath = pathValue(argc, argv, i);
            break;
        case 't':
            treePath = pathValue(argc, argv, i);
            treeFlag = 1;
            break;
        case 'Z':
        case 'T':
            refuseCommandLine(std::string(word) + " is not supported");
        default:
            refuseCommandLine(std::string(word) + " is not an option");
        }
    }
    // The alignment is the one input every run needs.
    if (alignmentPath.empty()) refuseCommandLine("the alignment file (-i) is required");
    checkInputsAreFiles();
    checkAlignmentOpens();
    planResultFile();
    // Before anything is written: opening a file empties it.
    checkOutputPaths();
    openResultFile();
}

void checkProcessCount() {
    if (jobSize == 0) return;
    bool countFits = jobSize >= 2 && jobSize <= seqLength;
    bool tagsFit = seqLength <= jobTagLimit;
    if (countFits && tagsFit) return;
    if (!tagsFit)
        sharedFault(stderr,
                    "dadiverur: the alignment has %d sites, more than the largest message tag of this MPI "
                    "library (%ld)\n",
                    seqLength, jobTagLimit);
    sharedFault(stderr,
                "dadiverur: started with %d processes, but this alignment of %d sites needs 2 to %d "
                "(one master and at most one worker per site)\n",
                jobSize, seqLength, seqLength);
}

void runPreparation() {
    startTime = std::time(nullptr);
    init_S();
    readali(alignmentPath.c_str());
    checkProcessCount();
    searchGap();
    checkComputedSites();
    checkResidueTypes();
    cal_PI();
    cal_Q(PI);
    cal_Eign();
    alpha();
    if (treeFlag)
        readTree(treePath.c_str());
    else
        cal_dist(alignmentPath.c_str());
    reportRaisedBranches();
    assignTree();
    std::printf("Finish assign tree\n");
    branchNo = 0;
    assignBranch(seqNum + 1);
    std::printf("Finish assign branch\n");
    std::printf("Prepare time: %ds\n", static_cast<int>(std::time(nullptr) - startTime));
    readRootProbMatrix(rootProbPath.c_str());
    std::printf("finish reading RootProbMatrix\n");
    findMidpoint();
    // The preparation's tables and the chosen root are in the result file before the final
    // phase, which may run for hours.
    std::fflush(resultFile);
}

void main_function(int argc, char** argv) {
    allocateModelStorage();
    if (!writesFiles()) resultFile = openForWriting("/dev/null");
    parseOptions(argc, argv);
    runPreparation();
}
