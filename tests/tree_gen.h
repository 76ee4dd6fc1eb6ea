// Random trees for the tests, and what a tree means independently of how
// its records are ordered (the element sets under its nodes).
#ifndef LOPPER_TREE_GEN_H
#define LOPPER_TREE_GEN_H

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "cluster.h"

namespace lopper_test {

using Tree = std::vector<lopper::Node>;

enum class Shape { kBalanced, kChain, kRandom };

inline const char* Name(Shape s) {
  return s == Shape::kBalanced ? "balanced" : s == Shape::kChain ? "chain" : "random";
}

// The elements of tree (n-1 records, root last) from left to right, each
// left subtree before its right one; without recursion, for deep chains.
inline std::vector<int> LeafOrder(int n, const lopper::Node* tree) {
  std::vector<int> order, pending{-(n - 1)};
  order.reserve(static_cast<std::size_t>(n));
  while (!pending.empty()) {
    const int ref = pending.back();
    pending.pop_back();
    if (ref >= 0) {
      order.push_back(ref);
    } else {
      // Right first, so that the left subtree comes off the stack first.
      pending.push_back(tree[-ref - 1].right);
      pending.push_back(tree[-ref - 1].left);
    }
  }
  return order;
}

// The sum of the distances between neighbours in order, from a lower
// triangle as distancematrix gives it.
inline double NeighbourSum(const std::vector<int>& order, const double* const* lower) {
  double sum = 0;
  for (std::size_t q = 1; q < order.size(); q++)
    sum += lower[std::max(order[q - 1], order[q])][std::min(order[q - 1], order[q])];
  return sum;
}

// Children-first tree over n shuffled elements; distances grow with the
// record index, by random steps.
inline Tree MakeTree(int n, Shape shape, std::mt19937& rng) {
  std::vector<int> pool(n);
  std::iota(pool.begin(), pool.end(), 0);
  std::shuffle(pool.begin(), pool.end(), rng);
  Tree tree;
  double height = 0.0;
  auto join = [&](int left, int right) {
    height += std::uniform_real_distribution<double>(0.0, 0.01)(rng);
    tree.push_back({left, right, height});
    return -static_cast<int>(tree.size());
  };
  if (shape == Shape::kBalanced) {
    while (pool.size() > 1) {
      std::vector<int> next;
      for (std::size_t i = 0; i + 1 < pool.size(); i += 2)
        next.push_back(join(pool[i], pool[i + 1]));
      if (pool.size() % 2) next.push_back(pool.back());
      pool = next;
    }
  } else {
    while (pool.size() > 1) {
      const std::size_t a = shape == Shape::kChain ? 0 : rng() % pool.size();
      std::swap(pool[a], pool.back());
      const int left = pool.back();
      pool.pop_back();
      const std::size_t b = shape == Shape::kChain ? 0 : rng() % pool.size();
      pool[b] = join(left, pool[b]);
    }
  }
  return tree;
}

// The same tree with record k moved to position[k], references renumbered.
inline Tree Permuted(const Tree& tree, const std::vector<int>& position) {
  Tree out(tree.size());
  auto moved = [&](int ref) { return ref >= 0 ? ref : -(position[-ref - 1] + 1); };
  for (std::size_t k = 0; k < tree.size(); k++)
    out[position[k]] = {moved(tree[k].left), moved(tree[k].right), tree[k].distance};
  return out;
}

// Each record's element set (sorted) with its distance, sorted: equal for
// two arrays exactly when they hold the same tree.
inline std::vector<std::pair<std::vector<int>, double>> Clades(const Tree& tree) {
  const int n = static_cast<int>(tree.size()) + 1;
  std::vector<int> parent_of_element(n), parent_of_record(tree.size(), -1);
  for (std::size_t r = 0; r < tree.size(); r++)
    for (const int c : {tree[r].left, tree[r].right})
      (c >= 0 ? parent_of_element[c] : parent_of_record[-c - 1]) = static_cast<int>(r);
  std::vector<std::vector<int>> sets(tree.size());
  for (int e = 0; e < n; e++)
    for (int r = parent_of_element[e]; r >= 0; r = parent_of_record[r]) sets[r].push_back(e);
  std::vector<std::pair<std::vector<int>, double>> clades;
  for (std::size_t r = 0; r < tree.size(); r++) {
    std::sort(sets[r].begin(), sets[r].end());
    clades.emplace_back(sets[r], tree[r].distance);
  }
  std::sort(clades.begin(), clades.end());
  return clades;
}

// The tree as SciPy's linkage matrix in text, for numpy.loadtxt: per
// record "id1 id2 height size", element e as e, record r as n + r.
inline std::string ScipyLinkage(const Tree& tree) {
  const int n = static_cast<int>(tree.size()) + 1;
  std::vector<int> size(tree.size());
  const auto id = [n](int ref) { return ref >= 0 ? ref : n - ref - 1; };
  const auto size_of = [&size](int ref) { return ref >= 0 ? 1 : size[-ref - 1]; };
  std::string text;
  for (std::size_t r = 0; r < tree.size(); r++) {
    size[r] = size_of(tree[r].left) + size_of(tree[r].right);
    char line[128];
    std::snprintf(line, sizeof line, "%d %d %.17g %d\n", id(tree[r].left), id(tree[r].right),
                  tree[r].distance, size[r]);
    text += line;
  }
  return text;
}

}  // namespace lopper_test

#endif
