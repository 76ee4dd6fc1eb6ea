// The check every tree writer makes before writing.
#ifndef LOPPER_FORMATS_TREE_CHECK_H
#define LOPPER_FORMATS_TREE_CHECK_H

#include <lopper/cluster.h>

namespace lopper::formats_detail {

// True when tree (may be null) is a tree by the library's rule (istree:
// nelements >= 2, children before parents, every element and non-root
// record a child exactly once) whose heights are all finite; false also
// when the check's scratch cannot be had.
bool IsClusterTree(int nelements, const Node* tree);

}  // namespace lopper::formats_detail

#endif
