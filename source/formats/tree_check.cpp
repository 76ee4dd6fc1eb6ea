#include "tree_check.h"

#include <cmath>
#include <vector>

namespace lopper::formats_detail {

bool IsClusterTree(int nelements, const Node* tree) {
  if (nelements < 2 || tree == nullptr) return false;
  const int nrecords = nelements - 1;
  // Slots 0 ... nelements-1 for the elements, then one per record.
  std::vector<bool> used(static_cast<std::size_t>(nelements) + nrecords, false);
  for (int i = 0; i < nrecords; i++) {
    if (!std::isfinite(tree[i].distance)) return false;
    for (const int ref : {tree[i].left, tree[i].right}) {
      if (ref >= nelements || ref < -i) return false;
      const std::size_t slot = ref >= 0 ? static_cast<std::size_t>(ref)
                                        : static_cast<std::size_t>(nelements) + (-ref - 1);
      if (used[slot]) return false;
      used[slot] = true;
    }
  }
  return true;
}

}  // namespace lopper::formats_detail
