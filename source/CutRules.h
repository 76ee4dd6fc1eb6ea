// Cutting the tree read from a file by the rule the command line chose:
// every rule of the lopper command is applied here, in one table.
#ifndef LOPPER_CUTRULES_H
#define LOPPER_CUTRULES_H

#include <string>
#include <vector>

#include "LopperInOut.h"
#include "NexusTree.h"

namespace lopper {

// Each element's cluster, or else what is wrong, starting with `source`.
struct CutResult {
  std::string problem;
  std::vector<int> cluid;
};

// Cuts `tree` (read from `source`) by cut.kind into Lvl clusters or by the
// rule's threshold; cluid[e] is element e's cluster, -1 for an element in
// none (the dynamic cut's leftovers, clusters below cut.min_size). Says on
// standard error how the branch lengths were read when a rule uses them.
CutResult CutByRule(const TreeRead& tree, int Lvl, const CutSettings& cut,
                    const std::string& source);

}  // namespace lopper

#endif
