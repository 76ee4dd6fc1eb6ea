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

// Whether the child at ref is a record of its parent's own node: its slot
// is no branch of the file.
bool IsLink(const TreeRead& tree, int ref) { return ref < 0 && tree.joined[-ref - 1]; }

// Every record's height in the reading: a merge lower than one inside it
// raised to that height, and every record of a node of more than two
// children at the node's height.
std::vector<double> NodeHeights(const TreeRead& tree, BranchLengths reading) {
  const std::size_t nrecords = tree.nodes.size();
  // Children come before parents, so one pass in record order sees every
  // child's height before its parent's. A link's slot holds 0, which
  // changes no height: none is below its leaves' 0.
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
  // The top record of a node has seen all its children: its height goes
  // down to the node's other records, parents before children.
  for (std::size_t r = nrecords; r-- > 0;)
    if (IsLink(tree, tree.nodes[r].left)) height[-tree.nodes[r].left - 1] = height[r];
  return height;
}

}  // namespace

// A record's right child is always one of its node's children, so in the
// join reading its length is the node's height.
bool FitsJoinHeights(const TreeRead& tree) {
  for (std::size_t r = 0; r < tree.nodes.size(); r++) {
    const Node& node = tree.nodes[r];
    const double height = tree.lengths[r][1];
    const double left =
        IsLink(tree, node.left) ? tree.lengths[-node.left - 1][1] : tree.lengths[r][0];
    if (!(left == height)) return false;  // unequal, or missing (NaN)
    for (const int child : {node.left, node.right})
      if (child < 0 && !IsLink(tree, child) && tree.lengths[-child - 1][1] > height) return false;
  }
  return true;
}

// A link's slot holds 0: only the file's branches can miss a length.
int MissingLengths(const TreeRead& tree) {
  int missing = 0;
  for (const auto& length : tree.lengths) missing += std::isnan(length[0]) + std::isnan(length[1]);
  return missing;
}

std::vector<Node> WithHeights(const TreeRead& tree, BranchLengths reading) {
  const std::vector<double> height = NodeHeights(tree, reading);
  std::vector<Node> records(tree.nodes);
  for (std::size_t r = 0; r < records.size(); r++) records[r].distance = height[r];
  return records;
}

std::vector<Node> OrderedByHeight(const TreeRead& tree, BranchLengths reading) {
  const std::vector<Node> records = WithHeights(tree, reading);
  const std::size_t nrecords = records.size();
  std::vector<int> order(nrecords);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&records](int a, int b) { return records[a].distance < records[b].distance; });
  std::vector<int> position(nrecords);
  for (std::size_t i = 0; i < nrecords; i++) position[order[i]] = static_cast<int>(i);
  const auto moved = [&position](int ref) { return ref >= 0 ? ref : -position[-ref - 1] - 1; };
  std::vector<Node> ordered(nrecords);
  for (std::size_t i = 0; i < nrecords; i++) {
    const Node& node = records[order[i]];
    ordered[i] = {moved(node.left), moved(node.right), node.distance};
  }
  return ordered;
}

// A link's slot comes to 0: the joined record has its node's height.
std::vector<std::array<double, 2>> EdgeLengths(const TreeRead& tree, BranchLengths reading) {
  if (reading == BranchLengths::kEdge) return tree.lengths;
  const std::vector<double> height = NodeHeights(tree, reading);
  std::vector<std::array<double, 2>> edges(tree.nodes.size());
  for (std::size_t r = 0; r < tree.nodes.size(); r++) {
    const Node& node = tree.nodes[r];
    edges[r] = {height[r] - SubtreeHeight(node.left, height),
                height[r] - SubtreeHeight(node.right, height)};
  }
  return edges;
}

std::vector<Node> AsHclustLists(int nelements, const Node* records) {
  std::vector<Node> listed(records, records + std::max(nelements - 1, 0));
  const auto before = [records](int a, int b) {
    if ((a >= 0) != (b >= 0)) return a >= 0;
    if (a >= 0) return a < b;
    const double ha = records[-a - 1].distance, hb = records[-b - 1].distance;
    return ha < hb || (ha == hb && a > b);  // a > b: the earlier record
  };
  for (Node& node : listed)
    if (before(node.right, node.left)) std::swap(node.left, node.right);
  return listed;
}

}  // namespace lopper
