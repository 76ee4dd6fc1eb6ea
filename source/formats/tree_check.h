// The check every tree writer makes before writing, and the walk that
// lists a subtree's leaves.
#ifndef LOPPER_FORMATS_TREE_CHECK_H
#define LOPPER_FORMATS_TREE_CHECK_H

#include <lopper/cluster.h>

#include <vector>

namespace lopper::formats_detail {

// True when tree (may be null) is a tree by the library's rule (istree:
// nelements >= 2, children before parents, every element and non-root
// record a child exactly once) whose heights are all finite; false also
// when the check's scratch cannot be had.
bool IsClusterTree(int nelements, const Node* tree);

// tree: a checked tree; ref: an element (>= 0) or record (-r-1). The
// elements under ref from left to right, each left subtree before its
// right one; without recursion, so a chain of any length is as easy.
std::vector<int> LeavesUnder(const Node* tree, int ref);

}  // namespace lopper::formats_detail

#endif
