// Private functions of the clustering library, declared for the library's
// own units and its tests; not installed.
//
// Failure inside the library takes one form: a helper that can fail returns
// a Status, which the compiler will not let a caller drop. The one
// exception is std::bad_alloc from standard containers and from the
// constructors of scratch types (which have no result to carry a Status);
// code that can throw it runs inside `guarded`, which turns it into
// kOutOfMemory. The public routines translate the Status into the failure
// result cluster.h promises.
#ifndef LOPPER_CLUSTER_INTERNAL_H
#define LOPPER_CLUSTER_INTERNAL_H

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "cluster.h"

// LOPPER_AVX2 marks a function compiled for AVX2, with everything it
// calls compiled into it, to be called only when hasavx2(). Lane by lane
// its operations are those of the plain build, and the library never
// contracts a multiply and an add, so both give the same results.
#if defined(__x86_64__) && defined(__GNUC__)
#define LOPPER_AVX2 __attribute__((target("avx2,popcnt"), flatten))
#endif

namespace lopper {
namespace detail {

// How an internal step ended. (Kept from clang-format, which reads the
// attribute as the start of an initialiser.)
// clang-format off
enum class [[nodiscard]] Status {
  kOk,
  kBadArguments,  // sizes, codes or arrays the step cannot work with
  kOutOfMemory,
  kNotFinite,     // a value or distance met is NaN or infinite
};
// clang-format on

// step(), a callable returning Status, with std::bad_alloc from it as
// kOutOfMemory.
template <class Step>
Status guarded(Step step) {
  try {
    return step();
  } catch (const std::bad_alloc&) {
    return Status::kOutOfMemory;
  }
}

// What a cut routine returns for its status: nclusters, or -1 with every
// clusterid entry -1.
inline int cutresult(Status status, int nelements, int* clusterid, int nclusters) {
  if (status == Status::kOk) return nclusters;
  for (int e = 0; e < nelements; e++) clusterid[e] = -1;
  return -1;
}

// The calling thread's progress report, if one is set: `step` has `done`
// of `total` units.
void reportprogress(const char* step, long done, long total);

// How many threads are worth starting for a call of about `operations`
// arithmetic operations: 1 below a few million (starting a thread costs
// tens of microseconds), at most getthreads().
int threadsfor(double operations);

// While one lives in a thread, the library's routines called from that
// thread report no progress and, when made `alone`, run in it only
// (threadsfor gives 1): the thread is one of several sharing out an outer
// loop, which takes the processors and reports for them. Scopes nest.
class Nested {
 public:
  explicit Nested(bool alone);
  ~Nested();
  Nested(const Nested&) = delete;
  Nested& operator=(const Nested&) = delete;

 private:
  bool was_alone_, was_quiet_;
};
// Whether a Nested lives in the calling thread.
bool quietthread();

// Whether the processor runs LOPPER_AVX2 code (and the tests have not
// turned it off).
bool hasavx2();

// Relative cost of one value of a pair under code dist, to judge how many
// threads a number of distances is worth.
double valuecost(char dist);

// Units 0 ... nunits-1 handed out in ascending blocks of `grain` units to
// whichever thread asks next.
class UnitQueue {
 public:
  UnitQueue(int nunits, int grain) : end_(nunits), grain_(std::max(grain, 1)) {}
  // The next block [*begin, *end); false when none is left.
  bool take(int* begin, int* end) {
    const int first = next_.fetch_add(grain_, std::memory_order_relaxed);
    if (first >= end_) return false;
    *begin = first;
    *end = std::min(end_, first + grain_);
    return true;
  }

 private:
  std::atomic<int> next_{0};
  int end_, grain_;
};

// Runs work(0) in the calling thread and work(1) ... work(nthreads-1) in
// threads of their own, returning when all have. A thread that cannot be
// started is left out, so work must not depend on every index running (a
// UnitQueue shares the units among those that do). work must not throw.
template <class Work>
void runthreads(int nthreads, Work& work) {
  std::vector<std::thread> threads;
  try {
    threads.reserve(nthreads > 1 ? nthreads - 1 : 0);
    for (int t = 1; t < nthreads; t++) threads.emplace_back([&work, t] { work(t); });
  } catch (const std::bad_alloc&) {
  } catch (const std::system_error&) {
  }
  work(0);
  for (std::thread& thread : threads) thread.join();
}

// Threads kept for a sequence of short parallel steps, each too short to
// pay for starting threads (runthreads): run(work) runs work(t) for t = 0
// ... size()-1, work(0) in the calling thread, and returns when all have.
// Between steps the helpers wait by yielding, so that they answer within
// microseconds, and after a millisecond without a step they sleep until the
// next, so that a crew whose steps have become too small to share costs no
// processor time. work must not throw.
class Crew {
 public:
  // Up to nthreads-1 helpers; one that cannot be started is left out.
  explicit Crew(int nthreads);
  ~Crew();
  Crew(const Crew&) = delete;
  Crew& operator=(const Crew&) = delete;
  int size() const { return 1 + static_cast<int>(helpers_.size()); }

  template <class Work>
  void run(Work& work) {
    if (helpers_.empty()) return work(0);
    call_ = [](void* w, int t) { (*static_cast<Work*>(w))(t); };
    context_ = &work;
    pending_.store(static_cast<int>(helpers_.size()), std::memory_order_relaxed);
    round_.fetch_add(1);
    wake();
    work(0);
    while (pending_.load(std::memory_order_acquire) > 0) std::this_thread::yield();
  }

 private:
  void serve(int t);
  // Whether round_ has passed `seen` or stop_ is set, after waiting.
  bool await(unsigned seen);
  void wake();
  std::vector<std::thread> helpers_;
  std::atomic<unsigned> round_{0};
  std::atomic<int> pending_{0};
  std::atomic<bool> stop_{false};
  // Helpers asleep, or about to check round_ once more before sleeping.
  std::atomic<int> sleepers_{0};
  std::mutex sleep_mutex_;
  std::condition_variable woken_;
  void (*call_)(void*, int) = nullptr;
  void* context_ = nullptr;
};

// Every block the library hands to a caller, or keeps as a row of one,
// comes from allocate/allocate_zeroed and goes back through release (or the
// caller's free). A zero-byte request still yields a block.
void* allocate(std::size_t bytes);
void* allocate_zeroed(std::size_t count, std::size_t size);
void release(void* block);
// Test hooks, defined only in the tests' build of the library (target
// lopper_cluster_testing), never in the installed one: the k-th allocation
// from now, counted across all threads, fails (0: none), and with and_after
// every one after it too; how many failed since; the number of blocks
// allocated and not yet released through `release`.
void fail_allocation(long k, bool and_after = false);
long injected_failures();
long live_blocks();
// Test hook as those: true makes hasavx2() false, so that the plain
// kernels run.
void useplainkernels(bool on);

// A block from allocate, released unless handed over with release().
struct Releaser {
  void operator()(void* block) const { detail::release(block); }
};
template <class T>
using Owned = std::unique_ptr<T, Releaser>;

// Owners of blocks are not copied: a copy would release them twice.
class NotCopied {
 public:
  NotCopied() = default;
  NotCopied(const NotCopied&) = delete;
  NotCopied& operator=(const NotCopied&) = delete;
};

// A data matrix and its mask: rows of ncols values and of ncols flags, each
// row from allocate, owned; the rows still held go back at destruction. A
// rectangle, not one of the triangles below: it shares with them only the
// row pointers every matrix argument of the library takes.
class DataMask : NotCopied {
 public:
  ~DataMask();
  // nrows rows, uninitialised, into an empty DataMask; kOutOfMemory keeps
  // nothing.
  Status obtain(int nrows, int ncols);
  double** data() const { return data_; }
  int** mask() const { return mask_; }

 private:
  void clear();
  int nrows_ = 0;
  double** data_ = nullptr;
  int** mask_ = nullptr;
};

// A lower-triangular matrix as distancematrix returns it (row 0 null, row i
// of i entries from allocate), owned until handed over. Each row is its
// own block, unlike TriangleBlock's one, because the caller it goes to
// frees the rows one by one and then the row array (cluster.h).
class TriangularMatrix : NotCopied {
 public:
  ~TriangularMatrix();
  // n rows, uninitialised, into an empty matrix; kOutOfMemory keeps nothing.
  Status obtain(int n);
  double** rows() const { return rows_; }
  // The matrix, now the caller's.
  double** release();

 private:
  void clear();
  int n_ = 0;  // rows 1 ... n_-1 are held
  double** rows_ = nullptr;
};

// The same shape with every row in one block, for the library's own
// matrices, which no caller frees: the system's large pages are asked for
// where it has them, so that filling the block faults far fewer pages and
// a walk down a column crosses far fewer page boundaries. The command
// layer's DistanceMatrix (source/table) lays its rows out the same way in a
// std::vector of its own, outside the library and its allocator.
class TriangleBlock : NotCopied {
 public:
  // n rows, uninitialised, into an empty block; kOutOfMemory keeps nothing.
  Status obtain(int n);
  double** rows() const { return rows_.get(); }

 private:
  Owned<double*> rows_;
  Owned<double> block_;
};

// -1, 0 or +1 as sortdata[i1] is below, equal to or above sortdata[i2];
// NaN is above every number and equal to NaN.
int compare(const double sortdata[], int i1, int i2);

// Element index1 of data1/mask1 against element index2 of data2/mask2 over
// n dimensions, oriented by transpose as the data matrices are; weight has
// n entries.
struct ElementPair {
  int n;
  const double* const* data1;
  const double* const* data2;
  const int* const* mask1;
  const int* const* mask2;
  const double* weight;
  int index1, index2, transpose;
};

// The thirteen measures take an ElementPair's fields in order. Each is NaN
// for a pair in which a value present in both is not finite; spearman may
// throw std::bad_alloc (library code measures through Measure, which
// cannot). euclid and cityblock are 'e' and 'b'; rootsquares, sumsquares,
// sumabsolute, maximum and canberra are 'E', 'Q', 'B', 'M' and 'C'.
using Metric = double (*)(int n, const double* const* data1, const double* const* data2,
                          const int* const* mask1, const int* const* mask2, const double weight[],
                          int index1, int index2, int transpose);
extern const Metric euclid, cityblock, correlation, acorrelation, ucorrelation, uacorrelation,
    spearman, kendall, rootsquares, sumsquares, sumabsolute, maximum, canberra;
Metric setmetric(char dist);

// Ranks of values[0 ... n-1] from 0 into rank (n doubles), ties sharing the
// mean of their positions; index is n ints of scratch.
void rankinto(int n, const double values[], int index[], double rank[]);

// rankinto with its own scratch; kOutOfMemory when that cannot be had. In
// the tests' build of the library only (testonly.cpp).
Status getrank(int n, const double data[], double rank[]);

// The weighted mean sum / w of 'e' and 'b': 0 when w is 0, infinitely far
// when the finite values' terms overflowed into NaN.
inline double weightedmean(double sum, double w) {
  if (w == 0) return 0;
  const double mean = sum / w;
  return std::isnan(mean) ? HUGE_VAL : mean;
}

// Whether code dist is a weighted mean of differences: 'e', 'b' and every
// code the measures read as 'e'.
bool meandifferences(char dist);

// How a measure of differences turns the weighted sum of its terms over the
// dimensions present in both, of weight `present` out of `total`, into the
// distance: the weighted mean ('e', 'b'), the sum scaled by total / present
// as R's dist() scales it ('Q', 'B'), or the square root of that ('E').
enum class Finish { kMean, kScaled, kRoot };

// sum / (present / total), a factor of exactly 1 when nothing is missing,
// as SciPy's pdist has it then; 0 when present is 0, infinitely far when
// the finite values' terms overflowed into NaN.
inline double scaledsum(double sum, double present, double total) {
  if (present == 0) return 0;
  const double scaled = sum / (present / total);
  return std::isnan(scaled) ? HUGE_VAL : scaled;
}

// The distance from the sum, as `finish` makes it.
inline double finished(Finish finish, double sum, double present, double total) {
  if (finish == Finish::kMean) return weightedmean(sum, present);
  const double scaled = scaledsum(sum, present, total);
  return finish == Finish::kRoot ? std::sqrt(scaled) : scaled;
}

// The codes whose distance is a weighted sum of squared or absolute
// differences, finished: 'e', 'b', 'E', 'Q', 'B' and the codes read as 'e'.
struct Differences {
  bool absolute;
  Finish finish;
};
// Whether dist is one of them, and if so how, into *how.
bool differencesof(char dist, Differences* how);

// Whether all n weights are 1, which 'e' and 'b' then need not multiply.
inline bool unitweights(int n, const double weight[]) {
  return std::all_of(weight, weight + n, [](double w) { return w == 1.0; });
}

// A correlation distance 1 - r: r cannot exceed 1, but its rounded value
// can, and a negative distance breaks every tool that reads a tree.
double notbelowzero(double d);

// The storage spearman ranks into for vectors of up to ndata values,
// obtained once (the constructor may throw std::bad_alloc) so that no
// distance depends on an allocation made while measuring.
class RankScratch {
 public:
  explicit RankScratch(int ndata);
  // spearman's distance, without allocating; pair.n <= ndata.
  double spearman(const ElementPair& pair);

 private:
  std::vector<double> x_, y_, rank1_, rank2_;
  std::vector<int> index_;
};

// The measure of code `dist` over ndata dimensions, with whatever scratch it
// needs obtained by the constructor (which may throw std::bad_alloc); calls
// never allocate and never fail. Not shared between threads.
class Measure {
 public:
  Measure(char dist, int ndata);
  double operator()(const double* const* data1, const double* const* data2, const int* const* mask1,
                    const int* const* mask2, const double weight[], int index1, int index2,
                    int transpose);

 private:
  int ndata_;
  Metric metric_;
  std::optional<RankScratch> ranks_;  // spearman only
};

// The elements of one data matrix and the arrays the measures read.
struct ElementSet {
  int nrows, ncolumns;
  const double* const* data;
  const int* const* mask;
  const double* weight;
  int transpose;

  int elements() const { return transpose ? ncolumns : nrows; }
  int dimensions() const { return transpose ? nrows : ncolumns; }
};

// Measure between the elements of one ElementSet, a row at a time, for
// routines that measure every pair of it. What a pair of usable elements
// (every present value finite) needs is computed once per element by the
// constructor: the values in a row, NaN where missing, with a bit per
// present value (the differences of differencesof with unit weights, gaps
// allowed), for complete elements (every dimension present) the ranks
// ('s') and the signs of the differences between dimensions ('k'), and for
// the correlations ('c', 'a', 'u', 'x'; weights >= 0, gaps allowed) each
// element's centred or plain values over the dimensions of positive weight,
// scaled to unit norm, 0 where missing, with their sums. Other pairs, and
// those for which that would not reproduce Measure, take the caller's
// Measure. Values are Measure's bit for bit, except for the four
// correlations, whose dot products round differently (they agree to 1e-13
// in r on well-conditioned data). The constructor may throw
// std::bad_alloc; calls never allocate, and one PairMeasure serves any
// number of threads, each with its own Measure.
class PairMeasure {
 public:
  PairMeasure(const ElementSet& set, char dist);
  // The distances from element i to elements 0 ... i-1 into out; fallback
  // is a Measure of the same code.
  void distances(int i, double out[], Measure& fallback) const;

  // The differences and the correlations keep their elements' values in
  // blocks of kLanes elements.
  static constexpr int kLanes = 4;

  // How usable pairs are measured.
  enum class Path { kMeasure, kDifferences, kRanks, kSigns, kCentred, kUncentred };

 private:
  void prepare_ranks();
  void prepare_signs();
  void prepare_correlation();
  bool scale_correlation(int i, double x[], double wx[]);
  // distances() with V, a vector of doubles, as the unit of the kernels.
  template <class V>
  void distances_by(int i, double out[], Measure& fallback) const;
  void wide_distances(int i, double out[], Measure& fallback) const;
  // Usable pairs by path.
  template <int kMost, class Block, class One>
  void blocks_row(int i, double out[], Measure& fallback, Block block, One one) const;
  template <class V>
  void differences_by(int i, double out[], Measure& fallback) const;
  template <class V, bool kCityblock, Finish kFinish>
  void differences_row(int i, double out[], Measure& fallback) const;
  template <class V, bool kAbsolute>
  void correlation_row(int i, double out[], Measure& fallback) const;
  // Element i's weight, count, sum and sum of squares over the dimensions
  // present in it and in j.
  struct Moments {
    double w, x, xx;
    int count;
  };
  Moments moments(int i, int j) const;
  template <bool kAbsolute>
  double gapped_correlation(int i, int j, double sxy, Measure& fallback) const;
  double ranks(int i, int j) const;
  double signs(int i, int j) const;
  template <class Usable>
  void row_by(int i, double out[], Measure& fallback, Usable usable) const;
  const double* row(int i) const { return &values_[static_cast<std::size_t>(i) * width_]; }
  // Where element i's first value is when its values are in blocks.
  std::size_t lane(int i) const {
    return static_cast<std::size_t>(i / kLanes) * kLanes * width_ + i % kLanes;
  }
  double measured(int i, int j, Measure& fallback) const {
    return fallback(set_.data, set_.data, set_.mask, set_.mask, set_.weight, i, j, set_.transpose);
  }

  ElementSet set_;
  int ndata_;
  int width_;  // values kept per element: ndata_, or for correlations the dimensions weighed
  Path path_;
  char dist_;
  std::vector<unsigned char> usable_;          // per element: the fast path applies
  std::vector<unsigned char> complete_;        // per element: usable with no value missing
  std::vector<unsigned char> complete_block_;  // differences: per block, all of it complete
  // Per element, ndata_ each: values, NaN where missing (differences),
  // ranks ('s') or scaled values (correlations); in blocks but for 's' and
  // 'k'.
  std::vector<double> values_;
  int words_ = 0;                        // differences: words of presence bits per element
  std::vector<std::uint64_t> presence_;  // differences: bit k of an element's words: k present
  std::vector<double> weighted_;         // correlations: the scaled values times the weights
  std::vector<double> weight_;           // correlations: the positive weights
  std::vector<unsigned char> present_;   // correlations: per element, width_ flags
  std::vector<int> gaps_;                // correlations: the dimensions each element misses,
  std::vector<int> gaps_start_;          // from gaps_start_[i] to gaps_start_[i + 1]
  std::vector<Moments> totals_;          // correlations: moments over all present dimensions
  std::vector<double> spread_;           // 's': the ranks' variance
  std::vector<signed char> signs_;       // 'k': sign(x[a] - x[b]) for b < a
  std::vector<int> untied_;              // 'k': how many of those are not 0
};

// The elements of an ElementSet whose every value is present and finite,
// copied into one row each, for the measures whose pairs of such elements
// are plain weighted sums: the codes of differencesof. Their distances are
// Measure's bit for bit (the same terms added in the same order; 1 * t is
// t, so unit weights skip the product; the weights present add up to the
// total as Measure adds them, so that its scale factor is 1). Holds
// nothing for the other measures, without dimensions, or when no element
// qualifies.
// The constructor may throw std::bad_alloc; one CompleteRows serves any
// number of threads.
class CompleteRows {
 public:
  CompleteRows(const ElementSet& set, char dist);
  bool any() const { return !values_.empty(); }
  bool all() const { return all_; }
  bool usable(int i) const { return any() && usable_[i]; }
  const double* row(int i) const { return &values_[static_cast<std::size_t>(i) * ndata_]; }

  // Points of the same kind (centroids) are laid out in blocks of kBlock,
  // each block dimension by dimension: point j's value d at place(j, d), in
  // blocks(m) * kBlock * ndata values. The sums of a block then stay in
  // registers.
  static constexpr int kBlock = 4;
  static int blocks(int m) { return (m + kBlock - 1) / kBlock; }
  std::size_t place(int j, int d) const {
    return (static_cast<std::size_t>(j / kBlock) * ndata_ + d) * kBlock + j % kBlock;
  }
  // Measure's distances from each of count (1 or 2) complete, finite
  // elements x[e] (ndata values) to the m points so laid out into out[e]
  // (room for blocks(m) * kBlock values; those beyond m are of the blocks'
  // unused places).
  void distances(int count, const double* const x[], const double points[], int m,
                 double* const out[]) const;
  // Measure's distance between usable elements i and j.
  double distance(int i, int j) const;

 private:
  int ndata_;
  const double* weight_;
  bool absolute_, unit_, all_ = false;
  Finish finish_ = Finish::kMean;
  double total_weight_ = 0;
  std::vector<unsigned char> usable_;
  std::vector<double> values_;
};

// k-means++ draws (Arthur and Vassilvitskii 2007) of nclusters centres
// among the elements of set, as kmeansplusplus makes them, over and over
// from the same storage: the constructor obtains it all (it may throw
// std::bad_alloc), run() never allocates. rows, CompleteRows of the same
// set and code, must outlive it.
class Seeding {
 public:
  Seeding(const ElementSet& set, const CompleteRows& rows, char dist, int nclusters);
  // Draws the centres from the calling thread's generator and gives each
  // element to its nearest (the lowest number on ties); a centre always to
  // its own cluster, so that none is empty.
  void run(int clusterid[]);

 private:
  double weight(int i, double d) const;
  double weight(int i) const { return weight(i, nearest_[i]); }
  void measure(int c);
  double potential(int c);
  int sample(double total) const;
  int draw(int j);
  void add(int j, int c);

  ElementSet set_;
  const CompleteRows& rows_;
  Measure measure_;
  int n_;
  std::vector<double> nearest_;  // each element's distance to its nearest centre so far
  std::vector<int> owner_, centres_;
  std::vector<char> centre_;
  // The complete rows laid out as CompleteRows reads points, so that one
  // element's distances to all are measured a block at a time, and them.
  std::vector<double> points_, to_;
};

// One Measure of code dist for each thread worth starting to measure every
// pair of set (at least one), for the threads' fallbacks; may throw
// std::bad_alloc.
std::vector<Measure> threadmeasures(const ElementSet& set, char dist);

// The distances between all elements by `dist` into the rows of matrix,
// shaped as TriangularMatrix holds them. kOutOfMemory, before any row is
// written, when the measure's scratch cannot be had.
Status filldistances(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                     const double weights[], char dist, int transpose, double** matrix);

// istree's rule, for routines already inside guarded: true when it holds,
// false also for nelements < 2 or a null tree; its scratch of 2 *
// nelements - 1 bytes may throw std::bad_alloc. What a routine asks beyond
// the form (heights, one element alone) it checks itself.
bool orderedtree(int nelements, const Node* tree);

// True when every value of the data matrix that its mask marks present is
// finite; false also for a null data or mask with rows and columns to read.
bool finitedata(int nrows, int ncolumns, const double* const* data, const int* const* mask);

// kOk when clusterid[0 ... nelements-1] holds only cluster numbers 0 ...
// nclusters-1 and every one of them at least once, otherwise kBadArguments;
// kOutOfMemory when its tally cannot be had.
Status checkpartition(int nclusters, int nelements, const int clusterid[]);

// *ifound as kcluster and kmedoids report it: `found` passes after kOk, 0
// for bad arguments, -1 for short memory.
int ifoundfor(Status status, int found);

// Smallest entry among the first n slots of the lower-triangular matrix
// (n >= 2), scanning rows then columns ascending; the first of equal
// entries wins. *ip > *jp receive its row and column. The plain scan the
// linkage caches are checked against, in the tests' build of the library
// only (testonly.cpp).
double find_closest_pair(int n, const double* const* distmatrix, int* ip, int* jp);

// The linkage routines behind treecluster: nelements-1 records into tree
// (nelements-1 slots, the caller's). kBadArguments for nelements < 2 and
// kOutOfMemory, both before anything is written. The matrix-based ones
// overwrite distmatrix as clusters merge. kNotFinite from pclcluster when
// a distance between merged clusters is not finite (the matrix then holds
// working values), from pslcluster when any distance it reads or measures
// is not finite.
Status pmlcluster(int nelements, double** distmatrix, Node tree[]);
Status palcluster(int nelements, double** distmatrix, Node tree[]);
// Any linkage of MergeRule ('m', 'a', 'w', 'q', 'd'), as those two.
Status pairwisecluster(int nelements, double** distmatrix, char method, Node tree[]);
Status pclcluster(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                  const double weight[], double** distmatrix, char dist, int transpose,
                  Node tree[]);
// distmatrix may be null: distances then come from the data.
Status pslcluster(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                  const double weight[], const double* const* distmatrix, char dist, int transpose,
                  Node tree[]);

// treecluster's two last steps, for arguments it accepts: whether the
// nelements rows of distmatrix are all finite; and the linkage of `method`
// over distmatrix (null only for 's', whose distances then come from the
// data) into tree (nelements-1 records), with the linkage routines'
// results.
bool finitematrix(int nelements, const double* const* distmatrix);
Status link(int nrows, int ncolumns, const double* const* data, const int* const* mask,
            const double weight[], int transpose, char dist, char method, double** distmatrix,
            Node tree[]);

// -1, 0 or +1 as a.distance is below, equal to or above b.distance.
int nodecompare(const Node& a, const Node& b);

// Uniform deviate in (0, 1), seeding itself from the clock while unseeded.
double uniform();
// L'Ecuyer's generator of uniform() with a state of its own, seeded from
// `key` alone: draws that must not depend on the thread making them, nor
// disturb the thread's generator, which is the caller's.
class Stream {
 public:
  explicit Stream(std::uint64_t key);
  // Uniform deviate in (0, 1).
  double uniform();

 private:
  int s1_, s2_;
};
// A key for Stream from two numbers (a seed and an index, say), each of
// whose bits reaches every bit of the key (SplitMix64's finaliser).
std::uint64_t mixkey(std::uint64_t a, std::uint64_t b);
// The draws of bootstrapcounts' resample q: size values among nvalues
// (>= 1), uniformly with replacement, from a Stream keyed by (seed, q);
// multiplicity (nvalues ints) receives the times each value was drawn.
void bootstrapdraws(int seed, int q, int nvalues, int size, int multiplicity[]);
// Binomial deviate for n >= 0 trials of probability 0 < p <= 0.5: BINV
// below n*p = 30, BTPE from 30 on.
int binomial(int n, double p);
// Seeds the calling thread's generator with stream `stream` of `seed`, by
// the pair alone: the resamples of a routine, numbered, draw the same
// numbers whichever thread or machine runs them.
void seedstream(int seed, long stream);
// The calling thread's generator state, put back as it was (unseeded
// included) when this goes.
class KeptGenerator {
 public:
  KeptGenerator();
  ~KeptGenerator();
  KeptGenerator(const KeptGenerator&) = delete;
  KeptGenerator& operator=(const KeptGenerator&) = delete;

 private:
  int s1_, s2_;
};
// m of the n numbers 0 ... n-1 (0 <= m <= n), each set of m equally likely,
// into chosen in ascending order: selection sampling (Knuth, TAOCP vol. 2,
// 3.4.2, algorithm S), one uniform() per number looked at.
void drawsubset(int n, int m, int chosen[]);
// A random partition of nelements into 1 <= nclusters <= nelements
// non-empty clusters.
void randomassign(int nclusters, int nelements, int clusterid[]);

// Centroids of the clusters of clusterid into cdata/cmask, shaped as for
// getclustercentroids; cache holds nelements doubles.
void getclustermeans(int nclusters, int nrows, int ncolumns, const double* const* data,
                     const int* const* mask, const int clusterid[], double** cdata, int** cmask,
                     int transpose);
void getclustermedians(int nclusters, int nrows, int ncolumns, const double* const* data,
                       const int* const* mask, const int clusterid[], double** cdata, int** cmask,
                       int transpose, double cache[]);

// The standard normal quantile of p in (0, 1), to full double precision
// (Wichura 1988, algorithm AS 241 PPND16); -inf and +inf at 0 and 1, NaN
// outside [0, 1].
double normalquantile(double p);

}  // namespace detail
}  // namespace lopper

#endif
