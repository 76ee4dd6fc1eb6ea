#include "HeightCut.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace lopper {

namespace {

// Height of the subtree at reference ref, leaves at 0; heights[r] holds
// record r's for every record before the one asking.
double SubtreeHeight(int ref, const std::vector<double>& heights) {
  return ref >= 0 ? 0.0 : heights[-ref - 1];
}

}  // namespace

bool FitsJoinHeights(const TreeRead& tree) {
  for (std::size_t r = 0; r < tree.nodes.size(); r++) {
    const auto& length = tree.lengths[r];
    if (!(length[0] == length[1])) return false;  // unequal, or missing (NaN)
    for (const int child : {tree.nodes[r].left, tree.nodes[r].right})
      if (child < 0 && tree.lengths[-child - 1][0] > length[0]) return false;
  }
  return true;
}

int MissingLengths(const TreeRead& tree) {
  int missing = 0;
  for (const auto& length : tree.lengths) missing += std::isnan(length[0]) + std::isnan(length[1]);
  return missing;
}

std::vector<Node> OrderedByHeight(const TreeRead& tree, BranchLengths reading) {
  const std::size_t nrecords = tree.nodes.size();
  // Children come before parents, so one pass in record order sees every
  // child's height before its parent's.
  std::vector<double> height(nrecords);
  for (std::size_t r = 0; r < nrecords; r++) {
    const Node& node = tree.nodes[r];
    const auto& length = tree.lengths[r];
    const double own = reading == BranchLengths::kJoin
                           ? std::max(length[0], length[1])
                           : std::max(SubtreeHeight(node.left, height) + length[0],
                                      SubtreeHeight(node.right, height) + length[1]);
    height[r] =
        std::max({own, SubtreeHeight(node.left, height), SubtreeHeight(node.right, height)});
  }
  std::vector<int> order(nrecords);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&height](int a, int b) { return height[a] < height[b]; });
  std::vector<int> position(nrecords);
  for (std::size_t i = 0; i < nrecords; i++) position[order[i]] = static_cast<int>(i);
  const auto moved = [&position](int ref) { return ref >= 0 ? ref : -position[-ref - 1] - 1; };
  std::vector<Node> ordered(nrecords);
  for (std::size_t i = 0; i < nrecords; i++) {
    const Node& node = tree.nodes[order[i]];
    ordered[i] = {moved(node.left), moved(node.right), height[order[i]]};
  }
  return ordered;
}

}  // namespace lopper
