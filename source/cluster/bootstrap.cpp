// The multiscale bootstrap's counts: how often each cluster of a tree is a
// cluster of the trees of resampled tables.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "cluster_internal.h"

namespace lopper {
namespace detail {

void bootstrapdraws(int seed, int q, int nvalues, int size, int multiplicity[]) {
  std::fill(multiplicity, multiplicity + nvalues, 0);
  Stream stream(mixkey(static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(q)));
  for (int k = 0; k < size; k++) {
    // uniform() is below 1, but its product with nvalues may round up to
    // nvalues.
    const int j = std::min(static_cast<int>(stream.uniform() * nvalues), nvalues - 1);
    multiplicity[j]++;
  }
}

namespace {

// The clusters of a tree, to tell which of them are clusters of other trees
// over the same elements in time linear in nelements per tree. With the
// elements at their positions in the tree's order (left before right),
// each record spans an interval, and the boundary between its children's
// intervals is its own: each of the n-1 boundaries between neighbouring
// positions belongs to one record. The smallest cluster holding positions
// a ... b (a < b) is then the record of least depth among boundaries a ...
// b-1, read from a sparse table of minima (Bender and Farach-Colton 2000);
// a set of elements is that cluster exactly when it is as large.
class TreeClusters {
 public:
  // tree: orderedtree's form. May throw std::bad_alloc.
  TreeClusters(int nelements, const Node* tree);
  // Adds 1 to counts[m] for each record m whose cluster is one of other's
  // (nelements-1 records, orderedtree's form); scratch: 3 * (nelements-1)
  // ints.
  void count(const Node* other, int counts[], int scratch[]) const;

 private:
  int smallest(int a, int b) const;
  int n_;
  std::vector<int> position_;  // per element
  std::vector<int> size_;      // per record, its elements
  std::vector<int> depth_;     // per record, 0 at the root
  // Level k, from k * (n_-1): at i, the record of least depth among
  // boundaries i ... i + 2^k - 1.
  std::vector<int> least_;
  std::vector<int> level_;  // per count c >= 1 of boundaries, floor(log2 c)
};

TreeClusters::TreeClusters(int nelements, const Node* tree)
    : n_(nelements),
      position_(nelements),
      size_(nelements - 1),
      depth_(nelements - 1),
      level_(nelements) {
  const auto size = [&](int ref) { return ref >= 0 ? 1 : size_[-ref - 1]; };
  for (int r = 0; r < n_ - 1; r++) size_[r] = size(tree[r].left) + size(tree[r].right);
  const int nboundaries = n_ - 1;
  for (int c = 2; c <= nboundaries; c++) level_[c] = level_[c / 2] + 1;
  least_.resize(static_cast<std::size_t>(level_[nboundaries] + 1) * nboundaries);
  // Parents before children: each record's first position is known when it
  // is reached (the root's is 0, kept in start).
  std::vector<int> start(n_ - 1, 0);
  depth_[n_ - 2] = 0;
  const auto place = [&](int child, int first, int parent) {
    if (child >= 0) {
      position_[child] = first;
    } else {
      start[-child - 1] = first;
      depth_[-child - 1] = depth_[parent] + 1;
    }
  };
  for (int r = n_ - 2; r >= 0; r--) {
    const int boundary = start[r] + size(tree[r].left) - 1;
    least_[boundary] = r;
    place(tree[r].left, start[r], r);
    place(tree[r].right, boundary + 1, r);
  }
  for (int k = 1, half = 1; k <= level_[nboundaries]; k++, half *= 2) {
    const int* below = &least_[static_cast<std::size_t>(k - 1) * nboundaries];
    int* here = &least_[static_cast<std::size_t>(k) * nboundaries];
    for (int i = 0; i + 2 * half <= nboundaries; i++) {
      const int a = below[i], b = below[i + half];
      here[i] = depth_[a] <= depth_[b] ? a : b;
    }
  }
}

int TreeClusters::smallest(int a, int b) const {
  const int k = level_[b - a];
  const int* row = &least_[static_cast<std::size_t>(k) * (n_ - 1)];
  const int x = row[a], y = row[b - (1 << k)];
  return depth_[x] <= depth_[y] ? x : y;
}

void TreeClusters::count(const Node* other, int counts[], int scratch[]) const {
  const std::size_t records = n_ - 1;
  int* const low = scratch;
  int* const high = scratch + records;
  int* const members = scratch + 2 * records;
  for (int r = 0; r < n_ - 1; r++) {
    low[r] = n_;
    high[r] = -1;
    members[r] = 0;
    for (const int child : {other[r].left, other[r].right}) {
      const int c = -child - 1;
      low[r] = std::min(low[r], child >= 0 ? position_[child] : low[c]);
      high[r] = std::max(high[r], child >= 0 ? position_[child] : high[c]);
      members[r] += child >= 0 ? 1 : members[c];
    }
    const int m = smallest(low[r], high[r]);
    if (size_[m] == members[r]) counts[m]++;
  }
}

// A run's arguments, checked, and what follows from them.
struct Run {
  ElementSet set;  // the caller's table
  char dist, method;
  const Node* tree;
  int nscales, nboot, seed;
  std::vector<int> sizes;  // per scale, the values drawn

  int nelements() const { return set.elements(); }
  int nvalues() const { return set.dimensions(); }
  // Whether a resample weighs the caller's values by the times drawn
  // (Resampler::fill).
  bool weighs_repeats() const { return std::string("cauxCM").find(dist) != std::string::npos; }
  // The widest resampled table.
  int widest() const {
    return weighs_repeats() ? nvalues() : *std::max_element(sizes.begin(), sizes.end());
  }
};

// One thread's share of a run: the storage of a resample's table, distances
// and tree, obtained once by the constructor (which may throw
// std::bad_alloc), and its counts of the run's layout.
class Resampler {
 public:
  Resampler(const Run& run, const TreeClusters& clusters);
  // Draws, clusters and counts resample q.
  Status resample(int q);
  std::vector<int>& counts() { return counts_; }

 private:
  int fill(const int multiplicity[]);
  void copy(int from, int to);

  const Run& run_;
  const TreeClusters& clusters_;
  std::vector<int> multiplicity_, scratch_, counts_;
  std::vector<double> weight_;
  // With transpose 1 the table's rows are the caller's rows drawn; with 0,
  // each element's values drawn, copied into values_ and present_.
  std::vector<const double*> rows_;
  std::vector<const int*> masks_;
  std::vector<double> values_;
  std::vector<int> present_;
  TriangleBlock distances_;
  std::vector<Node> tree_;
};

Resampler::Resampler(const Run& run, const TreeClusters& clusters)
    : run_(run),
      clusters_(clusters),
      multiplicity_(run.nvalues()),
      scratch_(3 * static_cast<std::size_t>(run.nelements() - 1)),
      counts_(static_cast<std::size_t>(run.nscales) * (run.nelements() - 1)),
      weight_(run.widest()),
      tree_(run.nelements() - 1) {
  const int n = run.nelements(), width = run.widest();
  if (run.set.transpose) {
    rows_.resize(width);
    masks_.resize(width);
  } else if (run.weighs_repeats()) {
    rows_.assign(run.set.data, run.set.data + n);
    masks_.assign(run.set.mask, run.set.mask + n);
  } else {
    values_.resize(static_cast<std::size_t>(n) * width);
    present_.resize(values_.size());
    for (int i = 0; i < n; i++) {
      rows_.push_back(&values_[static_cast<std::size_t>(i) * width]);
      masks_.push_back(&present_[static_cast<std::size_t>(i) * width]);
    }
  }
  if (run.method != 's' && distances_.obtain(n) != Status::kOk) throw std::bad_alloc();
}

// Value `from` of the caller's table as value `to` of the resampled one.
void Resampler::copy(int from, int to) {
  const ElementSet& set = run_.set;
  if (set.transpose) {
    rows_[to] = set.data[from];
    masks_[to] = set.mask[from];
    return;
  }
  const std::size_t width = weight_.size();
  for (int i = 0; i < set.nrows; i++) {
    values_[i * width + to] = set.data[i][from];
    present_[i * width + to] = set.mask[i][from];
  }
}

// The resampled table of the draws in multiplicity; returns its width.
// The correlations take a weight as that many repeats of the value in a
// kernel that skips the values of weight 0: for them the table is the
// caller's, each value weighing its weight times the times drawn (the
// repeated table's distances to rounding, in about 0.6 of the work). The
// other codes get each value written out as often as drawn: the rank codes
// ignore weights, and the sums of differences weigh only unit weights fast.
int Resampler::fill(const int multiplicity[]) {
  const ElementSet& set = run_.set;
  if (run_.weighs_repeats()) {
    for (int j = 0; j < run_.nvalues(); j++) {
      weight_[j] = multiplicity[j] * set.weight[j];
      if (set.transpose) {
        rows_[j] = set.data[j];
        masks_[j] = set.mask[j];
      }
    }
    return run_.nvalues();
  }
  int width = 0;
  for (int j = 0; j < run_.nvalues(); j++)
    for (int c = 0; c < multiplicity[j]; c++) {
      weight_[width] = set.weight[j];
      copy(j, width++);
    }
  return width;
}

Status Resampler::resample(int q) {
  const int s = q / run_.nboot, n = run_.nelements();
  bootstrapdraws(run_.seed, q, run_.nvalues(), run_.sizes[s], multiplicity_.data());
  const int width = fill(multiplicity_.data());
  const int nrows = run_.set.transpose ? width : n;
  const int ncolumns = run_.set.transpose ? n : width;
  const double* const* data = rows_.data();
  const int* const* mask = masks_.data();
  double** matrix = run_.method == 's' ? nullptr : distances_.rows();
  if (matrix) {
    const Status filled = filldistances(nrows, ncolumns, data, mask, weight_.data(), run_.dist,
                                        run_.set.transpose, matrix);
    if (filled != Status::kOk) return filled;
    if (!finitematrix(n, matrix)) return Status::kNotFinite;
  }
  const Status linked = link(nrows, ncolumns, data, mask, weight_.data(), run_.set.transpose,
                             run_.dist, run_.method, matrix, tree_.data());
  if (linked != Status::kOk) return linked;
  clusters_.count(tree_.data(), &counts_[static_cast<std::size_t>(s) * (n - 1)], scratch_.data());
  return Status::kOk;
}

// The run's resamples first ... last-1 shared among threads, each thread's
// counts added into total. Each resample runs in one thread, so that
// threads are not started and stopped for every distance matrix.
Status Resamples(const Run& run, const TreeClusters& clusters, int first, int last,
                 std::vector<int>& total) {
  const int count = last - first;
  if (count == 0) return Status::kOk;
  const double n = run.nelements();
  const double operations =
      static_cast<double>(count) * 0.5 * n * n * run.widest() * valuecost(run.dist);
  const int nthreads = std::max(1, std::min(threadsfor(operations), count));
  std::vector<Status> status(nthreads, Status::kOk);
  std::vector<std::vector<int>> counts(nthreads);
  UnitQueue units(count, 1);
  std::atomic<bool> failed{false};
  std::atomic<long> done{0};
  long reported = 0;
  auto work = [&](int t) {
    status[t] = guarded([&] {
      Resampler resampler(run, clusters);
      for (int unit, end; !failed.load() && units.take(&unit, &end);) {
        Status one;
        {
          // One outer thread alone may let the routines have the others.
          const Nested inner(nthreads > 1);
          one = guarded([&] { return resampler.resample(first + unit); });
        }
        if (one != Status::kOk) return one;
        const long finished = done.fetch_add(1) + 1;
        if (t == 0) reportprogress("bootstrap", reported = finished, count);
      }
      counts[t].swap(resampler.counts());
      return Status::kOk;
    });
    if (status[t] != Status::kOk) failed = true;
  };
  runthreads(nthreads, work);
  if (failed.load()) {
    for (const Status s : status)
      if (s != Status::kOk) return s;
  }
  for (const std::vector<int>& some : counts)
    for (std::size_t k = 0; k < some.size(); k++) total[k] += some[k];
  if (reported != count) reportprogress("bootstrap", count, count);
  return Status::kOk;
}

// The run of the arguments into *run, or kBadArguments.
Status Prepare(const ElementSet& set, char dist, char method, const Node* tree, int nscales,
               const double scales[], int nboot, int seed, Run* run) {
  if (set.nrows < 0 || set.ncolumns < 0 || !set.data || !set.mask || !set.weight || !scales)
    return Status::kBadArguments;
  if (std::string("smacwqd").find(method) == std::string::npos || nscales < 1 || nboot < 1)
    return Status::kBadArguments;
  if (!orderedtree(set.elements(), tree)) return Status::kBadArguments;
  // treecluster refuses a table with a value present that is not finite;
  // every resample's values are the caller's.
  if (!finitedata(set.nrows, set.ncolumns, set.data, set.mask)) return Status::kNotFinite;
  *run = {set, dist, method, tree, nscales, nboot, seed, {}};
  for (int s = 0; s < nscales; s++) {
    // pvclust's sizes, which its fit's scales are.
    const double size = std::floor(scales[s] * set.dimensions());
    if (!(size >= 1 && size <= INT_MAX)) return Status::kBadArguments;
    run->sizes.push_back(static_cast<int>(size));
  }
  return Status::kOk;
}

}  // namespace
}  // namespace detail

int bootstrapcounts(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                    const double weight[], int transpose, char dist, char method, const Node* tree,
                    int nscales, const double scales[], int nboot, int seed, int first, int last,
                    int counts[], double effective_scales[]) {
  using detail::Status;
  const detail::ElementSet set{nrows, ncolumns, data, mask, weight, transpose};
  const long long nresamples = static_cast<long long>(nscales) * nboot;
  if (first < 0 || last < first || last > nresamples || !counts) return -1;
  const Status status = detail::guarded([&] {
    detail::Run run;
    const Status prepared =
        detail::Prepare(set, dist, method, tree, nscales, scales, nboot, seed, &run);
    if (prepared != Status::kOk) return prepared;
    const detail::TreeClusters clusters(set.elements(), tree);
    std::vector<int> total(static_cast<std::size_t>(nscales) * (set.elements() - 1), 0);
    const Status resampled = detail::Resamples(run, clusters, first, last, total);
    if (resampled != Status::kOk) return resampled;
    for (std::size_t k = 0; k < total.size(); k++) counts[k] += total[k];
    if (effective_scales)
      for (int s = 0; s < nscales; s++)
        effective_scales[s] = static_cast<double>(run.sizes[s]) / set.dimensions();
    return Status::kOk;
  });
  return status == Status::kOk ? last - first : -1;
}

}  // namespace lopper
