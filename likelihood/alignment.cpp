#include "alignment.h"

#include "linereader.h"
#include "numerics/fault.h"
#include "numerics/matrixalgebra.h"
#include "settings.h"

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

const char aa[] = "-ARNDCQEGHILKMFPSTWYV";

int nal = 0;
int alilen = 0;
char** aname = nullptr;
char** aseq = nullptr;
int* astart = nullptr;
int* alen = nullptr;

int seqNum = 0;
int seqLength = 0;
int DIM = 0;

NODE* node = nullptr;
BranchRecord* branch = nullptr;
SiteTreeNode** gapTree = nullptr;
SiteTreeNode** copyTree = nullptr;
int* treeRoot = nullptr;
char* dashFlag = nullptr;
char* calFlag = nullptr;
double* alfa = nullptr;
int* gapNumber = nullptr;

// ---- the list and buffer routines --------------------------------------------------------

char* mymalloc(int size) {
    char* block = static_cast<char*>(std::malloc(size > 0 ? size : 1));
    if (!block) throw std::bad_alloc();
    return block;
}

char* strsave(const char* s) {
    return strnsave(s, static_cast<int>(std::strlen(s)));
}

char* strnsave(const char* s, int n) {
    char* copy = mymalloc(n + 1);
    std::memcpy(copy, s, n);
    copy[n] = '\0';
    return copy;
}

namespace {

// Room for n entries in a list that grows one entry at a time: the next power of two.
std::size_t listRoom(std::size_t n) {
    std::size_t room = 1;
    while (room < n) room *= 2;
    return room;
}

// The list of n entries grown by one. Lists grown here have room for a power of two of
// entries, so a list grown one entry at a time up to tens of thousands of sequences is moved
// only when it fills up, not copied at every entry; an empty list (n 0) holds nothing to keep.
template <typename T> T* grownList(int n, T* list) {
    std::size_t entries = static_cast<std::size_t>(n) + 1;
    if (n > 0 && entries <= listRoom(static_cast<std::size_t>(n))) {
        list[n] = T();
        return list;
    }
    std::size_t size = listRoom(entries) * sizeof(T);
    T* grown = static_cast<T*>(n > 0 ? std::realloc(list, size) : std::malloc(size));
    if (!grown) throw std::bad_alloc();
    grown[n] = T();
    return grown;
}

} // namespace

char** incbuf(int n, char** list) {
    return grownList(n, list);
}

int* incibuf(int n, int* list) {
    return grownList(n, list);
}

char* ccvector(long lo, long hi) {
    char* v = static_cast<char*>(std::malloc(hi - lo + 2));
    if (!v) nrerror("allocation failure in cvector()");
    return v - lo + 1;
}

namespace {

// rows x columns records of type T (and one spare), cleared, in one request; null when the
// count overflows.
template <typename T> T* clearedBlock(long rows, long columns) {
    long count;
    if (__builtin_mul_overflow(rows, columns, &count) || count == LONG_MAX) return nullptr;
    return static_cast<T*>(std::calloc(count + 1, sizeof(T)));
}

using Vector = double[21];

} // namespace

SiteTreeNode** topmatrix(long rl, long rh, long cl, long ch, long sharedLow, long sharedHigh) {
    long nrow = rh - rl + 1, ncol = ch - cl + 1;
    SiteTreeNode** m = static_cast<SiteTreeNode**>(std::malloc((nrow + 1) * sizeof(SiteTreeNode*)));
    if (!m) nrerror("allocation failure 1 in matrix()");
    m = m + 1 - rl;
    // Cleared in one request: the per-site trees are large, and the pruning and rooting rely
    // on every record starting with no children, no parent and no flags.
    SiteTreeNode* data = clearedBlock<SiteTreeNode>(nrow, ncol);
    if (!data) nrerror("allocation failure 2 in matrix()");
    long shared = sharedHigh >= sharedLow ? sharedHigh - sharedLow + 1 : 0;
    long sets = nrow - shared + (shared > 0 ? 1 : 0);
    Vector* vectors = clearedBlock<Vector>(sets, ncol);
    if (!vectors) nrerror("allocation failure 3 in matrix()");
    m[rl] = data + 1 - cl;
    for (long i = rl + 1; i <= rh; i++) m[i] = m[i - 1] + ncol;
    // Set 0 is the shared one (when there is one); the other trees take the next sets in turn.
    long nextSet = shared > 0 ? 1 : 0;
    for (long i = rl; i <= rh; i++) {
        bool inShared = i >= sharedLow && i <= sharedHigh;
        Vector* set = vectors + (inShared ? 0 : nextSet++) * ncol;
        for (long k = 0; k < ncol; k++) m[i][cl + k].vec = set[k];
    }
    return m;
}

void copyTreeRecords(SiteTreeNode* to, const SiteTreeNode* from) {
    for (int k = 0; k < DIM; k++) {
        double* own = to[k].vec;
        std::memmove(own, from[k].vec, sizeof(Vector));
        to[k] = from[k];
        to[k].vec = own;
    }
}

// ---- reading the file -------------------------------------------------------------------

namespace {

// The file being read; once every line is read (readToEnd), faults are at its end.
LineReader input{nullptr, "", nullptr};
bool readToEnd = false;
// The line of each sequence in the first block, where its name stands.
std::vector<long> nameLines;
// The first line is the header of an aligner other than Clustal W, read as a sequence.
bool headerRead = false;

// A message and the location line under it.
std::string located(const char* path, long line, const std::string& what) {
    std::string text = what.empty() || what.back() != '\n' ? what + "\n" : what;
    if (line > 0) return text + "(alignment file \"" + path + "\", line " + std::to_string(line) + ")\n";
    return text + "(alignment file \"" + path + "\", at its end)\n";
}

long currentLine() {
    return readToEnd ? 0 : input.number;
}

[[noreturn]] __attribute__((format(printf, 1, 2))) void readerFault(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string message = formatText(format, args);
    va_end(args);
    throw InputFault{currentLine(), message};
}

bool isBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

long skipBlanks(const char* line, long pos, long length) {
    while (pos < length && isBlank(line[pos])) pos++;
    return pos;
}

long skipWord(const char* line, long pos, long length) {
    while (pos < length && !isBlank(line[pos])) pos++;
    return pos;
}

struct BlockState {
    int k = 0;           // lines of the current block so far
    int blockLength = 0; // segment length of the block's first line
    long firstLine = 0;  // where the block's first line stands
    long threshold = -1; // column of the first data line's second field; -1 before it
    // The block's second line differs in length from its first: the third line tells which
    // of the two is wrong.
    bool secondDiffers = false;
    int secondLength = 0;
    long secondLine = 0;
};

// What a fault of sequence k adds when that "sequence" is the header of another aligner.
const char* headerHint(int k) {
    return k == 0 && headerRead ? "The first line must begin \"CLUSTAL W\" (or be left out)\n" : "";
}

[[noreturn]] void wrongLength(long line, int k, int was, int now) {
    throw InputFault{line, std::string("wrong len for ") + aname[k] + ", was: " + std::to_string(was) +
                               ", now: " + std::to_string(now) + "\n" + headerHint(k)};
}

// A block that ends after two lines of different lengths: its second line is the one
// that differs from the block's first.
void checkSecondLine(const BlockState& block) {
    if (block.secondDiffers) wrongLength(block.secondLine, 1, block.blockLength, block.secondLength);
}

void endBlock(BlockState& block) {
    if (block.k == 0) return;
    checkSecondLine(block);
    if (nal == 0) {
        nal = block.k;
    } else if (block.k != nal)
        readerFault("Wrong nal, was: %d, now: %d\n", nal, block.k);
    block.k = 0;
}

// Checks or stores the name of line k of a block.
void takeName(const BlockState& block, const char* name, long nameLength) {
    int k = block.k;
    if (nal == 0) {
        if (nameLength > NODE_NAME_MAX)
            readerFault("Sequence name longer than %d characters (%ld): %.*s\n", NODE_NAME_MAX, nameLength,
                        static_cast<int>(nameLength), name);
        astart = incibuf(k, astart);
        alen = incibuf(k, alen);
        aseq = incbuf(k, aseq);
        aname = incbuf(k, aname);
        aname[k] = strnsave(name, static_cast<int>(nameLength));
        nameLines.push_back(input.number);
        return;
    }
    if (k >= nal) readerFault("Bad sequence number: %d of %d\n", k, nal);
    if (static_cast<long>(std::strlen(aname[k])) == nameLength &&
        std::strncmp(aname[k], name, nameLength) == 0)
        return;
    readerFault("Names do not match, was: %s, now: %.*s\n%s", aname[k], static_cast<int>(nameLength), name,
                headerHint(k));
}

// A field of digits followed by blanks or the line end: the start number before a segment,
// the residue count after it.
bool isNumberField(const char* line, long pos, long length) {
    long end = pos;
    while (end < length && std::isdigit(static_cast<unsigned char>(line[end]))) end++;
    return end > pos && (end == length || isBlank(line[end]));
}

int startNumber(const char* digits) {
    long value = std::strtol(digits, nullptr, 10);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

// After the segment a line may hold a residue count and nothing else: a segment written in
// groups ("ABCDEFGHIK LMNPQRSTVW") would otherwise lose every group but the first.
void checkLineEnd(const char* line, long pos, long length) {
    if (isNumberField(line, pos, length)) pos = skipBlanks(line, skipWord(line, pos, length), length);
    if (pos == length) return;
    long end = skipWord(line, pos, length);
    readerFault(
        "A field after the segment: \"%.*s\"; a block line holds a name, a start number (optional), one "
        "segment without blanks and a residue count (optional)\n",
        static_cast<int>(end - pos), line + pos);
}

// The block's length is that of its first line, unless the first line alone differs from
// the next two: then the first line is the one that is wrong.
void checkLength(BlockState& block, int length) {
    if (block.k == 0) {
        block.blockLength = length;
        block.firstLine = input.number;
        block.secondDiffers = false;
    } else if (block.k == 1) {
        block.secondDiffers = length != block.blockLength;
        block.secondLength = length;
        block.secondLine = input.number;
    } else if (block.k == 2 && block.secondDiffers) {
        if (length == block.secondLength)
            wrongLength(block.firstLine, 0, block.secondLength, block.blockLength);
        checkSecondLine(block);
    } else if (length != block.blockLength)
        wrongLength(input.number, block.k, block.blockLength, length);
}

void appendSegment(BlockState& block, const char* segment, long length) {
    int k = block.k;
    // Every earlier block had the same length in every sequence.
    int kept = k == 0 ? alilen : alilen - block.blockLength;
    if (length > INT_MAX - kept) readerFault("Alignment longer than %d sites\n", INT_MAX);
    int segmentLength = static_cast<int>(length);
    checkLength(block, segmentLength);
    if (k == 0) alilen += segmentLength;
    for (long i = 0; i < length; i++)
        if (std::isalpha(static_cast<unsigned char>(segment[i]))) alen[k]++;
    if (nal == 0) {
        aseq[k] = strnsave(segment, segmentLength);
    } else {
        char* joined = mymalloc(kept + segmentLength + 1);
        std::memcpy(joined, aseq[k], kept);
        std::memcpy(joined + kept, segment, segmentLength);
        joined[kept + segmentLength] = '\0';
        std::free(aseq[k]);
        aseq[k] = joined;
    }
    block.k++;
}

// The header that current aligners write on the first line: "CLUSTAL 2.1 ...", "CLUSTAL O(1.2.4)
// ...", "CLUSTAL FORMAT for T-COFFEE ...", "MUSCLE (3.8) multiple sequence alignment", "Kalign
// (3.3.5) multiple sequence alignment". Only "CLUSTAL W" is skipped as a header; these are read
// as a sequence with words after its "segment", and the names of the next block tell what it is.
bool isAlignerHeader(const char* name, long nameLength, const char* line, long length) {
    static constexpr std::string_view tail = "multiple sequence alignment";
    std::string_view text(line, length);
    text = text.substr(0, text.find_last_not_of(" \t\v\f") + 1);
    return std::string_view(name, nameLength) == "CLUSTAL" ||
           (text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail);
}

// One line of the file, without its line end.
void examineLine(BlockState& block, const char* line, long length) {
    long indent = skipBlanks(line, 0, length);
    // Past the first data line, lines indented as far as its second field are the
    // conservation lines under a block.
    if (block.threshold >= 0 && indent >= block.threshold) return;
    if (indent == length) {
        endBlock(block);
        return;
    }
    long nameEnd = skipWord(line, indent, length);
    takeName(block, line + indent, nameEnd - indent);
    long field = skipBlanks(line, nameEnd, length);
    if (block.threshold < 0) block.threshold = field;
    if (isNumberField(line, field, length)) {
        if (nal == 0) astart[block.k] = startNumber(line + field);
        field = skipBlanks(line, skipWord(line, field, length), length);
    }
    long segmentEnd = skipWord(line, field, length);
    if (input.number == 1 && isAlignerHeader(line + indent, nameEnd - indent, line, length))
        headerRead = true;
    else
        checkLineEnd(line, skipBlanks(line, segmentEnd, length), length);
    appendSegment(block, line + field, segmentEnd - field);
}

void readLines() {
    BlockState block;
    while (nextLine(input)) {
        if (input.number == 1 && input.text.compare(0, 9, "CLUSTAL W") == 0) continue;
        examineLine(block, input.text.data(), static_cast<long>(input.text.size()));
    }
    readToEnd = true;
    endBlock(block);
    if (nal == 0) readerFault("No alignments read\n");
    // Close both lists with their empty entry.
    aname = incbuf(nal, aname);
    aseq = incbuf(nal, aseq);
}

// The tree and the bound of n-3 gaps on a computed site need three sequences; a site at least.
void checkSize() {
    if (nal < 3) readerFault("Too few sequences: %d; at least 3 are needed\n", nal);
    if (alilen == 0) readerFault("No sites: every sequence is empty\n");
}

// ---- the stores -------------------------------------------------------------------------

template <typename T> T* clearedArray(long count, const char* store) {
    T* block = static_cast<T*>(std::calloc(count, sizeof(T)));
    if (!block)
        nrerror(("allocation failure of " + std::string(store) + " (" + std::to_string(count) + " records)")
                    .c_str());
    return block;
}

void allocateStores() {
    long n = seqNum, L = seqLength;
    node = clearedArray<NODE>(DIM, "node");
    for (int i = 0; i < DIM; i++) {
        node[i].seq = clearedArray<char>(L + 2, "node letters");
        node[i].code = clearedArray<int>(L + 1, "node codes");
    }
    branch = clearedArray<BranchRecord>(2 * n - 2, "branch");
    gapTree = topmatrix(0, L + 1, 0, DIM - 1, 1, L);
    copyTree = topmatrix(0, 1, 0, DIM - 1);
    treeRoot = ivector(1, L);
    for (long s = 1; s <= L; s++) treeRoot[s] = 0;
    dashFlag = clearedArray<char>(L + 1, "dashFlag");
    calFlag = clearedArray<char>(L + 1, "calFlag");
}

void fillNodes() {
    for (int i = 1; i < DIM; i++) node[i].id = i;
    for (int i = 0; i < DIM; i++) {
        node[i].seq[0] = ' ';
        node[i].seq[seqLength + 1] = '\0';
    }
    for (int i = 1; i <= seqNum; i++) {
        std::strcpy(node[i].name, aname[i - 1]);
        std::memcpy(node[i].seq + 1, aseq[i - 1], seqLength);
    }
}

// The letters exactly as read, under a ruler that marks every tenth site.
void writeInputTable() {
    std::fprintf(resultFile, "The input sequences:\n");
    std::fprintf(resultFile, "%27s", " ");
    for (int i = 0; i <= seqLength / 10; i++) std::fprintf(resultFile, "%-10d", i * 10);
    std::fprintf(resultFile, "\n");
    for (int i = 1; i <= seqNum; i++) std::fprintf(resultFile, "%5d %20s %s\n", i, node[i].name, node[i].seq);
}

// Upper case first; anything outside the alphabet then becomes a gap.
void foldLetters() {
    for (int i = 1; i <= seqNum; i++) {
        for (int s = 1; s <= seqLength; s++) {
            node[i].code[s] = residueCode(node[i].seq[s]);
            node[i].seq[s] = aa[node[i].code[s]];
        }
    }
}

// The leaves of each name that more than one leaf has, in ascending order.
using SharedNames = std::unordered_map<std::string_view, std::vector<int>>;

SharedNames sharedNames() {
    SharedNames leaves;
    for (int i = 1; i <= seqNum; i++) leaves[node[i].name].push_back(i);
    for (auto group = leaves.begin(); group != leaves.end();)
        group = group->second.size() > 1 ? std::next(group) : leaves.erase(group);
    return leaves;
}

// Every pair i < j of leaves of one name, i ascending, then j ascending.
void listDuplicateNames(const SharedNames& shared) {
    for (int i = 1; i <= seqNum; i++) {
        auto group = shared.find(node[i].name);
        if (group == shared.end()) continue;
        for (int j : group->second)
            if (j > i)
                std::printf("duplication: seqNo:%d seqName:%s  seqNo:%d seqName:%s\n", i, node[i].name, j,
                            node[j].name);
    }
}

// "2, 5 and 9": the lines where the leaves' names stand.
std::string nameLinesOf(const std::vector<int>& leaves) {
    std::string lines;
    for (std::size_t m = 0; m < leaves.size(); m++) {
        if (m > 0) lines += m + 1 == leaves.size() ? " and " : ", ";
        lines += std::to_string(nameLines[leaves[m] - 1]);
    }
    return lines;
}

// The list gives sequence numbers; the file and its lines are said once per name.
void locateDuplicateNames(const SharedNames& shared) {
    for (int i = 1; i <= seqNum; i++) {
        auto group = shared.find(node[i].name);
        if (group == shared.end() || group->second.front() != i) continue;
        std::fprintf(stderr, "Sequence name %s is given more than once\n(alignment file \"%s\", lines %s)\n",
                     node[i].name, input.path, nameLinesOf(group->second).c_str());
    }
}

void checkDuplicateNames() {
    std::printf("try to find the duplicate name of different sequences\n");
    auto shared = sharedNames();
    if (shared.empty()) return;
    sharedFault([&shared] {
        listDuplicateNames(shared);
        std::fflush(stdout);
        locateDuplicateNames(shared);
    });
}

void setSiteRates() {
    alfa = dvector(0, seqLength);
    for (int s = 0; s <= seqLength; s++) alfa[s] = 1.0;
    gapNumber = ivector(1, seqLength);
    for (int s = 1; s <= seqLength; s++) gapNumber[s] = 0;
    for (int i = 1; i <= seqNum; i++)
        for (int s = 1; s <= seqLength; s++)
            if (node[i].seq[s] == '-') gapNumber[s]++;
}

} // namespace

namespace {

// Code of every byte: its upper case looked up in aa, the first match; 0 when none.
struct CodeTable {
    int code[256] = {};
    CodeTable() {
        for (int c = 0; c < 256; c++) {
            int upper = std::toupper(c);
            for (int r = 20; r >= 0; r--)
                if (aa[r] == upper) code[c] = r;
        }
    }
};

} // namespace

int residueCode(char c) {
    static const CodeTable table;
    return table.code[static_cast<unsigned char>(c)];
}

void readali(const char* path) {
    std::printf("Reading sequences\n");
    FILE* file = std::fopen(path, "r");
    if (!file) sharedFault(stderr, "No such file: \"%s\"\n", path);
    input = LineReader{file, path, located};
    readToEnd = false;
    headerRead = false;
    nameLines.clear();
    nal = alilen = 0;
    aname = aseq = nullptr;
    astart = alen = nullptr;
    readInput(input, [] {
        readLines();
        checkSize();
        seqNum = nal;
        seqLength = alilen;
        DIM = 2 * seqNum - 1;
        allocateStores();
        fillNodes();
        writeInputTable();
        foldLetters();
        checkDuplicateNames();
        setSiteRates();
    });
    std::fclose(file);
    std::printf("Finish reading alignment\n");
}

bool lettersForTree(int gaps) {
    return gaps <= seqNum - 3;
}

bool computedSite(int s) {
    return !dashFlag[s] || calFlag[s];
}

void searchGap() {
    int* gaps = ivector(1, seqLength);
    for (int s = 1; s <= seqLength; s++) gaps[s] = 0;
    for (int i = 1; i <= seqNum; i++) {
        for (int s = 1; s <= seqLength; s++) {
            node[i].code[s] = residueCode(node[i].seq[s]);
            if (node[i].seq[s] == '-') gaps[s]++;
        }
    }
    for (int s = 1; s <= seqLength; s++) {
        dashFlag[s] = gaps[s] > 0;
        calFlag[s] = gaps[s] > 0 && lettersForTree(gaps[s]);
    }
    free_ivector(gaps, 1, seqLength);
    for (int i = seqNum + 1; i < DIM; i++)
        for (int s = 1; s <= seqLength; s++) node[i].code[s] = 0;
}

void checkComputedSites() {
    for (int s = 1; s <= seqLength; s++)
        if (computedSite(s)) return;
    sharedFault(stderr, "No site to compute: every site has more than %d gaps (fewer than three letters)\n",
                seqNum - 3);
}

void checkResidueTypes() {
    int first = 0;
    for (int s = 1; s <= seqLength; s++) {
        if (!computedSite(s)) continue;
        for (int i = 1; i <= seqNum; i++) {
            int code = node[i].code[s];
            if (code == 0) continue;
            if (first == 0) first = code;
            if (code != first) return;
        }
    }
    // Nothing is ever substituted: the rate matrix would have no scale.
    sharedFault(stderr,
                "The alignment has a single residue type: every computed site holds %c only, and a "
                "substitution model needs two residue types at least\n",
                aa[first]);
}
