#include "partition.h"

#include <lopper/cluster.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include "cuts.h"

namespace lopper {

namespace {

using Rows = std::vector<std::vector<std::string>>;

// One k's partition: the library's cluster ids, error and passes.
struct KResult {
  std::vector<int> clusterid;
  double error = 0;
  int found = 0;
};

// Cluster c's number in the clusters file, from 1 by first element.
std::vector<int> FileNumbers(const std::vector<int>& clusterid, int nclusters) {
  const std::vector<int> numbered = NumberClustersByFirstElement(clusterid);
  std::vector<int> number(static_cast<std::size_t>(nclusters), 0);
  for (std::size_t e = 0; e < clusterid.size(); e++) number[clusterid[e]] = numbered[e];
  return number;
}

// The present values of a profile as text; a missing one is an empty cell.
std::vector<std::string> ProfileCells(const double* values, const int* mask, std::size_t n) {
  std::vector<std::string> cells;
  for (std::size_t j = 0; j < n; j++) cells.push_back(mask[j] ? ShortestDecimal(values[j]) : "");
  return cells;
}

Result<KResult> RunK(const Settings& s, Dataset& d, int k) {
  const Table& t = d.table;
  KResult r{std::vector<int>(d.size()), 0, 0};
  if (s.partitioning == Partitioning::kMedoids) {
    auto distances = Distances(s, d);
    if (!distances.ok()) return Failure{distances.error()};
    kmedoids(k, d.size(), distances.value()->rows(), s.npass, r.clusterid.data(), &r.error,
             &r.found);
  } else {
    const auto passes = s.init == Init::kKmeansPlusPlus ? kclusterplusplus : kcluster;
    passes(k, d.size(), static_cast<int>(t.ncolumns()), t.ValueRows().data(), t.MaskRows().data(),
           d.weights.data(), 0, s.npass, s.partitioning == Partitioning::kMedians ? 'm' : 'a',
           s.distance, r.clusterid.data(), &r.error, &r.found);
  }
  if (r.found < 1) return Failure{"out of memory clustering into " + std::to_string(k)};
  return r;
}

// The centroids file's lines of one k: its clusters in file numbering, each
// with its centre's values (k-means, k-medians) or its medoid's name.
Result<Rows> KCentroids(const Settings& s, const Dataset& d, int k, const KResult& r) {
  const Table& t = d.table;
  Rows rows;
  if (s.partitioning == Partitioning::kMedoids) {
    std::vector<int> cluster(d.size(), -1);  // medoid element -> its cluster index
    std::vector<int> medoid;
    for (const int m : r.clusterid)
      if (cluster[m] < 0) cluster[m] = static_cast<int>(medoid.size()), medoid.push_back(m);
    std::vector<int> index(r.clusterid.size());
    for (std::size_t e = 0; e < index.size(); e++) index[e] = cluster[r.clusterid[e]];
    const std::vector<int> number = FileNumbers(index, k);
    for (int c = 0; c < k; c++)
      rows.push_back({std::to_string(k), std::to_string(number[c]), t.names[medoid[c]]});
    return rows;
  }
  const std::size_t m = t.ncolumns();
  std::vector<double> values(k * m);
  std::vector<int> mask(k * m);
  std::vector<double*> value_rows;
  std::vector<int*> mask_rows;
  for (int c = 0; c < k; c++)
    value_rows.push_back(&values[c * m]), mask_rows.push_back(&mask[c * m]);
  if (!getclustercentroids(k, d.size(), static_cast<int>(m), t.ValueRows().data(),
                           t.MaskRows().data(), r.clusterid.data(), value_rows.data(),
                           mask_rows.data(), 0,
                           s.partitioning == Partitioning::kMedians ? 'm' : 'a'))
    return Failure{"out of memory computing the centres"};
  const std::vector<int> number = FileNumbers(r.clusterid, k);
  rows.resize(k);
  for (int c = 0; c < k; c++) {
    rows[number[c] - 1] = {std::to_string(k), std::to_string(number[c])};
    const auto cells = ProfileCells(value_rows[c], mask_rows[c], m);
    rows[number[c] - 1].insert(rows[number[c] - 1].end(), cells.begin(), cells.end());
  }
  return rows;
}

Result<Partitions> PartitionK(const Settings& s, Dataset& d, int seed) {
  Partitions p;
  p.centroids.push_back({"k", "cluster"});
  if (s.partitioning == Partitioning::kMedoids)
    p.centroids[0].push_back("medoid");
  else
    p.centroids[0].insert(p.centroids[0].end(), d.table.columns.begin(), d.table.columns.end());
  p.report.push_back({"k", "error", "found"});
  if (s.silhouette) p.report[0].push_back("silhouette");
  for (const int k : s.ks) {
    setrandomseed(seed, seed);
    auto r = RunK(s, d, k);
    if (!r.ok()) return Failure{r.error()};
    p.report.push_back(
        {std::to_string(k), ShortestDecimal(r.value().error), std::to_string(r.value().found)});
    if (s.silhouette) {
      auto width = SilhouetteText(s, d, r.value().clusterid);
      if (!width.ok()) return Failure{width.error()};
      p.report.back().push_back(width.value());
    }
    if (!s.centroids.empty()) {
      auto centres = KCentroids(s, d, k, r.value());
      if (!centres.ok()) return Failure{centres.error()};
      p.centroids.insert(p.centroids.end(), centres.value().begin(), centres.value().end());
    }
    p.columns.push_back({"k=" + std::to_string(k), std::move(r).value().clusterid});
  }
  return p;
}

// The map's cell vectors, cell (x, y) at cells[(x * ny + y) * ndata].
struct CellData {
  std::vector<double> cells;
  std::vector<double*> cell_rows;
  std::vector<double**> columns;

  CellData(int nx, int ny, std::size_t ndata)
      : cells(static_cast<std::size_t>(nx) * ny * ndata),
        cell_rows(static_cast<std::size_t>(nx) * ny) {
    for (std::size_t c = 0; c < cell_rows.size(); c++) cell_rows[c] = &cells[c * ndata];
    for (int x = 0; x < nx; x++) columns.push_back(&cell_rows[static_cast<std::size_t>(x) * ny]);
  }
};

// The centroids file of a map: each cell's place and vector.
Rows SomCentroids(const Settings& s, const Table& t, const CellData& cells) {
  Rows rows{{"x", "y"}};
  rows[0].insert(rows[0].end(), t.columns.begin(), t.columns.end());
  const std::vector<int> present(t.ncolumns(), 1);
  for (int x = 0; x < s.grid_x; x++)
    for (int y = 0; y < s.grid_y; y++) {
      rows.push_back({std::to_string(x), std::to_string(y)});
      const auto values = ProfileCells(cells.columns[x][y], present.data(), t.ncolumns());
      rows.back().insert(rows.back().end(), values.begin(), values.end());
    }
  return rows;
}

Result<Partitions> PartitionSom(const Settings& s, Dataset& d, int seed) {
  const Table& t = d.table;
  const int n = d.size();
  std::optional<CellData> cells;
  if (!s.centroids.empty()) cells.emplace(s.grid_x, s.grid_y, t.ncolumns());
  const std::unique_ptr<int[][2]> cell(new int[n][2]);
  setrandomseed(seed, seed);
  somcluster(n, static_cast<int>(t.ncolumns()), t.ValueRows().data(), t.MaskRows().data(),
             d.weights.data(), 0, s.grid_x, s.grid_y, s.tau, s.iterations, s.distance,
             cells ? cells->columns.data() : nullptr, cell.get());
  if (cell[0][0] < 0) return Failure{"out of memory training the map"};
  Partitions p{{{"x", std::vector<int>(n), false}, {"y", std::vector<int>(n), false}}, {}, {}};
  std::vector<int> index(n);  // the cell's number, as a cluster
  for (int e = 0; e < n; e++) {
    p.columns[0].clusterid[e] = cell[e][0];
    p.columns[1].clusterid[e] = cell[e][1];
    index[e] = CellNumber(s, cell[e][0], cell[e][1]);
  }
  p.report = {{"grid", "cells"},
              {std::to_string(s.grid_x) + "x" + std::to_string(s.grid_y),
               std::to_string(ClusterCount(index))}};
  if (s.silhouette) {
    auto width = SilhouetteText(s, d, index);
    if (!width.ok()) return Failure{width.error()};
    p.report[0].push_back("silhouette");
    p.report[1].push_back(width.value());
  }
  if (cells) p.centroids = SomCentroids(s, t, *cells);
  return p;
}

}  // namespace

Result<Partitions> Partition(const Settings& s, Dataset& d, int seed) {
  return s.partitioning == Partitioning::kSom ? PartitionSom(s, d, seed) : PartitionK(s, d, seed);
}

}  // namespace lopper
