#include "wnj/tree.h"

#include "numerics/matrixalgebra.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace wnj {

_NodeT* createNode() {
    _NodeT* node = static_cast<_NodeT*>(std::malloc(sizeof(_NodeT)));
    if (!node) {
        std::perror("wnj::tree::createNode");
        fatalExit(1);
    }
    node->name = nullptr;
    node->index = 0;
    node->length = 0.0;
    node->child1 = node->child2 = nullptr;
    node->createIndex = node->activeCount = -1;
    return node;
}

RootNodeT* createRootNode() {
    RootNodeT* root = static_cast<RootNodeT*>(std::malloc(sizeof(RootNodeT)));
    if (!root) {
        std::perror("wnj::tree::createRootNode");
        fatalExit(1);
    }
    root->child0 = root->child1 = root->child2 = nullptr;
    return root;
}

namespace {

// Frees the subtree at node in post-order: child1's subtree, then child2's, then node. The
// nodes are listed first, each before its subtrees and child2's subtree before child1's, which
// is that order backwards; the lists stand in for a recursion as deep as the tree.
void freeSubtree(_NodeT* node) {
    if (!node) return;
    std::vector<_NodeT*> listed, pending = {node};
    while (!pending.empty()) {
        _NodeT* x = pending.back();
        pending.pop_back();
        listed.push_back(x);
        for (_NodeT* child : {x->child1, x->child2})
            if (child) pending.push_back(child);
    }
    for (auto x = listed.rbegin(); x != listed.rend(); ++x) std::free(*x);
}

} // namespace

void deleteNode(_NodeT* node) {
    freeSubtree(node->child1);
    freeSubtree(node->child2);
}

void deleteTree(RootNodeT* root) {
    freeSubtree(root->child0);
    freeSubtree(root->child1);
    freeSubtree(root->child2);
    std::free(root);
}

namespace {

// The pending line of wrapPrint; it grows as long as a line needs.
std::string printBuf;

constexpr std::size_t lineWidth = 80;

// The text of a printf format, however long.
std::string formatted(const char* format, ...) {
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(static_cast<std::size_t>(size), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

// Where the pending line may end: after its last ',', else its last ')', else its last
// '('; npos when it holds none of them.
std::size_t cutPoint(const std::string& line) {
    for (char mark : {',', ')', '('}) {
        std::size_t at = line.rfind(mark);
        if (at != std::string::npos) return at + 1;
    }
    return std::string::npos;
}

} // namespace

void moveMem(char* dst, const char* src, int count) {
    if (src < dst) {
        std::fprintf(stderr, "ALGORITHM ERROR\nCan not call moveMem with overlapping blocks"
                             "where src is less than destination\nwnj:tree:moveMem\n");
        fatalExit(1);
    }
    for (int k = 0; k < count; k++) dst[k] = src[k];
}

void wrapPrint(FILE* file, const char* text) {
    if (!text) {
        std::fprintf(file, "%s\n", printBuf.c_str());
        printBuf.clear();
        return;
    }
    printBuf += text;
    if (printBuf.size() < lineWidth) return;
    std::size_t cut = cutPoint(printBuf);
    if (cut == std::string::npos) return;
    std::fwrite(printBuf.data(), 1, cut, file);
    std::fputc('\n', file);
    int rest = static_cast<int>(printBuf.size() - cut);
    moveMem(&printBuf[0], &printBuf[cut], rest);
    printBuf.resize(static_cast<std::size_t>(rest));
}

void printBinaryTree(FILE* file, const _NodeT* node) {
    // What is still to be written, last first: a subtree, the comma between two subtrees, or
    // the bracket and length that close an inner node. The list stands in for a recursion as
    // deep as the tree.
    enum Kind { SUBTREE, COMMA, CLOSE };
    std::vector<std::pair<Kind, const _NodeT*>> pending = {{SUBTREE, node}};
    while (!pending.empty()) {
        auto [kind, x] = pending.back();
        pending.pop_back();
        if (kind == COMMA) {
            wrapPrint(file, ",");
        } else if (kind == CLOSE) {
            wrapPrint(file, formatted("):%f", x->length).c_str());
        } else if (!x->child1) {
            wrapPrint(file, formatted("%s:%f", x->name, x->length).c_str());
        } else {
            wrapPrint(file, "(");
            pending.push_back({CLOSE, x});
            pending.push_back({SUBTREE, x->child1});
            pending.push_back({COMMA, nullptr});
            pending.push_back({SUBTREE, x->child2});
        }
    }
}

void printTree(FILE* file, const RootNodeT* root) {
    wrapPrint(file, "(");
    printBinaryTree(file, root->child2);
    wrapPrint(file, ",");
    printBinaryTree(file, root->child1);
    wrapPrint(file, ",");
    printBinaryTree(file, root->child0);
    wrapPrint(file, ");\n");
    wrapPrint(file, nullptr);
}

} // namespace wnj
