// lopper-cluster --bootstrap: how well the data support each merge of the
// tree, from resampling the values (R's pvclust), and what the outputs
// show of it.
#ifndef LOPPER_CLUSTER_COMMAND_BOOTSTRAP_H
#define LOPPER_CLUSTER_COMMAND_BOOTSTRAP_H

#include <lopper/cluster.h>

#include <string>
#include <vector>

#include "dataset.h"
#include "options.h"
#include "progress.h"
#include "result.h"

namespace lopper {

// One BootstrapSupport per record of tree, from the settings' resamples
// of d's values, each drawn from `seed` and its own number. Fails when
// memory is short (said before the work when the resamples' distance
// matrices cannot fit).
Result<std::vector<BootstrapSupport>> BootstrapTree(const Settings& s, const Dataset& d,
                                                    const Node* tree, int seed,
                                                    ProgressLine& progress);

// The --support table: a header, then per record in record order its
// number from 1, size, height, bp, au, se.bp, se.au, v, c and pchi.
std::vector<std::vector<std::string>> SupportTable(int nelements, const Node* tree,
                                                   const std::vector<BootstrapSupport>& support);

// The node label of each record: AU (or BP with --support-label bp) in
// whole percent, as pvclust's plot shows it.
std::vector<std::string> SupportLabels(const Settings& s,
                                       const std::vector<BootstrapSupport>& support);

// The report's rows (header first): the largest clusters whose AU is at
// least --alpha, one row each, with their members' names (R's pvpick).
std::vector<std::vector<std::string>> SupportedClusters(
    const Settings& s, const Dataset& d, const Node* tree,
    const std::vector<BootstrapSupport>& support);

}  // namespace lopper

#endif
