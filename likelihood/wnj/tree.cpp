#include "wnj/tree.h"

#include "numerics/matrixalgebra.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

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

bool isInner(const _NodeT* node) {
    return node->child1 || node->child2;
}

void deleteSubtree(_NodeT* node) {
    if (!node) return;
    if (isInner(node)) deleteNode(node);
    std::free(node);
}

} // namespace

void deleteNode(_NodeT* node) {
    deleteSubtree(node->child1);
    deleteSubtree(node->child2);
}

void deleteTree(RootNodeT* root) {
    deleteSubtree(root->child0);
    deleteSubtree(root->child1);
    deleteSubtree(root->child2);
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
    if (!node->child1) {
        wrapPrint(file, formatted("%s:%f", node->name, node->length).c_str());
        return;
    }
    wrapPrint(file, "(");
    printBinaryTree(file, node->child2);
    wrapPrint(file, ",");
    printBinaryTree(file, node->child1);
    wrapPrint(file, formatted("):%f", node->length).c_str());
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
