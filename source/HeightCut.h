// Cutting a tree read from a file by the heights of its merges, which the
// branch lengths give in one of two readings.
#ifndef LOPPER_HEIGHTCUT_H
#define LOPPER_HEIGHTCUT_H

#include <lopper/cluster.h>

#include <array>
#include <vector>

#include "NexusTree.h"

namespace lopper {

// kEdge: a length is its edge's (every other tool, and lopper-cluster's
// files); a merge's height is its greatest sum of lengths down to a leaf.
// kJoin: all children of a merge carry the merge's height, as lopper's
// NexusTreeOut writes (100 x the height).
// A node of more than two children (records marked joined, see TreeRead)
// is one merge: the branches inside it are none of the file's.
enum class BranchLengths { kEdge, kJoin };

// Whether the tree's lengths fit the join reading: all children of every
// merge carry the same length, and no merge's is below a merge inside it.
bool FitsJoinHeights(const TreeRead& tree);

// How many branches under the tree's merges have no length; the tree has
// 2 x nodes.size() minus the number of joined records.
int MissingLengths(const TreeRead& tree);

// tree.nodes in the file's order, each with its height as its distance:
// a merge lower than one inside it (an inversion) is raised to that height,
// and every record of a node of more than two children gets the node's
// height, so that a cut by height keeps its children together or parts
// them all. The cuts at a height, by inconsistency and the dynamic cut take
// them so. Every branch under a merge must have a length (MissingLengths 0).
std::vector<Node> WithHeights(const TreeRead& tree, BranchLengths reading);

// The same records ordered by height, lowest first (ties in the file's
// order), so that cuttree on them undoes the highest merges.
std::vector<Node> OrderedByHeight(const TreeRead& tree, BranchLengths reading);

// The lengths of the edges above each record's left and right child, in
// the tree's own record order (as cuttree_clade takes them): kEdge, the
// lengths as read; kJoin, the height of the record's node less its
// child's, the heights as OrderedByHeight gives them (so never negative).
// A link's slot is 0. Every branch must have a length (MissingLengths 0).
std::vector<std::array<double, 2>> EdgeLengths(const TreeRead& tree, BranchLengths reading);

// The records with each merge's children as R's hclust (and a SciPy
// linkage matrix) lists them: an element before a merge, the smaller
// element first, the lower merge first (ties: the earlier record). The
// dynamic tree cut reads the leaves in that order, so that both commands
// give the partition of R's hclust and cutreeDynamic, however a file or a
// linkage lists the children. records: nelements-1, children first.
std::vector<Node> AsHclustLists(int nelements, const Node* records);

}  // namespace lopper

#endif
