// Test trees for the builder: random unrooted binary trees with their additive distances,
// the splits of a built tree, and distances of sequences evolved on a tree.
#ifndef TESTS_WNJ_WNJTREES_H
#define TESTS_WNJ_WNJTREES_H

#include "wnj/matrix.h"
#include "wnj/tree.h"

#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace wnjtest {

enum class Shape { Random, Caterpillar, Balanced };

// Leaves 0..n-1, inner nodes from n on; adjacency with branch lengths.
struct Tree {
    int n = 0;
    std::vector<std::vector<std::pair<int, double>>> adj;
    int add() {
        adj.emplace_back();
        return static_cast<int>(adj.size()) - 1;
    }
    void link(int a, int b, double len) {
        adj[a].push_back({b, len});
        adj[b].push_back({a, len});
    }
    void unlink(int a, int b) {
        for (int x : {a, b}) {
            int y = x == a ? b : a;
            auto& list = adj[x];
            for (auto it = list.begin(); it != list.end(); ++it)
                if (it->first == y) {
                    list.erase(it);
                    break;
                }
        }
    }
    double lengthOf(int a, int b) const {
        for (auto& e : adj[a])
            if (e.first == b) return e.second;
        return -1;
    }
};

inline Tree randomTree(int n, Shape shape, double lo, double hi, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> length(lo, hi);
    Tree t;
    t.n = n;
    t.adj.resize(n);
    if (shape == Shape::Balanced) {
        // A balanced rooted tree over leaves [first, last), its root returned; the top root
        // of degree two is then dissolved into one branch.
        std::function<int(int, int)> grow = [&](int first, int last) {
            if (last - first == 1) return first;
            int mid = (first + last) / 2;
            int a = grow(first, mid), b = grow(mid, last), v = t.add();
            t.link(v, a, length(rng));
            t.link(v, b, length(rng));
            return v;
        };
        int root = grow(0, n);
        int a = t.adj[root][0].first, b = t.adj[root][1].first;
        double len = t.adj[root][0].second + t.adj[root][1].second;
        t.unlink(root, a);
        t.unlink(root, b);
        t.link(a, b, len);
        return t;
    }
    int centre = t.add();
    for (int k = 0; k < 3; k++) t.link(centre, k, length(rng));
    for (int k = 3; k < n; k++) {
        // Split a branch: the one above leaf 0 grows a caterpillar, a random one a random tree.
        int a, b;
        if (shape == Shape::Caterpillar) {
            a = 0;
            b = t.adj[0][0].first;
        } else {
            std::vector<std::pair<int, int>> edges;
            for (int x = 0; x < static_cast<int>(t.adj.size()); x++)
                for (auto& e : t.adj[x])
                    if (x < e.first) edges.push_back({x, e.first});
            auto pick = edges[std::uniform_int_distribution<std::size_t>(0, edges.size() - 1)(rng)];
            a = pick.first;
            b = pick.second;
        }
        t.unlink(a, b);
        int v = t.add();
        t.link(a, v, length(rng));
        t.link(v, b, length(rng));
        t.link(v, k, length(rng));
    }
    return t;
}

// Path lengths between the leaves, as a builder matrix (caller frees).
inline double** additiveDistances(const Tree& t) {
    double** D = wnj::matrix(t.n);
    for (int a = 0; a < t.n; a++) {
        std::function<void(int, int, double)> walk = [&](int x, int from, double sum) {
            if (x < t.n) D[a][x] = sum;
            for (auto& e : t.adj[x])
                if (e.first != from) walk(e.first, x, sum + e.second);
        };
        walk(a, -1, 0.0);
    }
    return D;
}

// A split as the leaf set on the side without leaf 0, as 0/1 characters.
using Splits = std::map<std::string, double>;

inline std::string normalised(std::string side) {
    if (side[0] == '1')
        for (char& c : side) c = c == '1' ? '0' : '1';
    return side;
}

// Every branch of the tree with its length.
inline Splits splitsOf(const Tree& t) {
    Splits splits;
    std::function<std::string(int, int)> below = [&](int x, int from) {
        std::string side(t.n, '0');
        if (x < t.n) side[x] = '1';
        for (auto& e : t.adj[x])
            if (e.first != from) {
                std::string sub = below(e.first, x);
                for (int k = 0; k < t.n; k++)
                    if (sub[k] == '1') side[k] = '1';
                splits[normalised(sub)] = e.second;
            }
        return side;
    };
    below(t.n, -1); // from an inner node, so every branch is met once
    return splits;
}

// Every branch of a built tree with its length; the leaves are known by their index.
inline Splits splitsOf(const wnj::RootNodeT* root, int n) {
    Splits splits;
    std::function<std::string(const wnj::_NodeT*)> below = [&](const wnj::_NodeT* node) {
        std::string side(n, '0');
        if (!node->child1) {
            side[node->index] = '1';
        } else {
            for (const wnj::_NodeT* child : {node->child1, node->child2}) {
                std::string sub = below(child);
                for (int k = 0; k < n; k++)
                    if (sub[k] == '1') side[k] = '1';
            }
        }
        splits[normalised(side)] = node->length;
        return side;
    };
    for (const wnj::_NodeT* top : {root->child0, root->child1, root->child2}) below(top);
    return splits;
}

// Every node of a built tree (leaves and inner, the top not counted), depth first.
inline void visit(const wnj::RootNodeT* root, const std::function<void(const wnj::_NodeT*)>& f) {
    std::function<void(const wnj::_NodeT*)> walk = [&](const wnj::_NodeT* node) {
        f(node);
        if (node->child1) {
            walk(node->child1);
            walk(node->child2);
        }
    };
    for (const wnj::_NodeT* top : {root->child0, root->child1, root->child2}) walk(top);
}

// Distances between sequences of the given length evolved on t under the equal-rates
// model of 20 letters, corrected for multiple changes (an unobservable fraction gives 10).
inline double** evolvedDistances(const Tree& t, int length, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> letter(0, 19);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::vector<int>> seq(t.adj.size(), std::vector<int>(length));
    std::function<void(int, int)> evolve = [&](int x, int from) {
        for (auto& e : t.adj[x]) {
            if (e.first == from) continue;
            double keep = std::exp(-e.second * 20.0 / 19.0);
            for (int site = 0; site < length; site++)
                seq[e.first][site] = unit(rng) < keep ? seq[x][site] : letter(rng);
            evolve(e.first, x);
        }
    };
    for (int site = 0; site < length; site++) seq[t.n][site] = letter(rng);
    evolve(t.n, -1);
    double** D = wnj::matrix(t.n);
    for (int a = 0; a < t.n; a++)
        for (int b = 0; b < t.n; b++) {
            int differ = 0;
            for (int site = 0; site < length; site++) differ += seq[a][site] != seq[b][site];
            double p = static_cast<double>(differ) / length;
            double x = 1.0 - p * 20.0 / 19.0;
            D[a][b] = x > 0 ? -19.0 / 20.0 * std::log(x) : 10.0;
        }
    return D;
}

} // namespace wnjtest

#endif
