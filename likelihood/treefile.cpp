#include "treefile.h"

#include "alignment.h"
#include "linereader.h"
#include "numerics/fault.h"
#include "numerics/matrixalgebra.h"
#include "settings.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// Far beyond this every residue is at its stationary frequency many times over; such lengths
// come from a damaged or wrongly scaled file, and 1e20 leaves no usable likelihood.
constexpr float MAX_BRANCH_LENGTH = 1000.0f;

// White space: it separates the parts of a tree.
const char* const BLANKS = " \t\n\v\f\r";

// The tree text in memory (its lines joined by "\n") and the reading position, so that a fault
// can be reported with its line.
struct TreeReader {
    std::string text;
    std::size_t pos = 0;
    int lastInner = 0;                           // index of the inner node created last
    std::vector<char> seen;                      // leaves already placed, 1..seqNum
    std::unordered_map<std::string, int> leafOf; // sequence name -> leaf, the first of equal names

    bool atEnd() const { return pos >= text.size(); }
    char current() const { return text[pos]; }
};

std::string treeMessage(const char* path, long line, const std::string& what) {
    return "Error in tree file " + std::string(path) + ", line " + std::to_string(line) + ": " + what + "\n";
}

// The line of the text at pos; at the end of the text, the last line that holds anything,
// where the tree stops.
long lineAt(const std::string& text, std::size_t pos) {
    if (pos >= text.size()) pos = text.find_last_not_of(BLANKS);
    if (pos == std::string::npos) return 1;
    return 1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(pos), '\n');
}

[[noreturn]] void treeError(const TreeReader& r, const std::string& what) {
    throw InputFault{lineAt(r.text, r.pos), what};
}

std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

// The text from `from` on, up to `to` or the line's end, cut short after 20 characters.
std::string excerpt(const std::string& text, std::size_t from, std::size_t to) {
    std::size_t length = std::min(to, text.find('\n', from)) - from;
    return length > 20 ? quoted(text.substr(from, 20) + "...") : quoted(text.substr(from, length));
}

std::string shown(char c) {
    return std::isprint(static_cast<unsigned char>(c)) ? quoted(std::string(1, c)) : "a control character";
}

bool isBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

void skipBlanks(TreeReader& r) {
    while (!r.atEnd() && isBlank(r.current())) r.pos++;
}

bool endsName(char c) {
    return isBlank(c) || c == ',' || c == '(' || c == ')' || c == ';';
}

bool startsLabel(char c) {
    return c != ':' && !endsName(c);
}

// Where the label that starts at pos ends. Newick writers quote a label that holds blanks or
// punctuation ('CDC5_YEAST', '95/100', a doubled quote for a quote inside): a quoted label
// ends after its closing quote, npos when it has none; any other at the next ':' or separator.
std::size_t labelEnd(const std::string& text, std::size_t pos) {
    if (pos < text.size() && text[pos] == '\'') {
        for (pos++; pos < text.size(); pos++) {
            if (text[pos] != '\'') continue;
            if (pos + 1 == text.size() || text[pos + 1] != '\'') return pos + 1;
            pos++;
        }
        return std::string::npos;
    }
    while (pos < text.size() && startsLabel(text[pos])) pos++;
    return pos;
}

// The text a label stands for: a quoted one without its quotes, a doubled quote as one.
std::string labelText(const std::string& label) {
    if (label.empty() || label[0] != '\'') return label;
    std::string text;
    for (std::size_t i = 1; i + 1 < label.size(); i++) {
        text += label[i];
        if (label[i] == '\'') i++;
    }
    return text;
}

// A branch length after ':', read in single precision as the tree files are written. The
// field runs up to the next separator and must read whole as a decimal number.
float readLength(TreeReader& r, const std::string& owner) {
    skipBlanks(r);
    std::size_t end = r.pos;
    while (end < r.text.size() && !endsName(r.text[end])) end++;
    std::string number = r.text.substr(r.pos, end - r.pos);
    if (number.empty()) treeError(r, "no branch length after ':' of " + owner);
    if (!isDecimalNumber(number))
        treeError(r, "no branch length after ':' of " + owner + ": " + quoted(number) +
                         " is not a decimal number");
    float value = std::strtof(number.c_str(), nullptr);
    if (!std::isfinite(value))
        treeError(r, "branch length " + quoted(number) + " of " + owner + " is out of range");
    if (value < 0.0f) treeError(r, "negative branch length " + number + " of " + owner);
    if (value > MAX_BRANCH_LENGTH)
        treeError(r, "branch length " + number + " of " + owner +
                         " is longer than 1000, the longest a tree file may hold");
    r.pos = end;
    return value;
}

int findLeaf(const TreeReader& r, const std::string& name) {
    auto found = r.leafOf.find(name);
    return found == r.leafOf.end() ? 0 : found->second;
}

// A leaf's name, and where it ends in the text.
struct LeafName {
    std::string name;
    std::size_t end; // npos: a quoted name without its closing quote
};

// A name runs up to the next ':' and may hold any character a sequence name holds: a
// sequence named "seq(1)" or "a,b" is found whole. Text up to ':' that names no sequence is
// read as a label, quoted or ending at the first separator, so that a missing ':' is reported
// where it is.
LeafName leafNameAt(const TreeReader& r, std::size_t pos) {
    std::size_t colon = r.text.find(':', pos);
    if (colon != std::string::npos) {
        std::string whole = r.text.substr(pos, colon - pos);
        if (findLeaf(r, whole) != 0) return {whole, colon};
    }
    std::size_t end = labelEnd(r.text, pos);
    if (end == std::string::npos) return {r.text.substr(pos), end};
    return {labelText(r.text.substr(pos, end - pos)), end};
}

std::string readName(TreeReader& r) {
    LeafName leaf = leafNameAt(r, r.pos);
    if (leaf.end == std::string::npos)
        treeError(r, "a quoted leaf name has no closing quote: " + excerpt(r.text, r.pos, r.text.size()));
    if (static_cast<int>(leaf.name.size()) > NODE_NAME_MAX) {
        r.pos += NODE_NAME_MAX;
        treeError(r, "leaf name " + quoted(leaf.name.substr(0, NODE_NAME_MAX) + "...") + " is longer than " +
                         std::to_string(NODE_NAME_MAX) + " characters");
    }
    r.pos = leaf.end;
    if (!r.atEnd() && r.current() != ':')
        treeError(r, "leaf " + quoted(leaf.name) + " has no ':' and branch length");
    return leaf.name;
}

int readLeaf(TreeReader& r) {
    std::string name = readName(r);
    if (r.atEnd()) treeError(r, "the tree ends inside leaf name " + quoted(name));
    if (name.empty()) treeError(r, "a branch length without a leaf name");
    int leaf = findLeaf(r, name);
    if (leaf == 0) treeError(r, "leaf " + quoted(name) + " is not a sequence of the alignment");
    if (r.seen[leaf]) treeError(r, "leaf " + quoted(name) + " appears more than once");
    r.seen[leaf] = 1;
    r.pos++; // ':'
    node[leaf].length = readLength(r, "leaf " + quoted(name));
    return leaf;
}

// A node whose ')' is still to come, with the children read so far.
struct OpenNode {
    int k;
    int arity; // three at the top, two below
    int count;
    bool childLast = false; // a child came last, with no ',' after it yet
};

bool isTop(const OpenNode& o) {
    return o.arity == 3;
}

std::string described(const OpenNode& o) {
    return isTop(o) ? "the top level" : "an inner node";
}

[[noreturn]] void tooManyChildren(const TreeReader& r, const OpenNode& o) {
    treeError(r, described(o) + " has more than " + (isTop(o) ? "three" : "two") +
                     " children\nResolve every node of more than two children into binary nodes (three at "
                     "the top); zero-length branches will do, as lengths below 1e-6 are taken as 1e-6.");
}

[[noreturn]] void rootedTree(const TreeReader& r) {
    treeError(r, "the top level has 2 children instead of three: the tree is rooted, and a tree for "
                 "this program is unrooted, with three children at the top");
}

// The children of the top level, told by the brackets alone. A rooted tree runs out of inner
// nodes at its last '(' (it has one more than an unrooted one), before its top level closes.
int topLevelChildren(const TreeReader& r) {
    const std::string& text = r.text;
    std::size_t pos = text.find('(') + 1;
    int depth = 0, children = 0;
    while (pos < text.size()) {
        char c = text[pos];
        if (c == ';') break;
        if (c == ',' || isBlank(c)) {
            pos++;
        } else if (c == '(') {
            if (depth++ == 0) children++;
            pos++;
        } else if (c == ')') {
            if (depth-- == 0) break;
            pos = labelEnd(text, pos + 1);
        } else if (c == ':') {
            for (pos++; pos < text.size() && !endsName(text[pos]);) pos++;
        } else {
            // A leaf, its name as the reader takes it.
            if (depth == 0) children++;
            pos = leafNameAt(r, pos).end;
        }
    }
    return children;
}

int openInner(TreeReader& r) {
    if (r.lastInner == 2 * seqNum - 2) {
        if (topLevelChildren(r) == 2) rootedTree(r);
        treeError(r, "more inner nodes than a tree of the " + std::to_string(seqNum) + " sequences has");
    }
    int k = ++r.lastInner;
    node[k].id = k;
    r.pos++; // '('
    return k;
}

// A label right after a ')', such as a support value ("95/100", "0.950") or the name of an
// inner node, quoted or not, is read and ignored.
void skipLabel(TreeReader& r) {
    std::size_t end = labelEnd(r.text, r.pos);
    if (end == std::string::npos)
        treeError(r,
                  "a quoted label after ')' has no closing quote: " + excerpt(r.text, r.pos, r.text.size()));
    r.pos = end;
}

// At the ')' of o: the children are complete, and an inner node's length follows. The top node
// may have a length too, as some writers give it; an unrooted tree's top has no branch, and it
// is read and ignored.
void closeNode(TreeReader& r, const OpenNode& o) {
    if (o.count < o.arity) {
        if (isTop(o) && o.count == 2) rootedTree(r);
        treeError(r, described(o) + " has " + std::to_string(o.count) +
                         (o.count == 1 ? " child" : " children") + " instead of " +
                         (isTop(o) ? "three" : "two"));
    }
    r.pos++; // ')'
    skipLabel(r);
    skipBlanks(r);
    if (r.atEnd() || r.current() != ':') {
        if (!isTop(o)) treeError(r, "an inner node has no ':' and branch length after its ')'");
        return;
    }
    r.pos++; // ':'
    float length = readLength(r, isTop(o) ? "the top node" : "an inner node");
    if (!isTop(o)) node[o.k].length = length;
}

// Everything from the top node's '(' to its ')', siblings separated by one ','. The nodes
// still open wait on a list rather than on the call stack, so that no depth of the tree is too
// deep to read.
void readNodes(TreeReader& r, int top) {
    std::vector<OpenNode> open = {{top, 3, 0}};
    while (!open.empty()) {
        skipBlanks(r);
        if (r.atEnd()) treeError(r, "the tree ends before every '(' is closed");
        char c = r.current();
        OpenNode& parent = open.back();
        if (c == ',') {
            if (!parent.childLast) treeError(r, "a ',' without a child before it");
            parent.childLast = false;
            r.pos++;
            continue;
        }
        if (c == ')') {
            if (parent.count > 0 && !parent.childLast) treeError(r, "a ',' without a child after it");
            closeNode(r, parent);
            open.pop_back();
            continue;
        }
        if (c == ';') treeError(r, "';' before every '(' is closed");
        if (parent.childLast)
            treeError(r, "a ',' is missing between two children, before " +
                             excerpt(r.text, r.pos, r.text.size()));
        if (parent.count == parent.arity) tooManyChildren(r, parent);
        int child = c == '(' ? openInner(r) : readLeaf(r);
        int* slot[] = {&node[parent.k].left, &node[parent.k].right, &node[parent.k].third};
        *slot[parent.count++] = child;
        node[child].parent = parent.k;
        parent.childLast = true;
        if (c == '(') open.push_back({child, 2, 0});
    }
}

// The lines of the file joined by "\n", however they end in the file.
std::string readLines(LineReader& lines) {
    std::string text;
    while (nextLine(lines)) {
        if (text.size() + 1 + lines.text.size() > MAX_LINE_LENGTH)
            throw InputFault{lines.number, "the tree file holds more than " +
                                               std::to_string(MAX_LINE_LENGTH) +
                                               " characters: this is not a tree file"};
        if (lines.number > 1) text += '\n';
        text += lines.text;
    }
    return text;
}

// The tree begins at its first '('; what stands before it ("tree one = [&U]") is skipped.
void findTop(TreeReader& r) {
    r.pos = r.text.find('(');
    if (r.pos == std::string::npos) {
        r.pos = r.text.find_first_not_of(BLANKS);
        treeError(r, "no '(' found; the file holds no tree");
    }
}

void readTopLevel(TreeReader& r) {
    int top = seqNum + 1;
    findTop(r);
    r.pos++;
    node[top].id = top;
    r.lastInner = top;
    readNodes(r, top);
    skipBlanks(r);
    if (r.atEnd()) treeError(r, "the tree does not end with ';'");
    if (r.current() != ';') treeError(r, "expected ';' after the last ')', found " + shown(r.current()));
    r.pos++;
    while (!r.atEnd() && (isBlank(r.current()) || r.current() == ',')) r.pos++;
    if (!r.atEnd()) treeError(r, "text after the ';' that ends the tree");
    for (int i = 1; i <= seqNum; i++)
        if (!r.seen[i])
            treeError(r, "sequence " + quoted(node[i].name) + " of the alignment is not in the tree");
}

} // namespace

void readTree(const char* treefile) {
    std::printf("Reading treefile: %s\n", treefile);
    FILE* f = std::fopen(treefile, "r");
    if (!f)
        sharedFault([treefile] { nrerror(("Data file " + std::string(treefile) + " not found\n").c_str()); });
    LineReader lines{f, treefile, treeMessage};
    readInput(lines, [&lines] {
        TreeReader r;
        r.text = readLines(lines);
        if (seqNum < 3) treeError(r, "a tree needs at least three sequences");
        r.seen.assign(seqNum + 1, 0);
        for (int i = seqNum; i >= 1; i--) r.leafOf[node[i].name] = i;
        for (int k = 1; k <= 2 * seqNum - 2; k++) node[k].isRoot = 0;
        readTopLevel(r);
    });
    std::fclose(f);
    int top = seqNum + 1;
    node[top].isRoot = 1;
    node[top].parent = top;
    setLevel(top);
    std::printf("Finish reading tree\n");
}

void setLevel(int k) {
    setDepths(node, k);
}
