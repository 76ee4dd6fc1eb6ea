#include "dataset.h"

#include <lopper/cluster.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "formats.h"
#include "memory.h"
#include "preprocess.h"
#include "presence.h"
#include "weights.h"

namespace lopper {

namespace {

std::vector<double> ComputedWeights(const Settings& s, const Table& t) {
  const std::vector<double> ones(t.nrows(), 1.0);
  const std::unique_ptr<double, FreeDeleter> computed(calculate_weights(
      static_cast<int>(t.nrows()), static_cast<int>(t.ncolumns()), t.ValueRows().data(),
      t.MaskRows().data(), ones.data(), 1, s.distance, s.weight_cutoff, s.weight_exponent));
  if (!computed) return {};
  return std::vector<double>(computed.get(), computed.get() + t.ncolumns());
}

// The data as clustered: transposed, preprocessed, with its column weights.
Result<Dataset> PrepareData(const Settings& s, Table table) {
  if (s.transpose) table = table.Transposed();
  auto prepared = Preprocess(std::move(table), s.preprocessing);
  if (!prepared.ok()) return Failure{prepared.error()};
  Dataset d{std::move(prepared).value(), {}, std::nullopt, true, {}, {}};
  const Table& t = d.table;
  if (s.weights.empty()) {
    d.weights.assign(t.ncolumns(), 1.0);
  } else if (s.weights == "auto") {
    d.weights = ComputedWeights(s, t);
    if (d.weights.empty()) return Failure{"out of memory computing the weights"};
  } else {
    auto weights =
        ReadWeights(s.weights, t, ReadOptions{s.separator, "", {s.decimal, {}}}, s.exclude_columns);
    if (!weights.ok()) return Failure{weights.error()};
    d.weights = std::move(weights).value();
  }
  return d;
}

// The outputs hold one name per line, and their tables split at tabs; the
// columns' names are written with centres and in the picture.
Result<bool> CheckNames(const Settings& s, const Table& t) {
  const std::size_t i = FirstUnwritableName(t.names);
  const char* const fault =
      ": the name holds a tab or line break, which the output files cannot hold";
  if (i < t.names.size()) return Failure{t.source + ": " + t.NameLocation(i) + fault};
  const std::size_t j = FirstUnwritableName(t.columns);
  if (j < t.columns.size() && (!s.centroids.empty() || !s.svg.empty()))
    return Failure{t.source + ": " + t.ColumnLocation(j) + fault};
  return true;
}

Result<Dataset> ReadTableAsDataset(const Settings& s, ProgressLine& progress) {
  progress.Start("reading " + (s.table == "-" ? std::string("standard input") : s.table));
  auto table = ReadTable(s.table, ReadOptions{s.separator, "", {s.decimal, s.exclude_columns}});
  if (!table.ok()) return Failure{table.error()};
  progress.Finish();
  if (!s.distances_input) return PrepareData(s, std::move(table).value());
  auto distances = ToDistanceMatrix(table.value());
  if (!distances.ok()) return Failure{distances.error()};
  return Dataset{std::move(table).value(), {}, std::move(distances).value(), false, {}, {}};
}

// "'NAME' (PLACE)" of row r of t.
std::string Named(const Table& t, int r) {
  return "'" + t.names[r] + "' (" + t.NameLocation(r) + ")";
}

// The rows of t named, the first `shown` of them, then how many more.
std::string NamedList(const Table& t, const std::vector<int>& rows, std::size_t shown) {
  std::string text;
  for (std::size_t i = 0; i < rows.size() && i < shown; i++)
    text += (i ? ", " : "") + Named(t, rows[i]);
  if (rows.size() > shown) text += " and " + std::to_string(rows.size() - shown) + " more";
  return text;
}

// Whether the method measures distances between every two elements: the
// trees, k-medoids and silhouettes, where a pair without a common column
// would count as identical.
bool MeasuresPairs(const Settings& s) {
  return s.tree() || s.partitioning == Partitioning::kMedoids || s.silhouette;
}

// Leaves out the elements without values (--drop-empty), listed on err;
// the clusters file still names them.
void DropEmpty(Dataset& d, std::ostream& err) {
  const Table& t = d.table;
  const std::vector<int> empty = EmptyElements(t);
  if (empty.empty()) return;
  err << "lopper-cluster: " << t.source << ": leaving out " << empty.size() << " element"
      << (empty.size() == 1 ? "" : "s") << " without values: " << NamedList(t, empty, empty.size())
      << std::endl;
  d.all_names = t.names;
  d.dropped = empty;
  d.table = WithoutRows(t, empty);
}

}  // namespace

Result<bool> CheckMeasurable(const Table& t, bool empties, bool pairs, const std::string& noun) {
  const std::vector<int> empty = empties ? EmptyElements(t) : std::vector<int>();
  if (!empty.empty()) {
    std::string others;
    if (empty.size() > 1)
      others =
          " (nor have " + NamedList(t, std::vector<int>(empty.begin() + 1, empty.end()), 5) + ")";
    return Failure{t.source + ": " + t.NameLocation(empty[0]) + ": " + noun + " '" +
                   t.names[empty[0]] + "' has no value" + others + ", so no distance to any other" +
                   (noun == "element" ? "; leave such elements out with --drop-empty" : "")};
  }
  if (!pairs) return true;
  const auto pair = FirstDisjointPair(t);
  if (!pair) return true;
  const auto [a, b] = *pair;
  const std::string other = noun == "element" ? "column" : "row";
  return Failure{t.source + ": " + t.NameLocation(a) + " and " + t.NameLocation(b) + ": " + noun +
                 "s '" + t.names[a] + "' and '" + t.names[b] + "' have no " + other +
                 " where both have a value, so no distance between them; leaving out " +
                 NamedList(t, RowsToDrop(t), 10) + " gives every pair a " + other + " in common"};
}

std::vector<int> Dataset::FileRows() const {
  std::vector<int> rows;
  if (dropped.empty()) return rows;
  auto next_dropped = dropped.begin();
  int kept = 0;
  for (std::size_t e = 0; e < all_names.size(); e++) {
    const bool gap = next_dropped != dropped.end() && static_cast<std::size_t>(*next_dropped) == e;
    rows.push_back(gap ? -1 : kept++);
    if (gap) ++next_dropped;
  }
  return rows;
}

Result<Dataset> ReadDataset(const Settings& s, ProgressLine& progress, std::ostream& err) {
  auto d = ReadTableAsDataset(s, progress);
  if (!d.ok()) return d;
  if (auto names = CheckNames(s, d.value().table); !names.ok()) return Failure{names.error()};
  if (d.value().profiles) {
    // Pairs are checked among the elements with values, before any are
    // left out, so that messages name the places in the file.
    auto measurable = CheckMeasurable(d.value().table, !s.drop_empty, MeasuresPairs(s), "element");
    if (!measurable.ok()) return Failure{measurable.error()};
    if (s.drop_empty) DropEmpty(d.value(), err);
  }
  const Table& t = d.value().table;
  if (t.nrows() < 2)
    return Failure{t.source + ": " + std::to_string(t.nrows()) + " element" +
                   (d.value().dropped.empty() ? "" : " with values") +
                   "; clustering needs at least 2"};
  for (const int k : s.ks)
    if (k > d.value().size())
      return Failure{"-k " + std::to_string(k) + " is outside 1.." + std::to_string(t.nrows()) +
                     " (" + t.source + " has " + std::to_string(t.nrows()) + " elements)"};
  return d;
}

namespace {

// The heatmap's bytes: a copy of the present values, sorted for the
// colour scale, and the image, 3 bytes a pixel, of cells 20 pixels wide
// shrinking to fit 2000 x 4000 but never below a pixel.
std::uint64_t PictureBytes(std::uint64_t n, std::uint64_t m) {
  const auto pixels = [](std::uint64_t cells, std::uint64_t extent) {
    if (cells <= extent / 20) return cells * 20;
    return cells * std::max<std::uint64_t>(1, extent / cells);
  };
  return n * m * sizeof(double) + 3 * pixels(n, 4000) * pixels(m, 2000);
}

}  // namespace

std::vector<MemoryBlock> ExtraBlocks(const Settings& s, const Dataset& d) {
  const std::uint64_t n = d.table.nrows(), m = d.table.ncolumns();
  std::vector<MemoryBlock> blocks;
  if (s.column_method) {
    blocks.push_back(
        {"the table turned for the column tree", n * m * (sizeof(double) + sizeof(int))});
    const int matrices = s.optimal_leaf_order ? 2 : *s.column_method == 's' ? 0 : 1;
    blocks.push_back(MatrixBlock(m, matrices, "columns"));
  }
  if (!s.svg.empty()) blocks.push_back({"the picture", PictureBytes(n, m)});
  return blocks;
}

std::string LighterRuns(const Settings& s) {
  if (!s.column_method) return s.svg.empty() ? "" : "leave out --svg";
  return s.svg.empty() ? "leave out --cluster-columns" : "leave out --cluster-columns or --svg";
}

Result<bool> CheckPartitionMemory(const Settings& s, const Dataset& d) {
  std::vector<MemoryBlock> blocks = ExtraBlocks(s, d);
  const bool matrix = s.partitioning == Partitioning::kMedoids || s.silhouette;
  // The library's matrix and the copy kept of it, while it is copied.
  if (matrix) blocks.insert(blocks.begin(), MatrixBlock(d.table.nrows(), 2));
  const auto shortfall = Shortfall(blocks);
  if (!shortfall) return true;
  std::string fixes =
      matrix ? "-m kmeans and -m kmedians need no matrix without --silhouette, " : "";
  if (const std::string lighter = LighterRuns(s); !lighter.empty()) fixes += lighter + ", ";
  return Failure{*shortfall + "; " + fixes + "or cluster fewer elements"};
}

Result<DistanceMatrix> DistancesOf(const Table& t, const std::vector<double>& weights, char dist) {
  const int n = static_cast<int>(t.nrows());
  double** const rows = distancematrix(n, static_cast<int>(t.ncolumns()), t.ValueRows().data(),
                                       t.MaskRows().data(), weights.data(), dist, 0);
  if (!rows)
    return Failure{"out of memory computing the distances of " + std::to_string(n) + " elements"};
  DistanceMatrix kept(static_cast<std::size_t>(n));
  for (int i = 1; i < n; i++) {
    std::copy(rows[i], rows[i] + i, kept.rows()[i]);
    std::free(rows[i]);
  }
  std::free(rows);
  return kept;
}

Result<DistanceMatrix*> Distances(const Settings& s, Dataset& d) {
  if (!d.distances) {
    // k-medoids and silhouettes cannot do without the matrix: refused
    // before the work when it would not fit.
    if (const auto shortfall = Shortfall({MatrixBlock(d.size(), 1)}))
      return Failure{*shortfall + "; -m kmedoids and --silhouette need it: cluster fewer elements"};
    auto computed = DistancesOf(d.table, d.weights, s.distance);
    if (!computed.ok()) return Failure{computed.error()};
    d.distances = std::move(computed).value();
  }
  return &*d.distances;
}

}  // namespace lopper
