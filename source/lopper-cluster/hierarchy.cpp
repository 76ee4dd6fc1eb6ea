#include "hierarchy.h"

#include <lopper/names.h>

#include <algorithm>
#include <utility>

#include "memory.h"

namespace lopper {

namespace {

// Whether treeclusterdata builds this tree: single and centroid on any
// distance, Ward and the median (Euclidean by the command line's rule) on
// complete data only, where their updates have a form in cluster means.
bool RunsWithoutMatrix(char method, const Table& t) {
  if (method == 's' || method == 'c') return true;
  return (method == 'w' || method == 'd') &&
         std::find(t.mask.begin(), t.mask.end(), 0) == t.mask.end();
}

std::string MethodName(const Settings& s) {
  return std::string("-m ") + NameOf(s.method, kLinkageNames);
}

// How many distance matrices the tree route holds at once: treecluster's
// own from the data (none for single linkage, SLINK), or the one the leaf
// order and silhouettes keep, with a working copy for the merging.
int MatricesNeeded(const Settings& s, const Dataset& d) {
  const bool kept = s.optimal_leaf_order || s.silhouette;
  const int working = s.method == 's' ? 0 : 1;
  if (!d.profiles) return kept ? working : 0;
  return kept ? 1 + working : working;
}

// Whether to build the tree without a matrix: asked for, or the matrices
// would not fit in the memory available and the method can do without
// (said on `err`). A failure when neither works, before any work.
Result<bool> WithoutMatrix(const Settings& s, const Dataset& d, std::ostream& err) {
  const bool possible = d.profiles && RunsWithoutMatrix(s.method, d.table);
  if (s.no_matrix) {
    if (possible) return true;
    return Failure{MethodName(s) + " --no-matrix needs complete data: " + d.table.source +
                   " has missing values, and Ward's and the median's updates have no form in "
                   "cluster means once a gap scales a distance; run it with the matrix"};
  }
  const auto shortfall = MatrixShortfall(d.size(), MatricesNeeded(s, d));
  if (!shortfall) return false;
  const std::string& sizes = *shortfall;
  const bool kept = s.optimal_leaf_order || s.silhouette;
  if (possible && !kept) {
    err << "lopper-cluster: " << sizes << ": building the tree from the data without it (as "
        << "--no-matrix)" << std::endl;
    return true;
  }
  std::string fix;
  if (possible)
    fix = "without --leaf-order optimal and --silhouette, " + MethodName(s) +
          " runs without the matrix";
  else
    fix =
        "single and centroid linkage, and ward and median on complete data with -d euclidean, "
        "run without the matrix (--no-matrix)";
  return Failure{sizes + "; " + fix + ", or cluster fewer elements"};
}

// The tree from the profiles alone, by treeclusterdata.
Result<Tree> TreeFromData(const Settings& s, const Dataset& d, ProgressLine& progress) {
  const Table& t = d.table;
  const int n = d.size();
  const LibraryProgress reports(progress, n);
  Tree tree(treeclusterdata(n, static_cast<int>(t.ncolumns()), t.ValueRows().data(),
                            t.MaskRows().data(), d.weights.data(), 0, s.distance, s.method));
  if (!tree)
    return Failure{"out of memory building the tree of " + std::to_string(n) + " elements"};
  progress.Finish();
  return tree;
}

Result<bool> OrderLeaves(int n, Node* tree, DistanceMatrix& distances) {
  if (!optimalleaforder(n, tree, distances.rows()))
    return Failure{"out of memory ordering the leaves of " + std::to_string(n) + " elements"};
  return true;
}

}  // namespace

Result<Tree> BuildTree(const Settings& s, Dataset& d, ProgressLine& progress, std::ostream& err) {
  auto without = WithoutMatrix(s, d, err);
  if (!without.ok()) return Failure{without.error()};
  if (without.value()) return TreeFromData(s, d, progress);
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
  if (auto measurable = CheckMeasurable(columns, true, true, "column"); !measurable.ok())
    return Failure{measurable.error()};
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
