// lopper-cluster's cuts of a tree: each rule the settings name gives one
// column of the clusters file, and the report says what each found.
#ifndef LOPPER_CLUSTER_COMMAND_CUTS_H
#define LOPPER_CLUSTER_COMMAND_CUTS_H

#include <lopper/cluster.h>

#include <string>
#include <vector>

#include "dataset.h"
#include "formats.h"
#include "options.h"
#include "result.h"

namespace lopper {

// The cuts the settings ask for, one column each, in this order: -k,
// --height, --inconsistent, --dynamic, --clade. Clusters are numbered from
// 1 in the order of their first element, except the dynamic cut's, which
// are numbered by size, largest first, as R's; elements in no cluster (the
// dynamic cut's leftovers, clusters below --min-size) get 0. Fails when
// memory is short.
Result<std::vector<ClusterColumn>> CutColumns(const Settings& s, Dataset& d, const Node* tree);

// The report of the cuts: for each, its label, how many clusters it gave,
// (with --dynamic or --min-size) how many elements are in none, and
// (--silhouette) their mean silhouette width; a header line first.
Result<std::vector<std::vector<std::string>>> CutReport(const Settings& s, Dataset& d,
                                                        const std::vector<ClusterColumn>& cuts);

// How many clusters clusterid (any numbering) has.
int ClusterCount(const std::vector<int>& clusterid);

// The mean silhouette width of the partition clusterid (any numbering),
// from Distances, as report text: "NA" where it is not defined (one
// cluster, or as many as elements).
Result<std::string> SilhouetteText(const Settings& s, Dataset& d,
                                   const std::vector<int>& clusterid);

}  // namespace lopper

#endif
