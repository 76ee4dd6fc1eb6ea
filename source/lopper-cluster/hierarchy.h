// lopper-cluster's tree methods: the tree of the elements (and of the
// columns, for the picture) and its leaf order.
#ifndef LOPPER_CLUSTER_COMMAND_HIERARCHY_H
#define LOPPER_CLUSTER_COMMAND_HIERARCHY_H

#include <lopper/cluster.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "dataset.h"
#include "formats.h"

namespace lopper {

using Tree = std::unique_ptr<Node[], FreeDeleter>;

// The tree of the dataset's elements by the settings' linkage; from the data without a distance
// matrix with --no-matrix, or when the matrix would not fit in the memory available (said on err).
// Failures (memory short, before the work when the matrix cannot fit) are messages.
Result<Tree> BuildTree(const Settings& s, Dataset& d, ProgressLine& progress, std::ostream& err);

// The tree of the profiles' columns by `method`, with every element
// weighing 1. Fails when two columns have no row in common.
Result<Tree> BuildColumnTree(const Settings& s, const Dataset& d, char method,
                             ProgressLine& progress);

// How many inner steps optimalleaforder takes on tree, each about as long:
// for each record, the leaves of one child times the far ends that the
// other child's orders can reach, both ways round; from n^2 for a chain to
// about n^3 / 6 for a balanced tree.
double LeafOrderSteps(int n, const Node* tree);

// --leaf-order optimal: orders the leaves of the elements' tree and of the
// columns' tree (each may be null), with progress. Fails, before any of
// the work, when the two would take more than a minute on a machine like
// the development machine, unless --force is given.
Result<bool> OrderAllLeaves(const Settings& s, Dataset& d, Node* tree, Node* column_tree,
                            ProgressLine& progress);

}  // namespace lopper

#endif
