// lopper-cluster's partitioning methods: k-means, k-medians and k-medoids
// for each -k, and the self-organising map.
#ifndef LOPPER_CLUSTER_COMMAND_PARTITION_H
#define LOPPER_CLUSTER_COMMAND_PARTITION_H

#include <string>
#include <vector>

#include "dataset.h"
#include "formats.h"

namespace lopper {

// A partitioning run's results: the clusters file's columns, the rows of
// the centroids file and of the report (each with a header line first).
struct Partitions {
  std::vector<ClusterColumn> columns;
  std::vector<std::vector<std::string>> centroids;
  std::vector<std::vector<std::string>> report;
};

// The number of the map's cell (x, y), counting down each column of the
// grid in turn: the cells' order in the report and the picture.
inline int CellNumber(const Settings& s, int x, int y) { return x * s.grid_y + y; }

// Runs the settings' partitioning method with every random start drawn
// from `seed`: each k (and the map) starts from the seed afresh, so that a
// k's result does not depend on the others asked for. Failures (memory
// short) are messages.
Result<Partitions> Partition(const Settings& s, Dataset& d, int seed);

}  // namespace lopper

#endif
