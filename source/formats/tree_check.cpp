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

}  // namespace lopper::formats_detail
