#include "wnj/wnj1.h"

#include "wnj/build.h"
#include "wnj/io.h"
#include "wnj/matrix.h"
#include "wnj/noise.h"

#include "numerics/matrixalgebra.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace wnj {

int arrange = 0;

namespace {

// A subtree still to be put below record parent through field, one of parent's child fields.
struct Placement {
    int parent;
    int* field;
    const _NodeT* sub;
};

// The leaf s goes below p through field: the first of the records 1..n of its name takes it,
// or, without one, nothing does.
void placeLeaf(int n, const Placement& p, NODE* node) {
    for (int i = 1; i <= n; i++) {
        if (std::strcmp(node[i].name, p.sub->name) != 0) continue;
        *p.field = i;
        node[i].parent = p.parent;
        node[i].length = p.sub->length;
        return;
    }
}

// Record k takes the length of the inner node sub, whose child2 goes into k's left field and
// child1 into its right one; child2 comes off the list first.
void fillRecord(int k, NODE* node, const _NodeT* sub, std::vector<Placement>& pending) {
    node[k].length = sub->length;
    pending.push_back({k, &node[k].right, sub->child1});
    pending.push_back({k, &node[k].left, sub->child2});
}

// Puts every listed subtree in place, the last listed first and each one whole before the
// next: an inner node takes the next free record, so that the inner records are numbered in
// pre-order, and a leaf the record of its name. The list stands in for a recursion as deep
// as the tree.
void placeAll(int n, NODE* node, std::vector<Placement>& pending) {
    while (!pending.empty()) {
        Placement p = pending.back();
        pending.pop_back();
        if (!p.sub->child1) {
            placeLeaf(n, p, node);
            continue;
        }
        int k = ++arrange;
        *p.field = k;
        node[k].parent = p.parent;
        fillRecord(k, node, p.sub, pending);
    }
}

void writeTree(const char* treeFile, const RootNodeT* root) {
    WholeFile file;
    if (!file.open(treeFile)) cannotCreate(treeFile);
    printTree(file.stream(), root);
    if (!file.close()) {
        std::fprintf(stderr, "%s could not be written\n", treeFile);
        std::perror("wnj::wnj1::wnj");
        fatalExit(1);
    }
}

// Characters with a meaning in the tree file's text, which a name there cannot hold.
bool isTreeMarkup(char c) {
    return std::strchr(",():;", c) != nullptr || std::isspace(static_cast<unsigned char>(c));
}

// The first character of name that the tree file cannot hold; 0 when none.
char treeMarkupIn(const char* name) {
    for (const char* c = name; *c; c++)
        if (isTreeMarkup(*c)) return *c;
    return 0;
}

} // namespace

int longLeafName(int n, const NODE* node) {
    for (int i = 1; i <= n; i++)
        if (std::strlen(node[i].name) > static_cast<std::size_t>(NAME_TABLE_WIDTH)) return i;
    return 0;
}

int markupLeafName(int n, const NODE* node) {
    for (int i = 1; i <= n; i++)
        if (treeMarkupIn(node[i].name)) return i;
    return 0;
}

bool leafNamesFit(int n, const NODE* node) {
    return longLeafName(n, node) == 0 && markupLeafName(n, node) == 0;
}

void checkLeafNames(int n, const NODE* node) {
    if (int k = longLeafName(n, node)) {
        std::fprintf(stderr,
                     "Sequence %d (%s): the name has %zu characters, but a tree can be built only for names "
                     "of at most %d; shorten the name or give a tree file with -t\n",
                     k, node[k].name, std::strlen(node[k].name), NAME_TABLE_WIDTH);
        fatalExit(1);
    }
    if (int k = markupLeafName(n, node)) {
        char c = treeMarkupIn(node[k].name);
        std::string shown =
            std::isspace(static_cast<unsigned char>(c)) ? "white space" : std::string("'") + c + "'";
        std::fprintf(
            stderr,
            "Sequence %d (%s): the name holds %s, but the names of a built tree file cannot hold , ( ) "
            ": ; or white space; rename the sequence or give a tree file with -t\n",
            k, node[k].name, shown.c_str());
        fatalExit(1);
    }
}

void transfer(int n, int index, NODE* node, const RootNodeT* root) {
    node[index].length = 0.0;
    node[index].isRoot = 1;
    node[index].parent = index;
    // child2 into left, then child1 into third, then child0 into right.
    std::vector<Placement> pending = {{index, &node[index].right, root->child0},
                                      {index, &node[index].third, root->child1},
                                      {index, &node[index].left, root->child2}};
    placeAll(n, node, pending);
}

void transfer1(int n, int index, NODE* node, const _NodeT* sub) {
    std::vector<Placement> pending;
    fillRecord(index, node, sub, pending);
    placeAll(n, node, pending);
}

void wnj(int n, int L, NODE* node, double** D, const char* treeFile) {
    setParameters(L);
    // The builder's own copies, 0-based; kept until the process ends.
    double** distances = matrix(n);
    for (int i = 1; i <= n; i++)
        for (int j = 1; j <= n; j++) distances[i - 1][j - 1] = D[i][j];
    checkLeafNames(n, node);
    char** names = cmatrix(0, n, 0, NAME_TABLE_WIDTH);
    for (int i = 1; i <= n; i++) std::strcpy(names[i - 1], node[i].name);
    warnFlag = -1;
    forgetSplitVariance();
    RootNodeT* root = buildTree(n, distances, names);
    reportSplitVariance();
    if (treeFile) writeTree(treeFile, root);
    arrange = n + 1;
    transfer(n, n + 1, node, root);
    deleteTree(root);
    std::printf("finish wnj and return\n");
}

} // namespace wnj
