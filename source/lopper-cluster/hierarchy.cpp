#include "hierarchy.h"

#include <utility>

namespace lopper {

namespace {

Result<bool> OrderLeaves(int n, Node* tree, DistanceMatrix& distances) {
  if (!optimalleaforder(n, tree, distances.rows()))
    return Failure{"out of memory ordering the leaves of " + std::to_string(n) + " elements"};
  return true;
}

}  // namespace

Result<Tree> BuildTree(const Settings& s, Dataset& d, ProgressLine& progress) {
  const int n = d.size();
  const LibraryProgress reports(progress, n);
  // The leaf order and silhouettes need the distances after the merging,
  // which overwrites a matrix: it works on a copy, and distances computed
  // from the profiles serve both.
  const bool kept = s.optimal_leaf_order || s.silhouette;
  DistanceMatrix* distances = nullptr;
  if (!d.profiles || kept) {
    auto found = Distances(s, d);
    if (!found.ok()) return Failure{found.error()};
    distances = found.value();
  }
  std::optional<DistanceMatrix> working;
  if (kept && s.method != 's') working = distances->Copy();
  double** const matrix = working ? working->rows() : distances ? distances->rows() : nullptr;
  const Table& t = d.table;
  Tree tree(d.profiles ? treecluster(n, static_cast<int>(t.ncolumns()), t.ValueRows().data(),
                                     t.MaskRows().data(), d.weights.data(), 0, s.distance, s.method,
                                     matrix)
                       : treecluster(n, 0, nullptr, nullptr, nullptr, 0, 'e', s.method, matrix));
  if (!tree)
    return Failure{"out of memory building the tree of " + std::to_string(n) + " elements"};
  if (!kept && !d.profiles && s.method != 's') d.distances.reset();  // overwritten
  working.reset();
  if (s.optimal_leaf_order)
    if (auto done = OrderLeaves(n, tree.get(), *distances); !done.ok())
      return Failure{done.error()};
  progress.Finish();
  return tree;
}

Result<Tree> BuildColumnTree(const Settings& s, const Dataset& d, char method) {
  const Table columns = d.table.Transposed();
  const int n = static_cast<int>(columns.nrows());
  if (n < 2) return Tree();
  const std::vector<double> ones(columns.ncolumns(), 1.0);
  Tree tree(treecluster(n, static_cast<int>(columns.ncolumns()), columns.ValueRows().data(),
                        columns.MaskRows().data(), ones.data(), 0, s.distance, method, nullptr));
  if (!tree) return Failure{"out of memory building the tree of the columns"};
  if (s.optimal_leaf_order) {
    auto distances = DistancesOf(columns, ones, s.distance);
    if (!distances.ok()) return Failure{distances.error()};
    if (auto done = OrderLeaves(n, tree.get(), distances.value()); !done.ok())
      return Failure{done.error()};
  }
  return tree;
}

Result<std::vector<ClusterColumn>> CutTree(const Settings& s, const Dataset& d, const Node* tree) {
  const int n = d.size();
  std::vector<ClusterColumn> columns;
  for (const int k : s.ks) {
    ClusterColumn column{"k=" + std::to_string(k), std::vector<int>(n)};
    cuttree(n, tree, k, column.clusterid.data());
    if (column.clusterid[0] < 0) return Failure{"out of memory cutting the tree"};
    columns.push_back(std::move(column));
  }
  for (const double h : s.heights) {
    ClusterColumn column{"h=" + ShortestDecimal(h), std::vector<int>(n)};
    if (cuttree_height(n, tree, h, column.clusterid.data()) < 0)
      return Failure{"out of memory cutting the tree"};
    columns.push_back(std::move(column));
  }
  return columns;
}

Result<std::vector<std::vector<std::string>>> CutReport(const Settings& s, Dataset& d,
                                                        const std::vector<ClusterColumn>& cuts) {
  std::vector<std::vector<std::string>> report{{"cut", "clusters"}};
  if (s.silhouette) report[0].push_back("silhouette");
  for (const ClusterColumn& cut : cuts) {
    report.push_back({cut.label, std::to_string(ClusterCount(cut.clusterid))});
    if (!s.silhouette) continue;
    auto width = SilhouetteText(s, d, cut.clusterid);
    if (!width.ok()) return Failure{width.error()};
    report.back().push_back(width.value());
  }
  return report;
}

}  // namespace lopper
