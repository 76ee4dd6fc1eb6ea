// The matrix-based linkages (maximum, average, centroid), written once over
// the way the closest pair is found. The library finds it from cached row
// minima (RowMinima); the tests use the plain scan, find_closest_pair, as the
// reference the cached search must match exactly. Private to the library.
#ifndef LOPPER_LINKAGE_H
#define LOPPER_LINKAGE_H

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "cluster_internal.h"

namespace lopper {
namespace detail {

// Finds the closest pair as find_closest_pair does, from each active row's
// smallest entry and its first column. During a merge of slots is > js,
// rows js and is are rescanned; every other row offers its changed entries
// (columns js and, beyond is, is) and is rescanned only when the entry that
// held its minimum grew. Ties go to the lower column, as in the scan.
class RowMinima {
 public:
  explicit RowMinima(int nelements) : value_(nelements), column_(nelements) {}

  void start(const double* const* d, int n) {
    for (int i = 1; i < n; i++) rescan(d, i);
  }

  double pick(int n, const double* const* d, int* ip, int* jp) const {
    int best = 1;
    for (int i = 2; i < n; i++)
      if (value_[i] < value_[best]) best = i;
    *ip = best;
    *jp = column_[best];
    return d[best][column_[best]];
  }

  // Row x (js < x < last, x != is) had its entry in column js rewritten,
  // and beyond is the one in column is.
  void changed(const double* const* d, int x, int is, int js) {
    bool redo = change(x, js, d[x][js]);
    if (!redo && x > is) redo = change(x, is, d[x][is]);
    if (redo) rescan(d, x);
  }

  // Rows js and, while still active (is < last), is were rewritten.
  void replaced(const double* const* d, int is, int js, int last) {
    if (js > 0) rescan(d, js);
    if (is < last) rescan(d, is);
  }

 private:
  void rescan(const double* const* d, int i) {
    int arg = 0;
    for (int j = 1; j < i; j++)
      if (d[i][j] < d[i][arg]) arg = j;
    value_[i] = d[i][arg];
    column_[i] = arg;
  }

  // Entry (x, c) now holds v; true when row x must be rescanned.
  bool change(int x, int c, double v) {
    if (column_[x] == c) {
      if (v > value_[x]) return true;
      value_[x] = v;
    } else if (v < value_[x] || (v == value_[x] && c < column_[x])) {
      value_[x] = v;
      column_[x] = c;
    }
    return false;
  }

  std::vector<double> value_;
  std::vector<int> column_;
};

// The distance from the merger of clusters i and j, of sizes ni and nj at
// distance dij, to another cluster of size nk at a and b from them, by the
// Lance-Williams update of `method` (Lance and Williams 1967; Mullner 2011,
// table 1): the larger for maximum linkage; the size-weighted mean for
// average (the weighted sum times the reciprocal of the total); the plain
// mean for weighted; for Ward and median, on squared distances, Ward's
// update and the median's (the squared distance to the midpoint).
class MergeRule {
 public:
  MergeRule(char method, double dij, int ni, int nj)
      : method_(method), dij_(dij), ni_(ni), nj_(nj), scale_(1.0 / (ni + nj)) {}
  double operator()(double a, double b, int nk) const {
    switch (method_) {
      case 'a':
        return (ni_ * a + nj_ * b) * scale_;
      case 'q':
        return 0.5 * (a + b);
      case 'w':
        return ((ni_ + nk) * a + (nj_ + nk) * b - nk * dij_) / (ni_ + nj_ + nk);
      case 'd':
        return 0.5 * a + 0.5 * b - 0.25 * dij_;
      default:
        return std::max(a, b);
    }
  }

 private:
  char method_;
  double dij_;
  int ni_, nj_;
  double scale_;
};

// Whether `method` merges squared distances: Ward's and the median's updates
// are those of squared Euclidean distances.
inline bool mergessquares(char method) { return method == 'w' || method == 'd'; }

// Whether every distance of the matrix has a finite square.
inline bool squarable(int nelements, const double* const* d) {
  const double largest = std::sqrt(std::numeric_limits<double>::max());
  for (int i = 1; i < nelements; i++)
    for (int j = 0; j < i; j++)
      if (!(std::fabs(d[i][j]) <= largest)) return false;
  return true;
}

// The height of a merge at working distance d: the square root for the
// methods that merge squares (a rounding error of the updates below 0 is
// 0, not NaN).
inline double mergeheight(char method, double d) {
  return mergessquares(method) ? std::sqrt(std::max(d, 0.0)) : d;
}

// Rows a merge walks ahead of the one it rewrites, for the memory to
// fetch them meanwhile: the walk goes down a column.
constexpr int kAhead = 32;

// Slots per block of a merge; merges of fewer active slots than
// kParallelSlots run in the calling thread alone.
constexpr int kSlotBlock = 512;
constexpr int kParallelSlots = 1024;

// Operations a merge's visit of one row is worth, to judge how many threads
// the merges are worth: a visit misses the cache.
constexpr double kRowCost = 8;

// Rows first ... end-1 of RewriteSlots' merge, those between js and last
// but is: their entries in column js, and beyond is in column is.
template <class Finder, class Merged>
void RewriteRows(double** d, int is, int js, int last, int first, int end, Finder& finder,
                 Merged& merged) {
  for (int x = std::max(first, js + 1), stop = std::min(end, is); x < stop; x++) {
    if (x + kAhead < stop) __builtin_prefetch(d[x + kAhead] + js);
    d[x][js] = merged(x, d[is][x], d[x][js]);
    finder.changed(d, x, is, js);
  }
  for (int x = std::max(first, is + 1), stop = std::min(end, last); x < stop; x++) {
    if (x + kAhead < stop) {
      __builtin_prefetch(d[x + kAhead] + js);
      __builtin_prefetch(d[x + kAhead] + is);
    }
    double* const row = d[x];
    row[js] = merged(x, row[is], row[js]);
    row[is] = d[last][x];
    finder.changed(d, x, is, js);
  }
}

// The merge of slots is > js among slots 0 ... last: slot js takes the
// merged cluster, whose distance to the cluster in slot x is merged(x, a, b)
// with a and b the entries of x with is and js before the merge, and slot
// last moves into slot is; the finder hears of every row changed. Each row
// below the merged ones is visited once, so that the columns cost one walk
// through the matrix. The slots go in blocks to the crew's threads, which
// call prepare(t, first, end) on a block before rewriting its rows (rows
// are independent); false when a prepare did, with the matrix then half
// rewritten.
template <class Finder, class Prepare, class Merged>
bool RewriteSlots(Crew& crew, double** d, int is, int js, int last, Finder& finder, Prepare prepare,
                  Merged merged) {
  UnitQueue slots(last + 1, kSlotBlock);
  std::atomic<bool> failed{false};
  auto work = [&](int t) {
    for (int first, end; slots.take(&first, &end);) {
      if (!prepare(t, first, end)) failed.store(true, std::memory_order_relaxed);
      RewriteRows(d, is, js, last, first, end, finder, merged);
    }
  };
  if (last + 1 >= kParallelSlots)
    crew.run(work);
  else
    work(0);
  if (failed.load(std::memory_order_relaxed)) return false;
  for (int x = 0; x < js; x++) d[js][x] = merged(x, d[is][x], d[js][x]);
  if (is < last) {
    d[last][js] = merged(last, d[last][is], d[last][js]);
    std::copy(d[last], d[last] + is, d[is]);
  }
  finder.replaced(d, is, js, last);
  return true;
}

// The linkages of MergeRule (maximum, average, Ward, weighted, median): n-1
// merges of the closest pair, the merged cluster in slot js, the last active
// slot moved into slot is. Throws std::bad_alloc, before anything is
// written, when its scratch cannot be had.
template <class Finder>
void PairwiseMerges(int nelements, double** d, char method, Node tree[]) {
  std::vector<int> clusterid(nelements);
  std::vector<int> number(nelements, 1);
  Finder finder(nelements);
  Crew crew(threadsfor(0.5 * nelements * nelements * kRowCost));
  for (int i = 0; i < nelements; i++) clusterid[i] = i;
  if (mergessquares(method))
    for (int i = 1; i < nelements; i++)
      for (int j = 0; j < i; j++) d[i][j] *= d[i][j];
  finder.start(d, nelements);
  for (int n = nelements; n > 1; n--) {
    const int k = nelements - n;
    int is, js;
    const double dij = finder.pick(n, d, &is, &js);
    tree[k].distance = mergeheight(method, dij);
    tree[k].left = clusterid[is];
    tree[k].right = clusterid[js];
    const MergeRule rule(method, dij, number[is], number[js]);
    const int* const sizes = number.data();
    const bool rewritten = RewriteSlots(
        crew, d, is, js, n - 1, finder, [](int, int, int) { return true; },
        [&rule, sizes](int x, double a, double b) { return rule(a, b, sizes[x]); });
    static_cast<void>(rewritten);  // nothing to prepare, nothing to fail
    number[js] += number[is];
    number[is] = number[n - 1];
    clusterid[js] = -(k + 1);
    clusterid[is] = clusterid[n - 1];
    reportprogress("merging", k + 1, nelements - 1);
  }
}

// PairwiseMerges into tree (nelements-1 slots) for nelements >= 2, as a
// Status.
template <class Finder>
Status PairwiseLinkage(int nelements, double** d, char method, Node tree[]) {
  if (nelements < 2) return Status::kBadArguments;
  if (mergessquares(method) && !squarable(nelements, d)) return Status::kNotFinite;
  return guarded([&] {
    PairwiseMerges<Finder>(nelements, d, method, tree);
    return Status::kOk;
  });
}

// The mean profiles of the clusters of centroid linkage, one slot per
// active cluster, stored by dimension (row k holds dimension k of every
// slot) so that the distances from one slot to all others run along
// contiguous rows; a Measure reads them with transpose 1. 'e', 'b', 'Q',
// 'B' and 'E' with unit weights between slots whose every dimension is
// present and finite take a loop of Measure's own operations in its order
// (1 * x is x, the unit weights add up to ndata exactly, and R's scale is
// 1); other pairs take Measure. The
// constructor may throw std::bad_alloc; distances may run in several
// threads at once, each with its own Measure.
class Centroids {
 public:
  Centroids(const ElementSet& set, char dist);
  // Slot js becomes the merger of slots js and is: per dimension the mean
  // of the members' present values, the count of them as its mask.
  void merge(int js, int is);
  // Slot js becomes the midpoint of slots js and is (median linkage, over
  // complete profiles).
  void midpoint(int js, int is);
  // Slot `from` takes the place of slot `to`.
  void move(int from, int to);
  // The distances from slot js to slots first ... end-1 into out[first ...
  // end-1]; entries of slots that are not active may hold anything.
  void distances(int js, int first, int end, double out[], Measure& fallback) const;
  // Operations of one distance, to judge how many threads a slot's
  // distances are worth.
  double cost() const;

 private:
  void judge(int slot);

  int nslots_, ndata_;
  Differences differences_{};
  bool fast_;
  char dist_;
  const double* weight_;
  std::vector<double> values_;  // ndata_ rows of nslots_
  std::vector<int> counts_;
  std::vector<double*> value_rows_;
  std::vector<int*> count_rows_;
  std::vector<unsigned char> complete_;  // per slot: every dimension present and finite
};

// Centroid linkage: merged clusters get the mean profile of their members
// (per dimension, over present values) and their distances are measured
// again from it. Scratch comes first, so that short memory writes nothing.
template <class Finder>
Status CentroidLinkage(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                       const double weight[], double** d, char dist, int transpose, Node tree[]) {
  const ElementSet set{nrows, ncolumns, data, mask, weight, transpose};
  const int nelements = set.elements();
  if (nelements < 2) return Status::kBadArguments;
  std::vector<int> distid;
  std::vector<double> out;
  std::optional<Finder> finder;
  std::optional<Centroids> centroids;
  std::optional<Crew> crew;
  std::vector<Measure> measures;
  const Status scratch = guarded([&] {
    distid.resize(nelements);
    out.resize(nelements);
    finder.emplace(nelements);
    centroids.emplace(set, dist);
    crew.emplace(threadsfor(0.5 * nelements * nelements * (centroids->cost() + kRowCost)));
    for (int t = 0; t < crew->size(); t++) measures.emplace_back(dist, set.dimensions());
    return Status::kOk;
  });
  if (scratch != Status::kOk) return scratch;
  for (int i = 0; i < nelements; i++) distid[i] = i;
  finder->start(d, nelements);
  for (int inode = 0; inode < nelements - 1; inode++) {
    const int last = nelements - inode - 1;
    int is, js;
    tree[inode].distance = finder->pick(last + 1, d, &is, &js);
    tree[inode].left = distid[js];
    tree[inode].right = distid[is];
    centroids->merge(js, is);
    // The merged cluster's distances, measured a block of slots at a time;
    // those to is and js are not used.
    const auto measure = [&](int t, int first, int end) {
      centroids->distances(js, first, end, out.data(), measures[t]);
      for (int x = first; x < end; x++)
        if (!std::isfinite(out[x]) && x != is && x != js) return false;
      return true;
    };
    if (!RewriteSlots(*crew, d, is, js, last, *finder, measure,
                      [&](int x, double, double) { return out[x]; }))
      return Status::kNotFinite;
    centroids->move(last, is);
    distid[is] = distid[last];
    distid[js] = -(inode + 1);
    reportprogress("merging", inode + 1, nelements - 1);
  }
  return Status::kOk;
}

}  // namespace detail
}  // namespace lopper

#endif
