// The thirteen distance measures, their selection by code, and ranking.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "cluster_internal.h"

namespace lopper {
namespace detail {

namespace {

// Calls f(k, x_k, y_k) for each dimension k, ascending, present in both
// elements. False when one of those values is not finite.
template <class F>
bool ForRetained(const ElementPair& p, F f) {
  // x - x is 0 for every finite x and NaN otherwise: no branch per value.
  double poison = 0;
  if (p.transpose == 0) {
    const double* x = p.data1[p.index1];
    const double* y = p.data2[p.index2];
    const int* mx = p.mask1[p.index1];
    const int* my = p.mask2[p.index2];
    for (int k = 0; k < p.n; k++)
      if (mx[k] && my[k]) {
        f(k, x[k], y[k]);
        poison += (x[k] - x[k]) + (y[k] - y[k]);
      }
  } else {
    for (int k = 0; k < p.n; k++)
      if (p.mask1[k][p.index1] && p.mask2[k][p.index2]) {
        const double x = p.data1[k][p.index1], y = p.data2[k][p.index2];
        f(k, x, y);
        poison += (x - x) + (y - y);
      }
  }
  return poison == 0;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Weighted sums of a Pearson correlation, and what they allow: r = cross /
// sqrt(spread1 * spread2) when kDefined.
struct Sums {
  enum Kind { kNotFinite, kNothingToCorrelate, kNoSpread, kDefined } kind;
  double cross, spread1, spread2;
};

// Centred sums: Cxy, Dx and Dy; nothing to correlate when W = 0.
Sums CentredSums(const ElementPair& p) {
  double w = 0, sx = 0, sy = 0, sxy = 0, sxx = 0, syy = 0;
  const bool finite = ForRetained(p, [&](int k, double x, double y) {
    const double wk = p.weight[k];
    w += wk;
    sx += wk * x;
    sy += wk * y;
    sxy += wk * x * y;
    sxx += wk * x * x;
    syy += wk * y * y;
  });
  if (!finite) return {Sums::kNotFinite, 0, 0, 0};
  if (w == 0) return {Sums::kNothingToCorrelate, 0, 0, 0};
  const double cxy = sxy - sx * sy / w;
  const double dx = sxx - sx * sx / w;
  const double dy = syy - sy * sy / w;
  // Written so that a spread lost to overflow (NaN) also counts as none.
  if (!(dx > 0) || !(dy > 0)) return {Sums::kNoSpread, 0, 0, 0};
  return {Sums::kDefined, cxy, dx, dy};
}

// Uncentred sums: Sxy, Sxx and Syy; nothing to correlate when no dimension
// is retained.
Sums UncentredSums(const ElementPair& p) {
  double sxy = 0, sxx = 0, syy = 0;
  bool any = false;
  const bool finite = ForRetained(p, [&](int k, double x, double y) {
    const double wk = p.weight[k];
    sxy += wk * x * y;
    sxx += wk * x * x;
    syy += wk * y * y;
    any = true;
  });
  if (!finite) return {Sums::kNotFinite, 0, 0, 0};
  if (!any) return {Sums::kNothingToCorrelate, 0, 0, 0};
  if (!(sxx > 0) || !(syy > 0)) return {Sums::kNoSpread, 0, 0, 0};
  return {Sums::kDefined, sxy, sxx, syy};
}

// 1 - r, or 1 - |r| when absolute, for the sums of SumsOf: 0 with nothing
// to correlate, 1 without spread, and 1 for an r lost to overflow (NaN).
// Rounding can put r just above 1; the distance is then 0, not negative.
template <Sums (*SumsOf)(const ElementPair&), bool absolute>
double CorrelationDistance(const ElementPair& p) {
  const Sums s = SumsOf(p);
  switch (s.kind) {
    case Sums::kNotFinite:
      return kNaN;
    case Sums::kNothingToCorrelate:
      return 0;
    case Sums::kNoSpread:
      return 1;
    case Sums::kDefined:
      break;
  }
  const double cross = absolute ? std::fabs(s.cross) : s.cross;
  const double r = cross / std::sqrt(s.spread1 * s.spread2);
  return std::isnan(r) ? 1.0 : notbelowzero(1 - r);
}

// The sum of all n weights, added in the order the measures add the
// weights present, so that with nothing missing the two are equal.
double TotalWeight(const ElementPair& p) {
  double total = 0;
  for (int k = 0; k < p.n; k++) total += p.weight[k];
  return total;
}

// The weighted sum of (x - y)^2, or of |x - y| when kAbsolute, over the
// retained dimensions, finished as kFinish says ('e', 'b': the weighted
// mean; 'Q', 'B', 'E': R's dist() scaling, and its root for 'E').
template <bool kAbsolute, Finish kFinish>
double Differenced(const ElementPair& p) {
  double sum = 0, w = 0;
  const bool finite = ForRetained(p, [&](int k, double x, double y) {
    const double d = x - y;
    sum += p.weight[k] * (kAbsolute ? std::fabs(d) : d * d);
    w += p.weight[k];
  });
  if (!finite) return kNaN;
  return finished(kFinish, sum, w, kFinish == Finish::kMean ? w : TotalWeight(p));
}

// The largest |x - y| over the retained dimensions of positive weight:
// weights only select dimensions, as SciPy's chebyshev takes them, and
// nothing is scaled, as in R's maximum.
double Maximum(const ElementPair& p) {
  double most = 0;
  const bool finite = ForRetained(p, [&](int k, double x, double y) {
    if (p.weight[k] > 0) most = std::max(most, std::fabs(x - y));
  });
  return finite ? most : kNaN;
}

// Canberra as R's dist() documents it since 2017 (Lance and Williams 1966):
// sum w |x - y| / (|x| + |y|), a term 0/0 (x = y = 0) left out as if
// missing, the sum scaled as the other sums are. A term is at most 1: one
// whose parts overflow (inf / inf) is taken again from the halves, which
// leave every other term's rounding as it is.
double Canberra(const ElementPair& p) {
  double sum = 0, w = 0;
  const bool finite = ForRetained(p, [&](int k, double x, double y) {
    if (x == 0 && y == 0) return;
    double term = std::fabs(x - y) / (std::fabs(x) + std::fabs(y));
    if (std::isnan(term)) term = std::fabs(x / 2 - y / 2) / (std::fabs(x / 2) + std::fabs(y / 2));
    sum += p.weight[k] * term;
    w += p.weight[k];
  });
  return finite ? scaledsum(sum, w, TotalWeight(p)) : kNaN;
}

// 1 - the Pearson correlation of the ranks; weights take no part. Throws
// std::bad_alloc when its scratch cannot be had.
double Spearman(const ElementPair& p) { return RankScratch(p.n).spearman(p); }

// 1 - Kendall's tau-b over all pairs of retained dimensions; weights take no
// part. Each retained dimension is compared with the retained ones before
// it.
double Kendall(const ElementPair& p) {
  long long con = 0, dis = 0, exx = 0, exy = 0;
  bool paired = false;
  const bool finite = ForRetained(p, [&](int i, double x1, double y1) {
    ElementPair before = p;
    before.n = i;
    // The outer pass alone judges finiteness.
    static_cast<void>(ForRetained(before, [&](int, double x2, double y2) {
      paired = true;
      if ((x1 < x2 && y1 < y2) || (x1 > x2 && y1 > y2))
        con++;
      else if ((x1 < x2 && y1 > y2) || (x1 > x2 && y1 < y2))
        dis++;
      else if (x1 == x2 && y1 != y2)
        exx++;
      else if (x1 != x2 && y1 == y2)
        exy++;
    }));
  });
  if (!finite) return kNaN;
  if (!paired) return 0;
  const double denomx = static_cast<double>(con + dis + exx);
  const double denomy = static_cast<double>(con + dis + exy);
  if (denomx == 0 || denomy == 0) return 1;
  const double tau = static_cast<double>(con - dis) / std::sqrt(denomx * denomy);
  return 1 - tau;
}

// A measure of the pair in the common signature of the thirteen.
template <double (*Of)(const ElementPair&)>
double InCommonSignature(int n, const double* const* data1, const double* const* data2,
                         const int* const* mask1, const int* const* mask2, const double weight[],
                         int index1, int index2, int transpose) {
  return Of({n, data1, data2, mask1, mask2, weight, index1, index2, transpose});
}

}  // namespace

const Metric euclid = InCommonSignature<Differenced<false, Finish::kMean>>;
const Metric cityblock = InCommonSignature<Differenced<true, Finish::kMean>>;
const Metric correlation = InCommonSignature<CorrelationDistance<CentredSums, false>>;
const Metric acorrelation = InCommonSignature<CorrelationDistance<CentredSums, true>>;
const Metric ucorrelation = InCommonSignature<CorrelationDistance<UncentredSums, false>>;
const Metric uacorrelation = InCommonSignature<CorrelationDistance<UncentredSums, true>>;
const Metric spearman = InCommonSignature<Spearman>;
const Metric kendall = InCommonSignature<Kendall>;
const Metric rootsquares = InCommonSignature<Differenced<false, Finish::kRoot>>;
const Metric sumsquares = InCommonSignature<Differenced<false, Finish::kScaled>>;
const Metric sumabsolute = InCommonSignature<Differenced<true, Finish::kScaled>>;
const Metric maximum = InCommonSignature<Maximum>;
const Metric canberra = InCommonSignature<Canberra>;

Metric setmetric(char dist) {
  switch (dist) {
    case 'b':
      return cityblock;
    case 'c':
      return correlation;
    case 'a':
      return acorrelation;
    case 'u':
      return ucorrelation;
    case 'x':
      return uacorrelation;
    case 's':
      return spearman;
    case 'k':
      return kendall;
    case 'E':
      return rootsquares;
    case 'Q':
      return sumsquares;
    case 'B':
      return sumabsolute;
    case 'M':
      return maximum;
    case 'C':
      return canberra;
    default:
      return euclid;
  }
}

bool meandifferences(char dist) { return setmetric(dist) == euclid || dist == 'b'; }

bool differencesof(char dist, Differences* how) {
  switch (dist) {
    case 'E':
      *how = {false, Finish::kRoot};
      return true;
    case 'Q':
      *how = {false, Finish::kScaled};
      return true;
    case 'B':
      *how = {true, Finish::kScaled};
      return true;
    default:
      *how = {dist == 'b', Finish::kMean};
      return meandifferences(dist);
  }
}

double notbelowzero(double d) { return d < 0 ? 0.0 : d; }

// Equal values keep index order, as a stable sort would leave them, without
// the stable sort's allocation.
void rankinto(int n, const double values[], int index[], double rank[]) {
  std::iota(index, index + n, 0);
  std::sort(index, index + n, [values](int a, int b) {
    const int c = compare(values, a, b);
    return c < 0 || (c == 0 && a < b);
  });
  for (int i = 0; i < n;) {
    int m = 1;
    while (i + m < n && values[index[i + m]] == values[index[i]]) m++;
    const double shared = i + 0.5 * (m - 1);
    for (int k = i; k < i + m; k++) rank[index[k]] = shared;
    i += m;
  }
}

RankScratch::RankScratch(int ndata)
    : x_(ndata), y_(ndata), rank1_(ndata), rank2_(ndata), index_(ndata) {}

// A vector whose retained values are all equal has no rank spread: distance
// 1, as for a constant vector under `correlation`.
double RankScratch::spearman(const ElementPair& pair) {
  int m = 0;
  const bool finite = ForRetained(pair, [&](int, double xk, double yk) {
    x_[m] = xk;
    y_[m] = yk;
    m++;
  });
  if (!finite) return kNaN;
  if (m == 0) return 0;
  rankinto(m, x_.data(), index_.data(), rank1_.data());
  rankinto(m, y_.data(), index_.data(), rank2_.data());
  const double avgrank = 0.5 * (m - 1);
  double r = 0, d1 = 0, d2 = 0;
  for (int k = 0; k < m; k++) {
    r += rank1_[k] * rank2_[k];
    d1 += rank1_[k] * rank1_[k];
    d2 += rank2_[k] * rank2_[k];
  }
  r = r / m - avgrank * avgrank;
  d1 = d1 / m - avgrank * avgrank;
  d2 = d2 / m - avgrank * avgrank;
  if (d1 <= 0 || d2 <= 0) return 1;
  return notbelowzero(1 - r / std::sqrt(d1 * d2));
}

Measure::Measure(char dist, int ndata) : ndata_(ndata), metric_(setmetric(dist)) {
  if (dist == 's') ranks_.emplace(ndata);
}

double Measure::operator()(const double* const* data1, const double* const* data2,
                           const int* const* mask1, const int* const* mask2, const double weight[],
                           int index1, int index2, int transpose) {
  if (ranks_)
    return ranks_->spearman(
        {ndata_, data1, data2, mask1, mask2, weight, index1, index2, transpose});
  return metric_(ndata_, data1, data2, mask1, mask2, weight, index1, index2, transpose);
}

bool finitedata(int nrows, int ncolumns, const double* const* data, const int* const* mask) {
  if (nrows > 0 && ncolumns > 0 && (!data || !mask)) return false;
  for (int i = 0; i < nrows; i++)
    for (int k = 0; k < ncolumns; k++)
      if (mask[i][k] && !std::isfinite(data[i][k])) return false;
  return true;
}

}  // namespace detail
}  // namespace lopper
