// Distances over a whole data matrix: the distance matrix, element weights
// and the distance between two groups of elements.
#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "cluster_internal.h"

namespace lopper {

namespace {

int Elements(int nrows, int ncolumns, int transpose) { return transpose ? ncolumns : nrows; }
int Dimensions(int nrows, int ncolumns, int transpose) { return transpose ? nrows : ncolumns; }

// Sizes that describe a matrix, and the arrays a measure reads.
bool Readable(int nrows, int ncolumns, const double* const* data, const int* const* mask,
              const double weights[]) {
  if (nrows < 0 || ncolumns < 0) return false;
  return nrows == 0 || ncolumns == 0 || (data && mask && weights);
}

}  // namespace

namespace detail {

double valuecost(char dist) {
  switch (dist) {
    case 'k':
      return 8;  // a pair of dimensions per dimension
    case 's':
      return 2;
    default:
      return 1;
  }
}

std::vector<Measure> threadmeasures(const ElementSet& set, char dist) {
  const double n = set.elements();
  const int nthreads =
      threadsfor(0.5 * n * (n - 1) * std::max(set.dimensions(), 1) * valuecost(dist));
  std::vector<Measure> measures;
  measures.reserve(nthreads);
  for (int t = 0; t < nthreads; t++) measures.emplace_back(dist, set.dimensions());
  return measures;
}

Status filldistances(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                     const double weights[], char dist, int transpose, double** matrix) {
  const ElementSet set{nrows, ncolumns, data, mask, weights, transpose};
  const int n = set.elements();
  return guarded([&] {
    const PairMeasure measure(set, dist);
    std::vector<Measure> fallbacks = threadmeasures(set, dist);
    // Rows are handed out one at a time in ascending order; the calling
    // thread reports the pairs done by all.
    UnitQueue rows(n - 1, 1);
    std::atomic<long> pairs{0};
    long reported = 0;
    const long total = static_cast<long>(n) * (n - 1) / 2;
    auto work = [&](int t) {
      for (int first, last; rows.take(&first, &last);)
        for (int i = first + 1; i <= last; i++) {
          measure.distances(i, matrix[i], fallbacks[t]);
          const long done = pairs.fetch_add(i, std::memory_order_relaxed) + i;
          if (t == 0) reportprogress("distances", reported = done, total);
        }
    };
    runthreads(static_cast<int>(fallbacks.size()), work);
    if (reported != total) reportprogress("distances", total, total);
    return Status::kOk;
  });
}

}  // namespace detail

double** distancematrix(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                        const double weights[], char dist, int transpose) {
  if (!Readable(nrows, ncolumns, data, mask, weights)) return nullptr;
  const int n = Elements(nrows, ncolumns, transpose);
  if (n < 2) return nullptr;
  detail::TriangularMatrix matrix;
  if (matrix.obtain(n) != detail::Status::kOk ||
      detail::filldistances(nrows, ncolumns, data, mask, weights, dist, transpose, matrix.rows()) !=
          detail::Status::kOk)
    return nullptr;
  return matrix.release();
}

namespace {

// Adds each pair's weight term to both elements' sums in result (n
// entries, zeroed); throws std::bad_alloc when spearman's scratch cannot be
// had.
void SumNeighbourTerms(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                       const double weights[], int transpose, char dist, double cutoff,
                       double exponent, double result[]) {
  detail::Measure measure(dist, Dimensions(nrows, ncolumns, transpose));
  for (int i = 0; i < Elements(nrows, ncolumns, transpose); i++) {
    result[i] += 1.0;
    for (int j = 0; j < i; j++) {
      const double distance = measure(data, data, mask, mask, weights, i, j, transpose);
      if (distance < cutoff) {
        const double dweight = std::exp(exponent * std::log(1 - distance / cutoff));
        result[i] += dweight;
        result[j] += dweight;
      }
    }
  }
}

}  // namespace

double* calculate_weights(int nrows, int ncolumns, const double* const* data,
                          const int* const* mask, const double weights[], int transpose, char dist,
                          double cutoff, double exponent) {
  if (!Readable(nrows, ncolumns, data, mask, weights)) return nullptr;
  const int n = Elements(nrows, ncolumns, transpose);
  detail::Owned<double> result(static_cast<double*>(detail::allocate_zeroed(n, sizeof(double))));
  if (!result) return nullptr;
  const detail::Status summed = detail::guarded([&] {
    SumNeighbourTerms(nrows, ncolumns, data, mask, weights, transpose, dist, cutoff, exponent,
                      result.get());
    return detail::Status::kOk;
  });
  if (summed != detail::Status::kOk) return nullptr;
  for (int i = 0; i < n; i++) result.get()[i] = 1.0 / result.get()[i];
  return result.release();
}

namespace {

// Two centroids in the data's orientation: with transpose 0, rows 0 and 1
// of ndata values; otherwise ndata rows of two. Groups are 0 and 1.
class CentroidPair {
 public:
  CentroidPair(int ndata, int transpose)
      : transpose_(transpose),
        values_(2 * static_cast<std::size_t>(ndata), 0.0),
        present_(2 * static_cast<std::size_t>(ndata), 0) {
    const int rows = transpose ? ndata : 2;
    const std::size_t width = transpose ? 2 : ndata;
    for (int r = 0; r < rows; r++) {
      value_rows_.push_back(&values_[r * width]);
      mask_rows_.push_back(&present_[r * width]);
    }
  }
  double& value(int group, int d) {
    return transpose_ ? value_rows_[d][group] : value_rows_[group][d];
  }
  int& present(int group, int d) {
    return transpose_ ? mask_rows_[d][group] : mask_rows_[group][d];
  }
  double distance(detail::Measure& measure, const double weight[]) const {
    return measure(value_rows_.data(), value_rows_.data(), mask_rows_.data(), mask_rows_.data(),
                   weight, 0, 1, transpose_);
  }

 private:
  int transpose_;
  std::vector<double> values_;
  std::vector<int> present_;
  std::vector<double*> value_rows_;
  std::vector<int*> mask_rows_;
};

// Two groups of elements of one data matrix: group g has n[g] members,
// listed in members[g] (repeats allowed).
struct Groups {
  const double* const* data;
  const int* const* mask;
  int transpose;
  int n[2];
  const int* members[2];

  bool has(int e, int d) const { return transpose ? mask[d][e] != 0 : mask[e][d] != 0; }
  double at(int e, int d) const { return transpose ? data[d][e] : data[e][d]; }
};

// The distance between the groups' centroids: per dimension, the mean
// ('a') or median ('m') of each group's present values; a dimension without
// any stays masked. Throws std::bad_alloc when its scratch cannot be had.
double CentroidDistance(const Groups& g, int ndata, const double weight[], char method,
                        detail::Measure& measure) {
  CentroidPair centroids(ndata, g.transpose);
  // Medians only: one group's values in one dimension. Repeated members may
  // make a group larger than nelements.
  std::optional<std::vector<double>> median_values;
  if (method == 'm') median_values.emplace(std::max(g.n[0], g.n[1]));
  for (int group = 0; group < 2; group++) {
    for (int d = 0; d < ndata; d++) {
      int count = 0;
      double sum = 0.0;
      for (int k = 0; k < g.n[group]; k++) {
        const int e = g.members[group][k];
        if (!g.has(e, d)) continue;
        if (median_values)
          (*median_values)[count] = g.at(e, d);
        else
          sum += g.at(e, d);
        count++;
      }
      if (count == 0) continue;
      centroids.value(group, d) =
          median_values ? median(count, median_values->data()) : sum / count;
      centroids.present(group, d) = 1;
    }
  }
  return centroids.distance(measure, weight);
}

// The distances between the members of two groups, in list order, folded
// into one: shortest ('s'), longest ('x') or mean ('v'). A NaN member
// distance makes the group distance NaN, never ignored.
double MemberDistance(const Groups& g, const double weight[], char method,
                      detail::Measure& measure) {
  auto fold = [&](double start, auto combine) {
    double acc = start;
    for (int i1 = 0; i1 < g.n[0]; i1++)
      for (int i2 = 0; i2 < g.n[1]; i2++)
        acc = combine(acc, measure(g.data, g.data, g.mask, g.mask, weight, g.members[0][i1],
                                   g.members[1][i2], g.transpose));
    return acc;
  };
  switch (method) {
    case 's':
      return fold(DBL_MAX, [](double acc, double d) { return d < acc || d != d ? d : acc; });
    case 'x':
      return fold(0.0, [](double acc, double d) { return d > acc || d != d ? d : acc; });
    default:
      return fold(0.0, [](double acc, double d) { return acc + d; }) /
             (static_cast<double>(g.n[0]) * g.n[1]);
  }
}

}  // namespace

double clusterdistance(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                       const double weight[], int n1, int n2, const int index1[],
                       const int index2[], char dist, char method, int transpose) {
  const int nelements = Elements(nrows, ncolumns, transpose);
  const int ndata = Dimensions(nrows, ncolumns, transpose);
  if (!Readable(nrows, ncolumns, data, mask, weight) || n1 < 1 || n2 < 1 || !index1 || !index2)
    return -1.0;
  for (int i = 0; i < n1; i++)
    if (index1[i] < 0 || index1[i] >= nelements) return -1.0;
  for (int i = 0; i < n2; i++)
    if (index2[i] < 0 || index2[i] >= nelements) return -1.0;
  if (std::string("amsxv").find(method) == std::string::npos) return -2.0;
  double distance = 0;
  const detail::Status status = detail::guarded([&] {
    detail::Measure measure(dist, ndata);
    const Groups groups{data, mask, transpose, {n1, n2}, {index1, index2}};
    distance = method == 'a' || method == 'm'
                   ? CentroidDistance(groups, ndata, weight, method, measure)
                   : MemberDistance(groups, weight, method, measure);
    return detail::Status::kOk;
  });
  return status == detail::Status::kOk ? distance : -1.0;
}

}  // namespace lopper
