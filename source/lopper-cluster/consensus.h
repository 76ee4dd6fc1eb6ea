// lopper-cluster --consensus: consensus clustering (Monti et al. 2003, as
// Bioconductor's ConsensusClusterPlus) of resamples of the elements for
// each -k, and what the outputs show of it.
#ifndef LOPPER_CLUSTER_COMMAND_CONSENSUS_H
#define LOPPER_CLUSTER_COMMAND_CONSENSUS_H

#include <ostream>
#include <string>
#include <vector>

#include "consensus_svg.h"
#include "dataset.h"
#include "formats.h"
#include "options.h"
#include "progress.h"
#include "result.h"

namespace lopper {

// One k's consensus: the CDF (100 values) and its area, the area's
// relative change from the k before, the final clusters (numbered from 0
// by first element), each cluster's consensus (NaN for one member) and
// each element's with each cluster (item[e * k + c]; NaN where e is alone
// in c).
struct ConsensusOfK {
  int k = 0;
  double area = 0, delta = 0;
  std::vector<double> cdf;
  std::vector<int> clusters;
  std::vector<double> cluster;
  std::vector<double> item;
};

// A run's consensus: one ConsensusOfK per k in ascending order, and the
// counts the matrices come from (the library's triangles: `together`, one
// per k, and `sampled`).
struct Consensus {
  std::vector<ConsensusOfK> ks;
  std::vector<int> together, sampled;
};

// The ks of the settings' -k that consensus clustering runs for: each
// once, ascending, as the change in area needs them.
std::vector<int> ConsensusKs(const Settings& s);

// The file of k's consensus matrix: the --consensus-matrix prefix, then
// "k=K.tsv".
std::string ConsensusMatrixPath(const Settings& s, int k);

// Resamples d's elements as the settings say, every resample drawn from
// `seed` and its own number, then finishes each k. Fails, before the work
// when the counts would not fit in memory, when a k is more than a
// resample draws, or when a resample cannot be clustered.
Result<Consensus> ConsensusClustering(const Settings& s, const Dataset& d, int seed,
                                      ProgressLine& progress);

// The clusters file's columns: the final clusters, "consensus-k=K".
std::vector<ClusterColumn> ConsensusColumns(const Consensus& c);

// The report's rows (header first): k, area, delta and the consensus of
// each final cluster in the clusters file's numbering, separated by
// commas (NA for a cluster of one).
std::vector<std::vector<std::string>> ConsensusReport(const Consensus& c);

// The item consensus, long (header first): element, k, cluster (numbered
// as in the clusters file), consensus (NA where the element is alone).
std::vector<std::vector<std::string>> ItemConsensusTable(const Dataset& d, const Consensus& c);

// Consensus matrix t of c (t: the place of its k in c.ks), square with
// the names as header and first column, diagonal 1.
bool WriteConsensusMatrix(std::ostream& out, const Dataset& d, const Consensus& c, std::size_t t);

// What --consensus-svg draws.
ConsensusPicture ConsensusPictureOf(const Consensus& c);

}  // namespace lopper

#endif
