#include "hierarchy.h"

#include <lopper/names.h>

#include <algorithm>
#include <cstdio>
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
// order, silhouettes and the hybrid dynamic cut keep, with a working copy
// for the merging.
int MatricesNeeded(const Settings& s, const Dataset& d) {
  const bool kept = s.keeps_distances();
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
  std::vector<MemoryBlock> blocks{MatrixBlock(d.size(), MatricesNeeded(s, d))};
  const std::vector<MemoryBlock> extra = ExtraBlocks(s, d);
  blocks.insert(blocks.end(), extra.begin(), extra.end());
  const auto shortfall = Shortfall(blocks);
  if (!shortfall) return false;
  const std::string& sizes = *shortfall;
  const bool kept = s.keeps_distances();
  if (possible && !kept && !Shortfall(extra)) {
    err << "lopper-cluster: " << sizes << ": building the tree from the data without it (as "
        << "--no-matrix)" << std::endl;
    return true;
  }
  std::string fix;
  if (possible)
    fix = "without --leaf-order optimal, --silhouette and --dynamic-method hybrid, " +
          MethodName(s) + " runs without the matrix";
  else
    fix =
        "single and centroid linkage, and ward and median on complete data with -d euclidean, "
        "run without the matrix (--no-matrix)";
  const std::string lighter = LighterRuns(s);
  return Failure{sizes + "; " + fix + ", -m kmeans needs none, " +
                 (lighter.empty() ? "" : lighter + ", ") + "or cluster fewer elements"};
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

Result<bool> OrderLeaves(int n, Node* tree, DistanceMatrix& distances, const char* noun) {
  if (!optimalleaforder(n, tree, distances.rows()))
    return Failure{"out of memory ordering the leaves of " + std::to_string(n) + " " + noun};
  return true;
}

// Seconds a step of optimalleaforder takes on the development machine at
// the sizes where it runs for minutes, where the steps wait on memory (see
// the README's Performance section for the measurement).
constexpr double kSecondsPerLeafOrderStep = 1.0e-8;

// "0.0012 s", "45 s", "12 minutes", "3.5 hours": a duration for messages.
std::string Duration(double seconds) {
  char text[32];
  if (seconds < 120)
    std::snprintf(text, sizeof text, "%.2g s", seconds);
  else if (seconds < 7200)
    std::snprintf(text, sizeof text, "%.0f minutes", seconds / 60);
  else
    std::snprintf(text, sizeof text, "%.1f hours", seconds / 3600);
  return text;
}

// The trees to order, what their leaves are, and the time each would take.
struct LeafOrderPlan {
  struct Part {
    std::string what;
    double seconds;
  };
  std::vector<Part> parts;
  double seconds = 0;

  void Add(int n, const Node* tree, const std::string& what) {
    if (!tree || n < 3) return;
    parts.push_back(
        {std::to_string(n) + " " + what, LeafOrderSteps(n, tree) * kSecondsPerLeafOrderStep});
    seconds += parts.back().seconds;
  }
  std::string Refusal(double limit) const {
    std::string each;
    for (const Part& p : parts)
      each += (each.empty() ? "" : ", ") + Duration(p.seconds) + " for the " + p.what;
    return "--leaf-order optimal would take about " + Duration(seconds) + " (" + each +
           "; measured on a 2-core machine), more than the " + Duration(limit) +
           " of --leaf-order-limit: add --force (or a larger --leaf-order-limit) to order the "
           "leaves all the same, or leave --leaf-order optimal out";
  }
};

}  // namespace

Result<Tree> BuildTree(const Settings& s, Dataset& d, ProgressLine& progress, std::ostream& err) {
  auto without = WithoutMatrix(s, d, err);
  if (!without.ok()) return Failure{without.error()};
  if (without.value()) return TreeFromData(s, d, progress);
  const int n = d.size();
  const LibraryProgress reports(progress, n);
  // The leaf order, silhouettes and the hybrid cut need the distances after the merging,
  // which overwrites a matrix: it works on a copy, and distances computed
  // from the profiles serve both.
  const bool kept = s.keeps_distances();
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
  progress.Finish();
  return tree;
}

Result<Tree> BuildColumnTree(const Settings& s, const Dataset& d, char method,
                             ProgressLine& progress) {
  const Table columns = d.table.Transposed();
  const int n = static_cast<int>(columns.nrows());
  if (n < 2) return Tree();
  if (auto measurable = CheckMeasurable(columns, true, true, "column"); !measurable.ok())
    return Failure{measurable.error()};
  const std::vector<double> ones(columns.ncolumns(), 1.0);
  const LibraryProgress reports(progress, n, "columns");
  Tree tree(treecluster(n, static_cast<int>(columns.ncolumns()), columns.ValueRows().data(),
                        columns.MaskRows().data(), ones.data(), 0, s.distance, method, nullptr));
  if (!tree) return Failure{"out of memory building the tree of the columns"};
  progress.Finish();
  return tree;
}

double LeafOrderSteps(int n, const Node* tree) {
  // Leaves under each record, children first.
  std::vector<double> size(static_cast<std::size_t>(n - 1));
  const auto leaves = [&size](int child) { return child >= 0 ? 1.0 : size[-child - 1]; };
  // Over the leaves i of a child, how many far ends its order from i has.
  const auto far_ends = [&](int child) {
    if (child >= 0) return 1.0;
    const Node& r = tree[-child - 1];
    return 2 * leaves(r.left) * leaves(r.right);
  };
  double steps = 0;
  for (int r = 0; r < n - 1; r++) {
    size[r] = leaves(tree[r].left) + leaves(tree[r].right);
    steps += leaves(tree[r].right) * far_ends(tree[r].left) +
             leaves(tree[r].left) * far_ends(tree[r].right);
  }
  return steps;
}

Result<bool> OrderAllLeaves(const Settings& s, Dataset& d, Node* tree, Node* column_tree,
                            ProgressLine& progress) {
  const Table columns = column_tree ? d.table.Transposed() : Table();
  const int m = static_cast<int>(columns.nrows());
  LeafOrderPlan plan;
  plan.Add(d.size(), tree, "elements");
  plan.Add(m, column_tree, "columns");
  if (plan.seconds > s.leaf_order_limit && !s.force)
    return Failure{plan.Refusal(s.leaf_order_limit)};
  if (tree) {
    auto distances = Distances(s, d);
    if (!distances.ok()) return Failure{distances.error()};
    const LibraryProgress reports(progress, d.size());
    if (auto done = OrderLeaves(d.size(), tree, *distances.value(), "elements"); !done.ok())
      return done;
    progress.Finish();
  }
  if (column_tree && m > 1) {
    const LibraryProgress reports(progress, m, "columns");
    auto distances = DistancesOf(columns, std::vector<double>(columns.ncolumns(), 1.0), s.distance);
    if (!distances.ok()) return Failure{distances.error()};
    if (auto done = OrderLeaves(m, column_tree, distances.value(), "columns"); !done.ok())
      return done;
    progress.Finish();
  }
  return true;
}

}  // namespace lopper
