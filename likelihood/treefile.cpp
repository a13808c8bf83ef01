#include "treefile.h"

#include "alignment.h"
#include "numerics/matrixalgebra.h"
#include "vantrel.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The whole tree file in memory and the reading position, so that a fault can be reported
// with its line.
struct TreeReader {
    const char* path;
    std::string text;
    std::size_t pos = 0;
    int lastInner = 0;      // index of the inner node created last
    std::vector<char> seen; // leaves already placed, 1..seqNum

    bool atEnd() const { return pos >= text.size(); }
    char current() const { return text[pos]; }
};

// Every process reads the same file and meets the same fault: rank 0 reports it.
[[noreturn]] void treeError(const TreeReader& r, const std::string& what) {
    std::size_t upTo = r.pos < r.text.size() ? r.pos : r.text.size();
    int line = 1;
    for (std::size_t i = 0; i < upTo; i++)
        if (r.text[i] == '\n') line++;
    sharedFault(stderr, "Error in tree file %s, line %d: %s\n", r.path, line, what.c_str());
}

std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

std::string shown(char c) {
    return std::isprint(static_cast<unsigned char>(c)) ? quoted(std::string(1, c)) : "a control character";
}

bool isBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Blanks, line ends (also Windows ones) and commas separate the parts of a tree.
void skipSeparators(TreeReader& r) {
    while (!r.atEnd() && (r.current() == ',' || isBlank(r.current()))) r.pos++;
}

void skipBlanks(TreeReader& r) {
    while (!r.atEnd() && isBlank(r.current())) r.pos++;
}

bool endsName(char c) {
    return isBlank(c) || c == ',' || c == '(' || c == ')' || c == ';';
}

// A branch length after ':', read in single precision as the tree files are written.
void readLength(TreeReader& r, int k, const std::string& owner) {
    skipBlanks(r);
    const char* start = r.text.c_str() + r.pos;
    char* end = nullptr;
    float value = 0.0f;
    if (!r.atEnd() && (std::isdigit(static_cast<unsigned char>(*start)) || std::strchr("+-.", *start)))
        value = std::strtof(start, &end);
    if (end == nullptr || end == start) treeError(r, "no branch length after ':' of " + owner);
    std::string number(start, static_cast<const char*>(end));
    if (!std::isfinite(value))
        treeError(r, "branch length " + quoted(number) + " of " + owner + " is out of range");
    if (value < 0.0f) treeError(r, "negative branch length " + number + " of " + owner);
    node[k].length = value;
    r.pos += number.size();
}

int findLeaf(const std::string& name) {
    for (int i = 1; i <= seqNum; i++)
        if (name == node[i].name) return i;
    return 0;
}

// A name runs up to the next ':' and may hold any character a sequence name holds: a
// sequence named "seq(1)" or "a,b" is found whole. Only text up to ':' that names no
// sequence is read as a name ending at the first separator, so that a missing ':' is
// reported where it is.
std::string readName(TreeReader& r) {
    std::size_t colon = r.text.find(':', r.pos);
    if (colon != std::string::npos) {
        std::string whole = r.text.substr(r.pos, colon - r.pos);
        if (findLeaf(whole) != 0) {
            r.pos = colon;
            return whole;
        }
    }
    std::string name;
    while (!r.atEnd() && r.current() != ':') {
        if (endsName(r.current())) treeError(r, "leaf " + quoted(name) + " has no ':' and branch length");
        if (static_cast<int>(name.size()) == NODE_NAME_MAX)
            treeError(r, "leaf name " + quoted(name + "...") + " is longer than " +
                             std::to_string(NODE_NAME_MAX) + " characters");
        name += r.current();
        r.pos++;
    }
    return name;
}

int readLeaf(TreeReader& r) {
    std::string name = readName(r);
    if (r.atEnd()) treeError(r, "the tree ends inside leaf name " + quoted(name));
    if (name.empty()) treeError(r, "a branch length without a leaf name");
    int leaf = findLeaf(name);
    if (leaf == 0) treeError(r, "leaf " + quoted(name) + " is not a sequence of the alignment");
    if (r.seen[leaf]) treeError(r, "leaf " + quoted(name) + " appears more than once");
    r.seen[leaf] = 1;
    r.pos++; // ':'
    readLength(r, leaf, "leaf " + quoted(name));
    return leaf;
}

int readInner(TreeReader& r);

// The children of record k up to its ')': two below the top, three at the top.
void readChildren(TreeReader& r, int k, int arity) {
    const char* what = arity == 3 ? "the top level" : "an inner node";
    int count = 0;
    for (;;) {
        skipSeparators(r);
        if (r.atEnd()) treeError(r, "the tree ends before every '(' is closed");
        char c = r.current();
        if (c == ')') break;
        if (c == ';') treeError(r, "';' before every '(' is closed");
        if (count == arity)
            treeError(r,
                      std::string(what) + " has more than " + (arity == 3 ? "three" : "two") + " children");
        int child = c == '(' ? readInner(r) : readLeaf(r);
        int* slot[] = {&node[k].left, &node[k].right, &node[k].third};
        *slot[count++] = child;
        node[child].parent = k;
    }
    if (count < arity)
        treeError(r, std::string(what) + " has " + std::to_string(count) +
                         (count == 1 ? " child" : " children") + " instead of " +
                         (arity == 3 ? "three" : "two"));
    r.pos++; // ')'
}

int readInner(TreeReader& r) {
    if (r.lastInner == 2 * seqNum - 2)
        treeError(r, "more inner nodes than a tree of the " + std::to_string(seqNum) + " sequences has");
    int k = ++r.lastInner;
    node[k].id = k;
    r.pos++; // '('
    readChildren(r, k, 2);
    skipBlanks(r);
    if (r.atEnd() || std::strchr(",();", r.current()))
        treeError(r, "an inner node has no ':' and branch length after its ')'");
    if (r.current() != ':')
        treeError(r, "a label after ')' is not accepted; expected ':' and a branch length");
    r.pos++;
    readLength(r, k, "an inner node");
    return k;
}

std::string readWholeFile(const char* path) {
    FILE* f = std::fopen(path, "r");
    if (!f) sharedFault([] { nrerror("Data file pii2.tre not found\n"); });
    std::string text;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
    std::fclose(f);
    return text;
}

void readTopLevel(TreeReader& r) {
    int top = seqNum + 1;
    r.pos = r.text.find('(');
    if (r.pos == std::string::npos) treeError(r, "no '(' found; the file holds no tree");
    r.pos++;
    node[top].id = top;
    r.lastInner = top;
    readChildren(r, top, 3);
    skipBlanks(r);
    if (r.atEnd()) treeError(r, "the tree does not end with ';'");
    if (r.current() != ';') treeError(r, "expected ';' after the last ')', found " + shown(r.current()));
    r.pos++;
    skipBlanks(r);
    if (!r.atEnd()) treeError(r, "text after the ';' that ends the tree");
    for (int i = 1; i <= seqNum; i++)
        if (!r.seen[i])
            treeError(r, "sequence " + quoted(node[i].name) + " of the alignment is not in the tree");
}

} // namespace

void readTree(const char* treefile) {
    std::printf("Reading treefile: %s\n", treefile);
    TreeReader r;
    r.path = treefile;
    r.text = readWholeFile(treefile);
    if (seqNum < 3) treeError(r, "a tree needs at least three sequences");
    r.seen.assign(seqNum + 1, 0);
    for (int k = 1; k <= 2 * seqNum - 2; k++) node[k].isRoot = 0;
    readTopLevel(r);
    int top = seqNum + 1;
    node[top].isRoot = 1;
    node[top].parent = top;
    setLevel(top);
    std::printf("Finish reading tree\n");
}

void setLevel(int k) {
    setDepths(node, k);
}
