// Measures between the elements of one data matrix, for the routines that
// measure every pair of it: what a pair of complete elements needs is
// computed once per element, so that such a pair costs one pass over two
// contiguous rows instead of a masked pass that ranks or sums both again.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "cluster_internal.h"

namespace lopper {
namespace detail {

namespace {

// Ranks are multiples of 1/2, so every partial sum of their products is a
// multiple of 1/4 below ndata^3: exact, whatever the order of the sums,
// while ndata^3 < 2^51. Beyond it ranks take Measure.
constexpr int kMostExactRanks = 100000;

// The sign table of 'k' holds ndata (ndata - 1) / 2 bytes per element; a
// larger one is not worth its memory.
constexpr double kMostSignBytes = 64.0 * 1024 * 1024;

// Sums of squares within which the one-pass sums Measure forms for the
// correlations neither overflow nor underflow in its products, so that it
// gives a defined r; elements outside take Measure.
constexpr double kLargestSquares = 1e150, kSmallestSpread = 1e-150;

// Four interleaved partial sums: the additions of one pair need not wait
// for each other.
double Dot(int n, const double x[], const double y[]) {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    s0 += x[k] * y[k];
    s1 += x[k + 1] * y[k + 1];
    s2 += x[k + 2] * y[k + 2];
    s3 += x[k + 3] * y[k + 3];
  }
  for (; k < n; k++) s0 += x[k] * y[k];
  return (s0 + s1) + (s2 + s3);
}

bool UnitWeights(int n, const double weight[]) {
  return std::all_of(weight, weight + n, [](double w) { return w == 1.0; });
}

// The correlations' identities below hold for any weights, but the ranges
// that keep Measure's sums defined are judged for weights that are >= 0.
bool UsableWeights(int n, const double weight[]) {
  return std::all_of(weight, weight + n, [](double w) { return w >= 0 && std::isfinite(w); });
}

PairMeasure::Path PathFor(char dist, const ElementSet& set) {
  using Path = PairMeasure::Path;
  const int ndata = set.dimensions();
  if (ndata < 1) return Path::kMeasure;
  switch (dist) {
    case 's':
      return ndata <= kMostExactRanks ? Path::kRanks : Path::kMeasure;
    case 'k':
      return ndata >= 2 && 0.5 * ndata * (ndata - 1.0) * set.elements() <= kMostSignBytes
                 ? Path::kSigns
                 : Path::kMeasure;
    case 'c':
    case 'a':
      return UsableWeights(ndata, set.weight) ? Path::kCentred : Path::kMeasure;
    case 'u':
    case 'x':
      return UsableWeights(ndata, set.weight) ? Path::kUncentred : Path::kMeasure;
    default:  // 'e', 'b' and the codes read as 'e'
      return UnitWeights(ndata, set.weight) ? Path::kDifferences : Path::kMeasure;
  }
}

// Element i's values into row, 0 where missing, and 1 or 0 into present
// as each is present or missing; whether none is missing, and whether every
// present one is finite.
struct Gathered {
  bool complete, finite;
};
Gathered Gather(const ElementSet& set, int i, double row[], double present[]) {
  Gathered g{true, true};
  for (int k = 0; k < set.dimensions(); k++) {
    const bool here = set.transpose ? set.mask[k][i] : set.mask[i][k];
    row[k] = here ? (set.transpose ? set.data[k][i] : set.data[i][k]) : 0.0;
    present[k] = here ? 1.0 : 0.0;
    g.complete = g.complete && here;
    g.finite = g.finite && std::isfinite(row[k]);
  }
  return g;
}

// x scaled to unit weighted norm, and w times it into wx, with Dot(wx, x),
// the r of the element with itself, at least 1: rounding may leave it a
// few units in the last place below, which as many steps of one unit make
// up (each step raises every |x[k]|). False if it will not reach 1 (not
// seen; the element then keeps Measure).
bool Normalise(int n, const double w[], double x[], double wx[]) {
  double norm = 0;
  for (int k = 0; k < n; k++) norm += w[k] * x[k] * x[k];
  const double scale = 1 / std::sqrt(norm);
  for (int k = 0; k < n; k++) x[k] *= scale;
  for (int step = 0; step < 64; step++) {
    for (int k = 0; k < n; k++) wx[k] = w[k] * x[k];
    if (Dot(n, wx, x) >= 1) return true;
    for (int k = 0; k < n; k++) x[k] *= 1 + std::numeric_limits<double>::epsilon();
  }
  return false;
}

}  // namespace

PairMeasure::PairMeasure(const ElementSet& set, char dist)
    : set_(set), ndata_(set.dimensions()), path_(PathFor(dist, set)), dist_(dist) {
  if (path_ == Path::kMeasure) return;
  const int n = set.elements();
  const std::size_t cells = static_cast<std::size_t>(n) * ndata_;
  usable_.resize(n);
  complete_.resize(n);
  values_.resize(cells);
  present_.resize(cells);
  for (int i = 0; i < n; i++) {
    const std::size_t at = static_cast<std::size_t>(i) * ndata_;
    const Gathered g = Gather(set, i, &values_[at], &present_[at]);
    complete_[i] = g.complete && g.finite;
    // Only differences read missing values (as absent); the others need
    // every value.
    usable_[i] = path_ == Path::kDifferences ? g.finite : complete_[i];
  }
  if (path_ != Path::kDifferences) present_ = std::vector<double>();
  switch (path_) {
    case Path::kRanks:
      prepare_ranks();
      break;
    case Path::kSigns:
      prepare_signs();
      break;
    case Path::kCentred:
    case Path::kUncentred:
      prepare_correlation();
      break;
    default:
      break;
  }
}

// Ranks in place of the values, and their variance as Measure forms it.
void PairMeasure::prepare_ranks() {
  std::vector<int> index(ndata_);
  std::vector<double> rank(ndata_);
  spread_.resize(usable_.size());
  const double avgrank = 0.5 * (ndata_ - 1);
  for (std::size_t i = 0; i < usable_.size(); i++) {
    if (!usable_[i]) continue;
    double* x = &values_[i * ndata_];
    rankinto(ndata_, x, index.data(), rank.data());
    double d = 0;
    for (int k = 0; k < ndata_; k++) d += rank[k] * rank[k];
    spread_[i] = d / ndata_ - avgrank * avgrank;
    std::copy(rank.begin(), rank.end(), x);
  }
}

// sign(x[a] - x[b]) for b < a, in the order Kendall's measure pairs them.
// A pair of dimensions is concordant or discordant exactly when its two
// signs multiply to +1 or -1, and the rest of tau-b's terms add up to the
// number of pairs untied in each element, so a pair of elements needs only
// the sum of products of their signs.
void PairMeasure::prepare_signs() {
  const std::size_t width = static_cast<std::size_t>(ndata_) * (ndata_ - 1) / 2;
  signs_.resize(usable_.size() * width);
  untied_.resize(usable_.size());
  for (std::size_t i = 0; i < usable_.size(); i++) {
    if (!usable_[i]) continue;
    const double* x = row(static_cast<int>(i));
    signed char* s = &signs_[i * width];
    int untied = 0;
    for (int a = 0; a < ndata_; a++)
      for (int b = 0; b < a; b++) {
        const int sign = (x[a] > x[b]) - (x[a] < x[b]);
        *s++ = static_cast<signed char>(sign);
        untied += sign != 0;
      }
    untied_[i] = untied;
  }
}

// Per element, r's factors: the (centred) values over the square root of
// their weighted sum of squares, in values_, and those times the weights,
// in weighted_. Their dot product, 1 but for rounding, is made at least 1
// by Normalise, so that r is at least 1 for identical elements (and at most
// -1 for negated ones) and their distance 0, as Measure's is. An element
// keeps Measure when Measure's own sums, formed as it forms them, would not
// give a defined r, and when its weighted values are all equal: Measure's
// spread of such an element is rounding noise.
void PairMeasure::prepare_correlation() {
  const double* w = set_.weight;
  weighted_.resize(values_.size());
  for (std::size_t i = 0; i < usable_.size(); i++) {
    if (!usable_[i]) continue;
    double* x = &values_[i * ndata_];
    double sw = 0, sx = 0, sxx = 0;
    bool varies = false;
    for (int k = 0; k < ndata_; k++) {
      sw += w[k];
      sx += w[k] * x[k];
      sxx += w[k] * x[k] * x[k];
      varies = varies || (w[k] > 0 && x[k] != x[0]);
    }
    const bool centred = path_ == Path::kCentred;
    const double spread = centred ? sxx - sx * sx / sw : sxx;
    usable_[i] =
        sw > 0 && (varies || !centred) && sxx <= kLargestSquares && spread >= kSmallestSpread;
    if (!usable_[i]) continue;
    const double mean = centred ? sx / sw : 0;
    for (int k = 0; k < ndata_; k++) x[k] -= mean;
    usable_[i] = Normalise(ndata_, w, x, &weighted_[i * ndata_]);
  }
}

// Measure's values for 'e', 'b' (1 * x is x, and unit weights add up to
// ndata exactly) and 's' (exact sums), by the same operations; one product
// per dimension for 'k' and the correlations.
double PairMeasure::differences(int i, int j) const {
  const double* x = row(i);
  const double* y = row(j);
  double sum = 0;
  if (dist_ == 'b')
    for (int k = 0; k < ndata_; k++) sum += std::fabs(x[k] - y[k]);
  else
    for (int k = 0; k < ndata_; k++) sum += (x[k] - y[k]) * (x[k] - y[k]);
  return sum / ndata_;
}

// The same over the dimensions present in both, as Measure sums them: a
// missing term adds an exact 0, and the count of the rest is their unit
// weights' sum.
// differences for elements j ... j+3, all complete and usable: four sums at
// once, each in its own order, so that their additions need not wait for
// one another.
template <class Term>
void PairMeasure::differences4(int i, int j, double out[], Term term) const {
  const double* x = row(i);
  const double* y = row(j);
  const std::size_t n = ndata_;
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  for (std::size_t k = 0; k < n; k++) {
    s0 += term(x[k] - y[k]);
    s1 += term(x[k] - y[n + k]);
    s2 += term(x[k] - y[2 * n + k]);
    s3 += term(x[k] - y[3 * n + k]);
  }
  out[j] = s0 / ndata_;
  out[j + 1] = s1 / ndata_;
  out[j + 2] = s2 / ndata_;
  out[j + 3] = s3 / ndata_;
}

// The row of a complete element under 'e' or 'b': runs of four complete
// elements together, the others one by one.
void PairMeasure::complete_row(int i, int first, int last, double out[], Measure& fallback) const {
  const auto square = [](double d) { return d * d; };
  const auto absolute = [](double d) { return std::fabs(d); };
  const unsigned char* complete = complete_.data();
  int j = first;
  while (j < last) {
    if (j + 4 <= last && complete[j] && complete[j + 1] && complete[j + 2] && complete[j + 3]) {
      if (dist_ == 'b')
        differences4(i, j, out, absolute);
      else
        differences4(i, j, out, square);
      j += 4;
      continue;
    }
    out[j] = complete[j]  ? differences(i, j)
             : usable_[j] ? masked_differences(i, j)
                          : measured(i, j, fallback);
    j++;
  }
}

double PairMeasure::masked_differences(int i, int j) const {
  const double* x = row(i);
  const double* y = row(j);
  const double* px = &present_[static_cast<std::size_t>(i) * ndata_];
  const double* py = &present_[static_cast<std::size_t>(j) * ndata_];
  double sum = 0, count = 0;
  for (int k = 0; k < ndata_; k++) {
    const double both = px[k] * py[k];
    const double d = x[k] - y[k];
    sum += both != 0 ? (dist_ == 'b' ? std::fabs(d) : d * d) : 0.0;
    count += both;
  }
  if (count == 0) return 0;
  const double mean = sum / count;
  return std::isnan(mean) ? HUGE_VAL : mean;
}

double PairMeasure::ranks(int i, int j) const {
  const double avgrank = 0.5 * (ndata_ - 1);
  const double r = Dot(ndata_, row(i), row(j)) / ndata_ - avgrank * avgrank;
  if (spread_[i] <= 0 || spread_[j] <= 0) return 1;
  return notbelowzero(1 - r / std::sqrt(spread_[i] * spread_[j]));
}

double PairMeasure::signs(int i, int j) const {
  const std::size_t width = static_cast<std::size_t>(ndata_) * (ndata_ - 1) / 2;
  const signed char* sx = &signs_[i * width];
  const signed char* sy = &signs_[j * width];
  int concordance = 0;
  for (std::size_t p = 0; p < width; p++) concordance += sx[p] * sy[p];
  if (untied_[i] == 0 || untied_[j] == 0) return 1;
  const double untied = static_cast<double>(untied_[j]) * static_cast<double>(untied_[i]);
  return 1 - concordance / std::sqrt(untied);
}

double PairMeasure::correlation(int i, int j) const {
  const double r = Dot(ndata_, &weighted_[static_cast<std::size_t>(i) * ndata_], row(j));
  return notbelowzero(1 - (dist_ == 'a' || dist_ == 'x' ? std::fabs(r) : r));
}

// One pass over the row per path, so that the choice of path is made once
// per row and the usable pairs' arithmetic is inlined.
template <class Usable>
void PairMeasure::row_by(int i, int first, int last, double out[], Measure& fallback,
                         Usable usable) const {
  for (int j = first; j < last; j++) out[j] = usable_[j] ? usable(j) : measured(i, j, fallback);
}

void PairMeasure::distances(int i, int first, int last, double out[], Measure& fallback) const {
  if (path_ == Path::kMeasure || !usable_[i]) {
    for (int j = first; j < last; j++) out[j] = measured(i, j, fallback);
    return;
  }
  switch (path_) {
    case Path::kDifferences:
      if (complete_[i]) return complete_row(i, first, last, out, fallback);
      return row_by(i, first, last, out, fallback, [&](int j) { return masked_differences(i, j); });
    case Path::kRanks:
      return row_by(i, first, last, out, fallback, [&](int j) { return ranks(i, j); });
    case Path::kSigns:
      return row_by(i, first, last, out, fallback, [&](int j) { return signs(i, j); });
    default:
      return row_by(i, first, last, out, fallback, [&](int j) { return correlation(i, j); });
  }
}

}  // namespace detail
}  // namespace lopper
