// Hierarchical clustering: single, maximum, average, centroid, Ward,
// weighted and median linkage.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "cluster_internal.h"
#include "lanes.h"
#include "linkage.h"

namespace lopper {
namespace detail {

Status pmlcluster(int nelements, double** distmatrix, Node tree[]) {
  return PairwiseLinkage<RowMinima>(nelements, distmatrix, 'm', tree);
}

Status palcluster(int nelements, double** distmatrix, Node tree[]) {
  return PairwiseLinkage<RowMinima>(nelements, distmatrix, 'a', tree);
}

Status pairwisecluster(int nelements, double** distmatrix, char method, Node tree[]) {
  return PairwiseLinkage<RowMinima>(nelements, distmatrix, method, tree);
}

Status pclcluster(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                  const double weight[], double** distmatrix, char dist, int transpose,
                  Node tree[]) {
  return CentroidLinkage<RowMinima>(nrows, ncolumns, data, mask, weight, distmatrix, dist,
                                    transpose, tree);
}

namespace {

// Slots per block of a centroid's distances: a block's sums stay in the
// first-level cache while the dimensions pass over them.
constexpr int kSumBlock = 512;

// DifferenceTerm of one double, by value, for the loops below.
template <bool kAbsolute>
inline double Term(double d) {
  DifferenceTerm<kAbsolute>(d);
  return d;
}

// Measure's distance of a code summing squared ('e', 'Q', 'E') or, with
// absolute, absolute ('b', 'B') differences, with unit weights, from slot
// js of rows (ndata rows of slots) to slots first ... end-1 into out: the
// terms summed in ascending dimension order, then finished (nothing is
// missing, so that R's scale is 1).
template <Finish kFinish>
inline void PlainUnitSums(const double* const* rows, int ndata, int js, int first, int end,
                          bool absolute, double* __restrict out) {
  for (int block = first; block < end; block += kSumBlock) {
    const int stop = std::min(end, block + kSumBlock);
    std::fill(out + block, out + stop, 0.0);
    for (int k = 0; k < ndata; k++) {
      const double* __restrict v = rows[k];
      const double c = v[js];
      if (absolute)
        for (int x = block; x < stop; x++) out[x] += Term<true>(c - v[x]);
      else
        for (int x = block; x < stop; x++) out[x] += Term<false>(c - v[x]);
    }
    // Measure's finishing without its check of the count, ndata > 0, so
    // that the loop stays in vector registers.
    for (int x = block; x < stop; x++) {
      const double sum = kFinish == Finish::kMean   ? out[x] / ndata
                         : kFinish == Finish::kRoot ? std::sqrt(out[x])
                                                    : out[x];
      out[x] = std::isnan(sum) ? HUGE_VAL : sum;
    }
  }
}

void PlainUnits(Finish finish, const double* const* rows, int ndata, int js, int first, int end,
                bool absolute, double out[]) {
  switch (finish) {
    case Finish::kMean:
      return PlainUnitSums<Finish::kMean>(rows, ndata, js, first, end, absolute, out);
    case Finish::kScaled:
      return PlainUnitSums<Finish::kScaled>(rows, ndata, js, first, end, absolute, out);
    default:
      return PlainUnitSums<Finish::kRoot>(rows, ndata, js, first, end, absolute, out);
  }
}

#ifdef LOPPER_AVX2
LOPPER_AVX2 void WideUnits(Finish finish, const double* const* rows, int ndata, int js, int first,
                           int end, bool absolute, double out[]) {
  PlainUnits(finish, rows, ndata, js, first, end, absolute, out);
}
#endif

void UnitSums(Finish finish, const double* const* rows, int ndata, int js, int first, int end,
              bool absolute, double out[]) {
#ifdef LOPPER_AVX2
  if (hasavx2()) return WideUnits(finish, rows, ndata, js, first, end, absolute, out);
#endif
  PlainUnits(finish, rows, ndata, js, first, end, absolute, out);
}

}  // namespace

Centroids::Centroids(const ElementSet& set, char dist)
    : nslots_(set.elements()),
      ndata_(set.dimensions()),
      fast_(ndata_ > 0 && differencesof(dist, &differences_) && unitweights(ndata_, set.weight)),
      dist_(dist),
      weight_(set.weight),
      values_(static_cast<std::size_t>(nslots_) * ndata_),
      counts_(values_.size()),
      value_rows_(ndata_),
      count_rows_(ndata_),
      complete_(nslots_) {
  for (int k = 0; k < ndata_; k++) {
    value_rows_[k] = &values_[static_cast<std::size_t>(k) * nslots_];
    count_rows_[k] = &counts_[static_cast<std::size_t>(k) * nslots_];
    for (int i = 0; i < nslots_; i++) {
      // A missing value is never read: its slot holds 0, which merges
      // weigh by a count of 0 (a NaN there would spread into the means).
      const bool present = set.transpose ? set.mask[k][i] : set.mask[i][k];
      value_rows_[k][i] = present ? (set.transpose ? set.data[k][i] : set.data[i][k]) : 0.0;
      count_rows_[k][i] = present;
    }
  }
  for (int i = 0; i < nslots_; i++) judge(i);
}

void Centroids::judge(int slot) {
  bool complete = true;
  for (int k = 0; k < ndata_; k++)
    complete = complete && count_rows_[k][slot] != 0 && std::isfinite(value_rows_[k][slot]);
  complete_[slot] = complete;
}

// The mask counts members, and a value weighs with its count, as merges
// have always formed them.
void Centroids::merge(int js, int is) {
  for (int k = 0; k < ndata_; k++) {
    double* const v = value_rows_[k];
    int* const c = count_rows_[k];
    v[js] = v[js] * c[js] + v[is] * c[is];
    c[js] += c[is];
    if (c[js]) v[js] *= 1.0 / c[js];
  }
  judge(js);
}

void Centroids::midpoint(int js, int is) {
  for (int k = 0; k < ndata_; k++) {
    double* const v = value_rows_[k];
    v[js] = 0.5 * (v[js] + v[is]);
  }
  judge(js);
}

void Centroids::move(int from, int to) {
  for (int k = 0; k < ndata_; k++) {
    value_rows_[k][to] = value_rows_[k][from];
    count_rows_[k][to] = count_rows_[k][from];
  }
  complete_[to] = complete_[from];
}

double Centroids::cost() const { return std::max(ndata_, 1) * valuecost(dist_); }

void Centroids::distances(int js, int first, int end, double out[], Measure& fallback) const {
  const bool fast = fast_ && complete_[js];
  if (fast)
    UnitSums(differences_.finish, value_rows_.data(), ndata_, js, first, end, differences_.absolute,
             out);
  for (int x = first; x < end; x++)
    if (!fast || !complete_[x])
      out[x] = fallback(value_rows_.data(), value_rows_.data(), count_rows_.data(),
                        count_rows_.data(), weight_, js, x, 1);
}

namespace {

// Distances a batch of rows measured from the data may hold: O(n) memory
// however many elements.
constexpr int kBatchValues = 1 << 20;
constexpr int kMostBatch = 256;

// SLINK's pointer representation of the elements added so far: pointer[j]
// is the last element j joins, lambda[j] the height at which it does
// (DBL_MAX while it joins none).
class Slink {
 public:
  explicit Slink(int nelements) : pointer_(nelements), lambda_(nelements, DBL_MAX) {
    for (int j = 0; j < nelements; j++) pointer_[j] = j;
  }

  // Adds element n, whose distances to elements 0 ... n-1 are in temp
  // (overwritten). The choices are written as selections, with the same
  // comparisons as the textbook branches: they follow the data too
  // erratically for a branch predictor.
  void add(int n, double temp[]) {
    int* const pointer = pointer_.data();
    double* const lambda = lambda_.data();
    for (int j = 0; j < n; j++) {
      const int k = pointer[j];
      const double l = lambda[j], t = temp[j];
      const bool joins = l >= t;  // j's last join is now with n
      const double offer = joins ? l : t;
      if (offer < temp[k]) temp[k] = offer;
      lambda[j] = joins ? t : l;
      pointer[j] = joins ? n : k;
    }
    // lambda[n] is DBL_MAX, so that the comparison needs no branch.
    for (int j = 0; j < n; j++) {
      const int p = pointer[j];
      pointer[j] = p != n && lambda[j] >= lambda[p] ? n : p;
    }
  }

  // The representation as merge records sorted by height; index:
  // nelements ints of scratch.
  void records(int nelements, int index[], Node tree[]) const {
    for (int j = 0; j < nelements - 1; j++) tree[j] = {j, 0, lambda_[j]};
    // Stable, so that records of equal height keep their element order.
    std::stable_sort(tree, tree + nelements - 1,
                     [](const Node& a, const Node& b) { return nodecompare(a, b) < 0; });
    for (int e = 0; e < nelements; e++) index[e] = e;
    for (int i = 0; i < nelements - 1; i++) {
      const int j = tree[i].left;
      const int k = pointer_[j];
      tree[i].left = index[j];
      tree[i].right = index[k];
      index[k] = -(i + 1);
    }
  }

 private:
  std::vector<int> pointer_;
  std::vector<double> lambda_;
};

bool AllFinite(const double* begin, const double* end) {
  return std::all_of(begin, end, [](double d) { return std::isfinite(d); });
}

// SLINK over a caller's matrix, a row copied at a time.
bool SlinkFromMatrix(int nelements, const double* const* distmatrix, Slink& slink) {
  std::vector<double> temp(nelements);
  for (int i = 0; i < nelements; i++) {
    std::copy(distmatrix[i], distmatrix[i] + i, temp.data());
    if (!AllFinite(temp.data(), temp.data() + i)) return false;
    slink.add(i, temp.data());
    reportprogress("merging", i + 1, nelements);
  }
  return true;
}

// SLINK over distances measured from the data: the rows of consecutive
// elements are measured a batch at a time, shared among the library's
// threads, while the calling thread adds the batch measured before (two
// buffers of O(n) each). False when a distance is not finite.
bool SlinkFromData(const ElementSet& set, char dist, Slink& slink) {
  const int n = set.elements();
  const PairMeasure measure(set, dist);
  std::vector<Measure> fallbacks = threadmeasures(set, dist);
  const int nthreads = static_cast<int>(fallbacks.size());
  const int batch = std::clamp(kBatchValues / n, 1, kMostBatch);
  const std::size_t width = static_cast<std::size_t>(n);
  std::vector<double> buffers[2] = {std::vector<double>(batch * width),
                                    std::vector<double>(batch * width)};
  const int nbatches = (n + batch - 1) / batch;
  bool finite = true;
  for (int round = 0; round <= nbatches && finite; round++) {
    const int first = round * batch, count = std::clamp(n - first, 0, batch);
    double* const rows = buffers[round % 2].data();
    double* const added = buffers[(round + 1) % 2].data();
    UnitQueue units(count, 1);
    auto work = [&](int t) {
      const int stop = std::min(first, n);
      for (int i = first - batch; t == 0 && round > 0 && i < stop && finite; i++) {
        double* const temp = added + (i - first + batch) * width;
        finite = AllFinite(temp, temp + i);
        if (finite) slink.add(i, temp);
        if (finite) reportprogress("merging", i + 1, n);
      }
      for (int begin, end; units.take(&begin, &end);)
        for (int r = begin; r < end; r++)
          measure.distances(first + r, rows + r * width, fallbacks[t]);
    };
    runthreads(count > 0 ? nthreads : 1, work);
  }
  return finite;
}

}  // namespace

// Single linkage by SLINK (Sibson 1973): the pointer representation pi,
// lambda is built one element at a time in O(n^2) time and O(n) memory
// (from data, besides what PairMeasure keeps per element), then turned into
// merge records sorted by height.
Status pslcluster(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                  const double weight[], const double* const* distmatrix, char dist, int transpose,
                  Node tree[]) {
  const ElementSet set{nrows, ncolumns, data, mask, weight, transpose};
  const int nelements = set.elements();
  if (nelements < 2) return Status::kBadArguments;
  return guarded([&] {
    std::vector<int> index(nelements);
    Slink slink(nelements);
    const bool finite = distmatrix ? SlinkFromMatrix(nelements, distmatrix, slink)
                                   : SlinkFromData(set, dist, slink);
    if (!finite) return Status::kNotFinite;
    slink.records(nelements, index.data(), tree);
    return Status::kOk;
  });
}

int nodecompare(const Node& a, const Node& b) {
  if (a.distance < b.distance) return -1;
  if (a.distance > b.distance) return 1;
  return 0;
}

}  // namespace detail

namespace detail {
namespace {

// Whether treecluster can build a tree: kBadArguments for sizes, method or
// missing arrays; kNotFinite when data it will measure holds a present value
// that is not finite.
Status CheckTreeArguments(int nrows, int ncolumns, const double* const* data,
                          const int* const* mask, const double weight[], int transpose, char method,
                          const double* const* distmatrix) {
  const int nelements = transpose ? ncolumns : nrows;
  const int ndata = transpose ? nrows : ncolumns;
  if (nrows < 0 || ncolumns < 0 || nelements < 2) return Status::kBadArguments;
  if (std::string("smacwqd").find(method) == std::string::npos) return Status::kBadArguments;
  // Centroid linkage measures between member means even on a caller's
  // matrix; a value that is not finite would give NaN distances.
  if (distmatrix && method != 'c') return Status::kOk;
  if (ndata > 0 && !weight) return Status::kBadArguments;
  if (!finitedata(nrows, ncolumns, data, mask)) return Status::kNotFinite;
  return Status::kOk;
}

}  // namespace

// A tree over NaN or infinite distances would depend on how they compare.
bool finitematrix(int nelements, const double* const* distmatrix) {
  for (int i = 1; i < nelements; i++)
    for (int j = 0; j < i; j++)
      if (!std::isfinite(distmatrix[i][j])) return false;
  return true;
}

Status link(int nrows, int ncolumns, const double* const* data, const int* const* mask,
            const double weight[], int transpose, char dist, char method, double** distmatrix,
            Node tree[]) {
  const int nelements = transpose ? ncolumns : nrows;
  switch (method) {
    case 'c':
      return pclcluster(nrows, ncolumns, data, mask, weight, distmatrix, dist, transpose, tree);
    case 's':
      return pslcluster(nrows, ncolumns, data, mask, weight, distmatrix, dist, transpose, tree);
    default:
      return pairwisecluster(nelements, distmatrix, method, tree);
  }
}

}  // namespace detail

Node* treecluster(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                  const double weight[], int transpose, char dist, char method,
                  double** distmatrix) {
  using detail::Status;
  if (detail::CheckTreeArguments(nrows, ncolumns, data, mask, weight, transpose, method,
                                 distmatrix) != Status::kOk)
    return nullptr;
  const int nelements = transpose ? ncolumns : nrows;
  detail::TriangleBlock built;
  if (!distmatrix && method != 's') {
    if (built.obtain(nelements) != Status::kOk ||
        detail::filldistances(nrows, ncolumns, data, mask, weight, dist, transpose, built.rows()) !=
            Status::kOk)
      return nullptr;
    distmatrix = built.rows();
  }
  if (distmatrix && !detail::finitematrix(nelements, distmatrix)) return nullptr;
  detail::Owned<Node> tree(static_cast<Node*>(detail::allocate((nelements - 1) * sizeof(Node))));
  if (!tree || detail::link(nrows, ncolumns, data, mask, weight, transpose, dist, method,
                            distmatrix, tree.get()) != Status::kOk)
    return nullptr;
  return tree.release();
}

}  // namespace lopper
