// k-means and k-medians: iterative relocation from random partitions, the
// independent passes shared among threads.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

#include "cluster_internal.h"
#include "lanes.h"

namespace lopper {
namespace detail {

namespace {

// Centroid k is addressed like element k: row k, or column k when transposed.
double& Cell(double** c, int k, int d, int transpose) { return transpose ? c[d][k] : c[k][d]; }
int& Cell(int** c, int k, int d, int transpose) { return transpose ? c[d][k] : c[k][d]; }

}  // namespace

void getclustermeans(int nclusters, int nrows, int ncolumns, const double* const* data,
                     const int* const* mask, const int clusterid[], double** cdata, int** cmask,
                     int transpose) {
  const int nelements = transpose ? ncolumns : nrows;
  const int ndata = transpose ? nrows : ncolumns;
  for (int k = 0; k < nclusters; k++)
    for (int d = 0; d < ndata; d++) {
      Cell(cdata, k, d, transpose) = 0.0;
      Cell(cmask, k, d, transpose) = 0;
    }
  for (int e = 0; e < nelements; e++) {
    const int k = clusterid[e];
    for (int d = 0; d < ndata; d++) {
      const bool present = transpose ? mask[d][e] : mask[e][d];
      if (!present) continue;
      Cell(cdata, k, d, transpose) += transpose ? data[d][e] : data[e][d];
      Cell(cmask, k, d, transpose)++;
    }
  }
  for (int k = 0; k < nclusters; k++)
    for (int d = 0; d < ndata; d++) {
      int& count = Cell(cmask, k, d, transpose);
      if (count > 0) {
        Cell(cdata, k, d, transpose) /= count;
        count = 1;
      }
    }
}

void getclustermedians(int nclusters, int nrows, int ncolumns, const double* const* data,
                       const int* const* mask, const int clusterid[], double** cdata, int** cmask,
                       int transpose, double cache[]) {
  const int nelements = transpose ? ncolumns : nrows;
  const int ndata = transpose ? nrows : ncolumns;
  for (int k = 0; k < nclusters; k++)
    for (int d = 0; d < ndata; d++) {
      int count = 0;
      for (int e = 0; e < nelements; e++) {
        if (clusterid[e] != k || !(transpose ? mask[d][e] : mask[e][d])) continue;
        cache[count++] = transpose ? data[d][e] : data[e][d];
      }
      Cell(cdata, k, d, transpose) = count ? median(count, cache) : 0.0;
      Cell(cmask, k, d, transpose) = count ? 1 : 0;
    }
}

namespace {

// The kind of difference and of weights, as types.
template <bool a, bool u>
struct Kind {
  static constexpr bool absolute = a, unit = u;
};

// A block of L lanes of points laid out dimension by dimension (a lane is
// one point, or two with Twin; the lanes of dimension d follow each other
// from block + d * W), measured from E elements x[0 ... E-1] at once: each
// point's sum of weighted terms diff(x[e][d] - value) over the dimensions
// in ascending order, as Measure adds them, into out[e][at ... at+W-1].
// The sums stay in registers, and each point value loaded serves every
// element.
template <class Lane, int L, int E, bool absolute, bool unit>
void BlockSums(int ndata, const double weight[], const double* const x[], const double block[],
               double* const out[], int at) {
  constexpr int W = L * kWidth<Lane>;
  Lane sum[E][L] = {};
  for (int d = 0; d < ndata; d++)
    for (int j = 0; j < L; j++) {
      const std::ptrdiff_t place = static_cast<std::ptrdiff_t>(d) * W + j * kWidth<Lane>;
      Lane value;
      Load(&value, block + place);
      for (int e = 0; e < E; e++) {
        Lane term = x[e][d] - value;
        DifferenceTerm<absolute>(term);
        sum[e][j] += unit ? term : weight[d] * term;
      }
    }
  for (int e = 0; e < E; e++)
    for (int j = 0; j < L; j++) Store(out[e] + at + j * kWidth<Lane>, sum[e][j]);
}

// BlockSums over `nblocks` consecutive blocks.
template <class Lane, int L, int E, bool absolute, bool unit>
void Sums(int ndata, const double weight[], const double* const x[], const double points[],
          int nblocks, double* const out[]) {
  constexpr int W = L * kWidth<Lane>;
  for (int b = 0; b < nblocks; b++)
    BlockSums<Lane, L, E, absolute, unit>(
        ndata, weight, x, points + static_cast<std::size_t>(b) * ndata * W, out, b * W);
}

// Sums for the measure's kind of difference and weights, from one element
// or two.
template <class Lane, int L>
void SumsFor(bool absolute, bool unit, int count, int ndata, const double weight[],
             const double* const x[], const double points[], int nblocks, double* const out[]) {
  const auto sums = [&](auto pick) {
    constexpr bool a = decltype(pick)::absolute, u = decltype(pick)::unit;
    count == 2 ? Sums<Lane, L, 2, a, u>(ndata, weight, x, points, nblocks, out)
               : Sums<Lane, L, 1, a, u>(ndata, weight, x, points, nblocks, out);
  };
  if (absolute)
    unit ? sums(Kind<true, true>()) : sums(Kind<true, false>());
  else
    unit ? sums(Kind<false, true>()) : sums(Kind<false, false>());
}

}  // namespace

CompleteRows::CompleteRows(const ElementSet& set, char dist)
    : ndata_(set.dimensions()), weight_(set.weight), absolute_(false), unit_(false) {
  const int n = set.elements();
  Differences how;
  if (!differencesof(dist, &how) || ndata_ < 1 || n < 1) return;
  absolute_ = how.absolute;
  finish_ = how.finish;
  unit_ = unitweights(ndata_, weight_);
  for (int d = 0; d < ndata_; d++) total_weight_ += weight_[d];
  usable_.assign(n, 1);
  for (int i = 0; i < n; i++)
    for (int d = 0; d < ndata_ && usable_[i]; d++) {
      const bool present = set.transpose ? set.mask[d][i] : set.mask[i][d];
      usable_[i] = present && std::isfinite(set.transpose ? set.data[d][i] : set.data[i][d]);
    }
  all_ = std::find(usable_.begin(), usable_.end(), 0) == usable_.end();
  if (!all_ && std::find(usable_.begin(), usable_.end(), 1) == usable_.end()) return;
  values_.resize(static_cast<std::size_t>(n) * ndata_);
  for (int i = 0; i < n; i++)
    for (int d = 0; d < ndata_ && usable_[i]; d++)
      values_[static_cast<std::size_t>(i) * ndata_ + d] =
          set.transpose ? set.data[d][i] : set.data[i][d];
}

namespace {

// SumsFor a block of kBlock points in one register of four doubles, in code
// compiled for AVX2: the same operations lane by lane as two of two.
#ifdef LOPPER_AVX2
LOPPER_AVX2 void WideSums(bool absolute, bool unit, int count, int ndata, const double weight[],
                          const double* const x[], const double points[], int nblocks,
                          double* const out[]) {
  SumsFor<Quad, CompleteRows::kBlock / 4>(absolute, unit, count, ndata, weight, x, points, nblocks,
                                          out);
}
#endif

}  // namespace

void CompleteRows::distances(int count, const double* const x[], const double points[], int m,
                             double* const out[]) const {
#ifdef LOPPER_AVX2
  if (hasavx2())
    WideSums(absolute_, unit_, count, ndata_, weight_, x, points, blocks(m), out);
  else
#endif
    SumsFor<Twin, kBlock / 2>(absolute_, unit_, count, ndata_, weight_, x, points, blocks(m), out);
  for (int e = 0; e < count; e++)
    for (int j = 0; j < m; j++)
      out[e][j] = finished(finish_, out[e][j], total_weight_, total_weight_);
}

double CompleteRows::distance(int i, int j) const {
  const double* const x[] = {row(i)};
  double sum;
  double* const out[] = {&sum};
  SumsFor<double, 1>(absolute_, unit_, 1, ndata_, weight_, x, row(j), 1, out);
  return finished(finish_, sum, total_weight_, total_weight_);
}

namespace {

// One kcluster call: its arguments (after the checks) and its method.
struct Problem {
  int nclusters, nrows, ncolumns;
  const double* const* data;
  const int* const* mask;
  const double* weight;
  int transpose, npass;
  char method, dist;
  bool plusplus = false;  // passes from k-means++ starts instead of random partitions

  int nelements() const { return transpose ? ncolumns : nrows; }
  int ndata() const { return transpose ? nrows : ncolumns; }
  ElementSet set() const { return {nrows, ncolumns, data, mask, weight, transpose}; }
};

// One thread's storage for its passes, obtained before any output is
// written; the constructor may throw std::bad_alloc, obtain() gives
// kOutOfMemory.
struct Scratch {
  explicit Scratch(const Problem& p, bool complete_rows)
      : measure(p.dist, p.ndata()),
        counts(p.nclusters),
        distances(2 * static_cast<std::size_t>(p.nclusters)) {
    if (p.method == 'm') median_values.emplace(p.nelements());
    if (complete_rows) {
      const int places = CompleteRows::blocks(p.nclusters) * CompleteRows::kBlock;
      columns.resize(static_cast<std::size_t>(places) * p.ndata());
      complete.resize(p.nclusters);
      distances.resize(2 * static_cast<std::size_t>(places));
    }
  }
  Status obtain(const Problem& p) {
    return centroids.obtain(p.transpose ? p.ndata() : p.nclusters,
                            p.transpose ? p.nclusters : p.ndata());
  }
  Measure measure;
  std::vector<int> counts;                           // members per cluster
  std::optional<std::vector<double>> median_values;  // k-medians: one cluster's values
  DataMask centroids;
  // With complete rows: the centroids laid out as CompleteRows reads
  // points, and whether each is complete and finite.
  std::vector<double> columns;
  std::vector<unsigned char> complete;
  std::vector<double> distances;  // two elements', to each centroid
};

// Means of the complete rows into s.columns and s.centroids, each sum
// taken in element order and divided by the member count, as
// getclustermeans does when no value is missing.
void MeansOfRows(const Problem& p, const CompleteRows& rows, const int clusterid[], Scratch& s) {
  std::fill(s.columns.begin(), s.columns.end(), 0.0);
  for (int e = 0; e < p.nelements(); e++) {
    const double* const x = rows.row(e);
    double* const centre = &s.columns[rows.place(clusterid[e], 0)];
    for (int d = 0; d < p.ndata(); d++)
      centre[static_cast<std::ptrdiff_t>(d) * CompleteRows::kBlock] += x[d];
  }
  for (int j = 0; j < p.nclusters; j++)
    for (int d = 0; d < p.ndata(); d++) {
      double& value = s.columns[rows.place(j, d)];
      value /= s.counts[j];
      Cell(s.centroids.data(), j, d, p.transpose) = value;
      Cell(s.centroids.mask(), j, d, p.transpose) = 1;
    }
}

// The centroids of the clusters of clusterid into s.centroids: medians
// for method 'm', means otherwise; with complete rows, also into
// s.columns with their completeness.
void Centroids(const Problem& p, const CompleteRows& rows, const int clusterid[], Scratch& s) {
  double** const cdata = s.centroids.data();
  int** const cmask = s.centroids.mask();
  if (p.method != 'm' && rows.all())
    MeansOfRows(p, rows, clusterid, s);
  else if (p.method == 'm')
    getclustermedians(p.nclusters, p.nrows, p.ncolumns, p.data, p.mask, clusterid, cdata, cmask,
                      p.transpose, s.median_values->data());
  else
    getclustermeans(p.nclusters, p.nrows, p.ncolumns, p.data, p.mask, clusterid, cdata, cmask,
                    p.transpose);
  if (!rows.any()) return;
  for (int j = 0; j < p.nclusters; j++) {
    bool complete = true;
    for (int d = 0; d < p.ndata(); d++) {
      const double value = Cell(cdata, j, d, p.transpose);
      s.columns[rows.place(j, d)] = value;
      complete = complete && Cell(cmask, j, d, p.transpose) && std::isfinite(value);
    }
    s.complete[j] = complete;
  }
}

// The distances of elements first ... first+count-1 (count 1 or 2) to
// every centroid into out[0 ... count-1]: from the complete rows where
// both sides are complete and finite, two elements at once where both are,
// from Measure for the rest.
void Distances(const Problem& p, const CompleteRows& rows, Scratch& s, int first, int count,
               double* const out[]) {
  bool complete[2] = {rows.usable(first), count == 2 && rows.usable(first + 1)};
  const double* const x[] = {complete[0] ? rows.row(first) : nullptr,
                             complete[1] ? rows.row(first + 1) : nullptr};
  if (complete[0] && complete[1])
    rows.distances(2, x, s.columns.data(), p.nclusters, out);
  else
    for (int e = 0; e < count; e++)
      if (complete[e]) rows.distances(1, &x[e], s.columns.data(), p.nclusters, &out[e]);
  for (int e = 0; e < count; e++)
    for (int j = 0; j < p.nclusters; j++)
      if (!complete[e] || !s.complete[j])
        out[e][j] = s.measure(p.data, s.centroids.data(), p.mask, s.centroids.mask(), p.weight,
                              first + e, j, p.transpose);
}

// Element i to the first centroid strictly closer (by its distances `to`)
// than the closest so far, the counts following; its distance to the
// centroid chosen.
double Move(Scratch& s, int nclusters, int i, const double to[], int clusterid[]) {
  const int k = clusterid[i];
  int chosen = k;
  for (int j = 0; j < nclusters; j++)
    if (j != k && to[j] < to[chosen]) chosen = j;
  s.counts[k]--;
  s.counts[chosen]++;
  clusterid[i] = chosen;
  return to[chosen];
}

// Moves each element not alone in its cluster to the first centroid
// strictly closer than the closest so far, in element order; the sum of
// those elements' distances to the centroids chosen.
double Relocate(const Problem& p, const CompleteRows& rows, Scratch& s, int clusterid[]) {
  double total = 0.0;
  double* const to[] = {s.distances.data(), s.distances.data() + s.distances.size() / 2};
  for (int i = 0; i < p.nelements(); i += 2) {
    const int count = std::min(2, p.nelements() - i);
    Distances(p, rows, s, i, count, to);
    for (int e = 0; e < count; e++)
      if (s.counts[clusterid[i + e]] > 1) total += Move(s, p.nclusters, i + e, to[e], clusterid);
  }
  return total;
}

// Centroids and relocation in turn from the partition in clusterid until
// the total stops falling; that total. A NaN total (data or centroids
// not finite) does not fall either.
double Converge(const Problem& p, const CompleteRows& rows, Scratch& s, int clusterid[]) {
  std::fill(s.counts.begin(), s.counts.end(), 0);
  for (int e = 0; e < p.nelements(); e++) s.counts[clusterid[e]]++;
  double total = DBL_MAX;
  while (true) {
    const double previous = total;
    Centroids(p, rows, clusterid, s);
    total = Relocate(p, rows, s, clusterid);
    if (!(total < previous)) return total;
  }
}

// True when b is a as renumbered by a one-to-one map, built in mapping
// (one int per cluster number).
bool SamePartition(int nelements, int nclusters, const int a[], const int b[], int mapping[]) {
  std::fill(mapping, mapping + nclusters, -1);
  for (int i = 0; i < nelements; i++) {
    int& image = mapping[a[i]];
    if (image == -1)
      image = b[i];
    else if (image != b[i])
      return false;
  }
  return true;
}

// Operations of a pass, to judge how many threads the passes are worth: a
// pass relocates every element some ten times.
double PassOperations(const Problem& p) {
  return 10.0 * p.nelements() * p.nclusters * std::max(p.ndata(), 1);
}

// The partitions of passes that run at once: `size` passes, each drawn in
// turn by the calling thread before any of them runs. One while a single
// thread runs them; with more, as many as 16 MB of cluster numbers hold.
class Round {
 public:
  Round(const Problem& p, int nthreads)
      : n_(p.nelements()),
        size_(nthreads > 1 ? std::min(p.npass, std::max(nthreads, (1 << 22) / n_)) : 1),
        partitions_(static_cast<std::size_t>(size_) * n_),
        totals_(size_),
        mapping_(p.nclusters) {}
  int size() const { return size_; }
  int* partition(int r) { return &partitions_[static_cast<std::size_t>(r) * n_]; }
  double& total(int r) { return totals_[r]; }
  int* mapping() { return mapping_.data(); }

 private:
  int n_, size_;
  std::vector<int> partitions_;
  std::vector<double> totals_;
  std::vector<int> mapping_;  // SamePartition's
};

// Pass ipass, its partition and total, judged as kcluster's passes are in
// order: one that is the best so far (clusterid) as a partition is found
// once more; otherwise one strictly smaller replaces it. The first is the
// best so far even when, with one cluster, it equals what clusterid held.
void KeepBest(const Problem& p, int ipass, const int partition[], double total, Round& round,
              int clusterid[], double* error, int* found) {
  const int n = p.nelements();
  if (ipass > 0 && SamePartition(n, p.nclusters, clusterid, partition, round.mapping())) {
    ++*found;
  } else if (ipass == 0 || total < *error) {
    *found = 1;
    *error = total;
    std::copy(partition, partition + n, clusterid);
  }
}

// A pass's starting partition into clusterid: a k-means++ draw with
// seeding, otherwise a random partition.
void Start(const Problem& p, std::optional<Seeding>& seeding, int clusterid[]) {
  if (seeding)
    seeding->run(clusterid);
  else
    randomassign(p.nclusters, p.nelements(), clusterid);
}

// npass > 1 passes from their starts, drawn in pass order, run by up to
// scratch.size() threads a round at a time and judged in pass order, so
// that the result is the one-thread result. Returns ifound.
int Competition(const Problem& p, const CompleteRows& rows, std::deque<Scratch>& scratch,
                std::optional<Seeding>& seeding, Round& round, int clusterid[], double* error) {
  int found = 0;
  for (int first = 0; first < p.npass; first += round.size()) {
    const int count = std::min(round.size(), p.npass - first);
    for (int r = 0; r < count; r++) Start(p, seeding, round.partition(r));
    UnitQueue passes(count, 1);
    auto work = [&](int t) {
      for (int r, end; passes.take(&r, &end);)
        round.total(r) = Converge(p, rows, scratch[t], round.partition(r));
    };
    runthreads(std::min(static_cast<int>(scratch.size()), count), work);
    for (int r = 0; r < count; r++)
      KeepBest(p, first + r, round.partition(r), round.total(r), round, clusterid, error, &found);
  }
  return found;
}

// The passes of k-means or k-medians: one pass in clusterid itself (from
// its start unless npass is 0), or the competition; ifound into *found.
// Everything is obtained before the first draw or write.
Status Passes(const Problem& p, int clusterid[], double* error, int* found) {
  const CompleteRows rows(p.set(), p.dist);
  std::optional<Seeding> seeding;
  if (p.plusplus && p.npass > 0) seeding.emplace(p.set(), rows, p.dist, p.nclusters);
  const int nthreads = p.npass > 1 ? std::min(threadsfor(p.npass * PassOperations(p)), p.npass) : 1;
  std::deque<Scratch> scratch;
  for (int t = 0; t < nthreads; t++) {
    scratch.emplace_back(p, rows.any());
    const Status obtained = scratch.back().obtain(p);
    if (obtained != Status::kOk) return obtained;
  }
  if (p.npass > 1) {
    Round round(p, nthreads);
    *found = Competition(p, rows, scratch, seeding, round, clusterid, error);
    return Status::kOk;
  }
  if (p.npass != 0) Start(p, seeding, clusterid);
  *error = Converge(p, rows, scratch.front(), clusterid);
  *found = 1;
  return Status::kOk;
}

}  // namespace

Status checkpartition(int nclusters, int nelements, const int clusterid[]) {
  return guarded([&] {
    std::vector<char> used(nclusters, 0);
    for (int e = 0; e < nelements; e++) {
      if (clusterid[e] < 0 || clusterid[e] >= nclusters) return Status::kBadArguments;
      used[clusterid[e]] = 1;
    }
    const bool full = std::find(used.begin(), used.end(), 0) == used.end();
    return full ? Status::kOk : Status::kBadArguments;
  });
}

int ifoundfor(Status status, int found) {
  switch (status) {
    case Status::kOk:
      return found;
    case Status::kOutOfMemory:
      return -1;
    default:
      return 0;
  }
}

}  // namespace detail

int getclustercentroids(int nclusters, int nrows, int ncolumns, const double* const* data,
                        const int* const* mask, const int clusterid[], double** cdata, int** cmask,
                        int transpose, char method) {
  const int nelements = transpose ? ncolumns : nrows;
  if (method != 'a' && method != 'm') return 0;
  if (nrows < 0 || ncolumns < 0 || nclusters < 1 || !clusterid || !cdata || !cmask) return 0;
  if (nrows > 0 && ncolumns > 0 && (!data || !mask)) return 0;
  for (int e = 0; e < nelements; e++)
    if (clusterid[e] < 0 || clusterid[e] >= nclusters) return 0;
  const detail::Status status = detail::guarded([&] {
    std::vector<double> cache(method == 'm' ? nelements : 0);
    if (method == 'm')
      detail::getclustermedians(nclusters, nrows, ncolumns, data, mask, clusterid, cdata, cmask,
                                transpose, cache.data());
    else
      detail::getclustermeans(nclusters, nrows, ncolumns, data, mask, clusterid, cdata, cmask,
                              transpose);
    return detail::Status::kOk;
  });
  return status == detail::Status::kOk;
}

namespace detail {
namespace {

// kcluster and kclusterplusplus after their arguments: *ifound 0 for bad
// ones, nothing else written.
void KCluster(const Problem& p, int clusterid[], double* error, int* ifound) {
  if (!ifound) return;
  *ifound = 0;
  if (p.nrows < 0 || p.ncolumns < 0 || p.nclusters < 1 || p.nelements() < p.nclusters ||
      !clusterid || !error)
    return;
  if (p.ndata() > 0 && (!p.data || !p.mask || !p.weight)) return;
  int found = 0;
  const Status status = guarded([&] {
    // A given partition needs every cluster: an empty one has no centroid.
    if (p.npass == 0) {
      const Status given = checkpartition(p.nclusters, p.nelements(), clusterid);
      if (given != Status::kOk) return given;
    }
    return Passes(p, clusterid, error, &found);
  });
  *ifound = ifoundfor(status, found);
}

}  // namespace
}  // namespace detail

void kcluster(int nclusters, int nrows, int ncolumns, const double* const* data,
              const int* const* mask, const double weight[], int transpose, int npass, char method,
              char dist, int clusterid[], double* error, int* ifound) {
  detail::KCluster({nclusters, nrows, ncolumns, data, mask, weight, transpose, npass, method, dist},
                   clusterid, error, ifound);
}

void kclusterplusplus(int nclusters, int nrows, int ncolumns, const double* const* data,
                      const int* const* mask, const double weight[], int transpose, int npass,
                      char method, char dist, int clusterid[], double* error, int* ifound) {
  if (npass < 1) {
    if (ifound) *ifound = 0;
    return;
  }
  detail::KCluster(
      {nclusters, nrows, ncolumns, data, mask, weight, transpose, npass, method, dist, true},
      clusterid, error, ifound);
}

}  // namespace lopper
