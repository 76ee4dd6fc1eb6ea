// Cutting a tree read from a file by the heights of its merges, which the
// branch lengths give in one of two readings.
#ifndef LOPPER_HEIGHTCUT_H
#define LOPPER_HEIGHTCUT_H

#include <lopper/cluster.h>

#include <vector>

#include "NexusTree.h"

namespace lopper {

// kEdge: a length is its edge's (every other tool, and lopper-cluster's
// files); a merge's height is its greatest sum of lengths down to a leaf.
// kJoin: both children of a merge carry the merge's height, as lopper's
// NexusTreeOut writes (100 x the height).
enum class BranchLengths { kEdge, kJoin };

// Whether the tree's lengths fit the join reading: both children of every
// merge carry the same length, and no merge's is below a merge inside it.
bool FitsJoinHeights(const TreeRead& tree);

// How many branches under the tree's merges have no length.
int MissingLengths(const TreeRead& tree);

// tree.nodes ordered by height, lowest first, each with its height as its
// distance; cuttree on them undoes the highest merges. A merge lower than
// one inside it (an inversion) is raised to that height, so that children
// still come before parents; ties keep the file's order. Every branch
// under a merge must have a length (MissingLengths 0).
std::vector<Node> OrderedByHeight(const TreeRead& tree, BranchLengths reading);

}  // namespace lopper

#endif
