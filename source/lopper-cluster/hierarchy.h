// lopper-cluster's tree methods: the tree of the elements (and of the
// columns, for the picture), its leaf order, and its cuts.
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

// The tree of the dataset's elements by the settings' linkage, its leaves
// ordered optimally when asked; from the data without a distance matrix
// with --no-matrix, or when the matrix would not fit in the memory
// available (said on err). Failures (memory short, before the work when
// the matrix cannot fit) are messages.
Result<Tree> BuildTree(const Settings& s, Dataset& d, ProgressLine& progress, std::ostream& err);

// The tree of the profiles' columns by `method`, with every element
// weighing 1, its leaves ordered optimally when the settings ask.
Result<Tree> BuildColumnTree(const Settings& s, const Dataset& d, char method);

// The cuts the settings ask for (-k, then --height), one column each.
Result<std::vector<ClusterColumn>> CutTree(const Settings& s, const Dataset& d, const Node* tree);

// The report of the cuts: for each, its label, how many clusters it gave
// and (--silhouette) their mean silhouette width; a header line first.
Result<std::vector<std::vector<std::string>>> CutReport(const Settings& s, Dataset& d,
                                                        const std::vector<ClusterColumn>& cuts);

}  // namespace lopper

#endif
