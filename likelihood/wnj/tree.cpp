#include "wnj/tree.h"

#include "numerics/matrixalgebra.h"

#include <cstdio>
#include <cstdlib>

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

} // namespace wnj
