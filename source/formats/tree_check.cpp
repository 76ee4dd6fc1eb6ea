#include "tree_check.h"

#include <cmath>

namespace lopper::formats_detail {

bool IsClusterTree(int nelements, const Node* tree) {
  if (istree(nelements, tree) != 1) return false;
  // The formats write heights as numbers, which NaN and infinity are not.
  for (int i = 0; i < nelements - 1; i++)
    if (!std::isfinite(tree[i].distance)) return false;
  return true;
}

std::vector<int> LeavesUnder(const Node* tree, int ref) {
  std::vector<int> leaves, pending{ref};
  while (!pending.empty()) {
    const int next = pending.back();
    pending.pop_back();
    if (next >= 0) {
      leaves.push_back(next);
    } else {
      // Right first, so that the left subtree comes off the stack first.
      pending.push_back(tree[-next - 1].right);
      pending.push_back(tree[-next - 1].left);
    }
  }
  return leaves;
}

}  // namespace lopper::formats_detail
