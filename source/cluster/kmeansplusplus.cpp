// k-means++ starting partitions (Arthur and Vassilvitskii 2007): centres
// drawn one by one, each with probability growing with its distance to
// the centres drawn before it.
#include <algorithm>
#include <cmath>
#include <vector>

#include "cluster_internal.h"

namespace lopper {
namespace detail {

namespace {

// An element drawn uniformly among the n - taken that are not yet centres.
int UniformOther(int n, int taken, const std::vector<char>& centre) {
  const int others = n - taken;
  int q = std::min(others - 1, static_cast<int>(others * uniform()));
  int i = 0;
  while (centre[i] || q-- > 0) i++;
  return i;
}

}  // namespace

Seeding::Seeding(const ElementSet& set, const CompleteRows& rows, char dist, int nclusters)
    : set_(set),
      rows_(rows),
      measure_(dist, set.dimensions()),
      n_(set.elements()),
      nearest_(n_),
      owner_(n_),
      centres_(nclusters),
      centre_(n_),
      to_(static_cast<std::size_t>(CompleteRows::blocks(n_)) * CompleteRows::kBlock) {
  if (!rows_.any()) return;
  const int ndata = set.dimensions();
  points_.resize(to_.size() * ndata);
  for (int i = 0; i < n_; i++)
    if (rows_.usable(i))
      for (int d = 0; d < ndata; d++) points_[rows_.place(i, d)] = rows_.row(i)[d];
}

void Seeding::run(int clusterid[]) {
  std::fill(nearest_.begin(), nearest_.end(), HUGE_VAL);
  std::fill(owner_.begin(), owner_.end(), 0);
  std::fill(centre_.begin(), centre_.end(), 0);
  add(0, std::min(n_ - 1, static_cast<int>(n_ * uniform())));
  for (int j = 1; j < static_cast<int>(centres_.size()); j++) add(j, draw(j));
  for (int j = 0; j < static_cast<int>(centres_.size()); j++) owner_[centres_[j]] = j;
  std::copy(owner_.begin(), owner_.end(), clusterid);
}

// The weight of element i in a draw when its nearest centre is at distance
// d: d (for 'e' the squared Euclidean distance of the paper), its share of
// kcluster's error; 0 for centres and for distances that are not finite.
double Seeding::weight(int i, double d) const {
  return !centre_[i] && d > 0 && std::isfinite(d) ? d : 0.0;
}

// Every element's distance to element c into to_: the complete pairs a
// block of elements at a time, with CompleteRows' operations (a difference
// and its negation square alike), the others by Measure.
void Seeding::measure(int c) {
  const bool blocked = rows_.usable(c);
  if (blocked) {
    const double* const x[] = {rows_.row(c)};
    double* const out[] = {to_.data()};
    rows_.distances(1, x, points_.data(), n_, out);
  }
  for (int i = 0; i < n_; i++)
    if (!blocked || !rows_.usable(i))
      to_[i] =
          measure_(set_.data, set_.data, set_.mask, set_.mask, set_.weight, i, c, set_.transpose);
}

// The sum of the weights were element c a centre too.
double Seeding::potential(int c) {
  measure(c);
  double sum = 0;
  for (int i = 0; i < n_; i++) {
    const double d = i == c ? 0.0 : to_[i];
    sum += weight(i, d < nearest_[i] ? d : nearest_[i]);
  }
  return sum;
}

// The first element at which the running sum of weights passes a uniform
// fraction of their total.
int Seeding::sample(double total) const {
  const double target = uniform() * total;
  double sum = 0;
  int last = -1;
  for (int i = 0; i < n_ && !(sum > target); i++)
    if (weight(i) > 0) sum += weight(last = i);
  return last;
}

// The next centre, the j+1-th: of 2 + ln k elements sampled, the one that
// leaves the smallest sum of weights (the greedy k-means++ that
// scikit-learn also runs; one sample alone often leaves two centres in one
// group). Uniform among the other elements when no weight is positive
// (every element equal to a centre) or their total is not finite.
int Seeding::draw(int j) {
  double total = 0;
  for (int i = 0; i < n_; i++) total += weight(i);
  if (!(total > 0) || !std::isfinite(total)) return UniformOther(n_, j, centre_);
  const int trials = 2 + static_cast<int>(std::log(static_cast<double>(centres_.size())));
  int best = -1;
  double lowest = 0;
  for (int t = 0; t < trials; t++) {
    const int c = sample(total);
    const double left = potential(c);
    if (best < 0 || left < lowest) best = c, lowest = left;
  }
  return best;
}

// Element c becomes centre j; the nearest centres follow.
void Seeding::add(int j, int c) {
  centres_[j] = c;
  centre_[c] = 1;
  measure(c);
  for (int i = 0; i < n_; i++) {
    const double d = to_[i];
    if (d < nearest_[i]) {
      nearest_[i] = d;
      owner_[i] = j;
    }
  }
}

}  // namespace detail

int kmeansplusplus(int nclusters, int nrows, int ncolumns, const double* const* data,
                   const int* const* mask, const double weight[], int transpose, char dist,
                   int clusterid[]) {
  const detail::ElementSet set{nrows, ncolumns, data, mask, weight, transpose};
  if (nrows < 0 || ncolumns < 0 || nclusters < 1 || set.elements() < nclusters || !clusterid)
    return 0;
  if (set.dimensions() > 0 && (!data || !mask || !weight)) return 0;
  const detail::Status status = detail::guarded([&] {
    const detail::CompleteRows rows(set, dist);
    detail::Seeding seeding(set, rows, dist, nclusters);
    seeding.run(clusterid);
    return detail::Status::kOk;
  });
  return status == detail::Status::kOk ? 1 : -1;
}

}  // namespace lopper
