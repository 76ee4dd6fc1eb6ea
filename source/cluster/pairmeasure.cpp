// Measures between the elements of one data matrix, for the routines that
// measure every pair of it: what a pair of complete elements needs is
// computed once per element, so that such a pair costs one pass over two
// contiguous rows instead of a masked pass that ranks or sums both again.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#ifdef __SSE2__
#include <immintrin.h>
#endif
#include <limits>
#include <type_traits>
#include <vector>

#include "cluster_internal.h"
#include "lanes.h"

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
    default: {
      Differences how;
      return differencesof(dist, &how) && unitweights(ndata, set.weight) ? Path::kDifferences
                                                                         : Path::kMeasure;
    }
  }
}

// Element i's values into row, NaN where missing (only differences read
// missing values, and a NaN difference tells them it has one); whether
// none is missing, and whether every present one is finite.
struct Gathered {
  bool complete, finite;
};
Gathered Gather(const ElementSet& set, int i, double row[]) {
  Gathered g{true, true};
  for (int k = 0; k < set.dimensions(); k++) {
    const bool here = set.transpose ? set.mask[k][i] : set.mask[i][k];
    const double value = set.transpose ? set.data[k][i] : set.data[i][k];
    row[k] = here ? value : std::numeric_limits<double>::quiet_NaN();
    g.complete = g.complete && here;
    g.finite = g.finite && (!here || std::isfinite(value));
  }
  return g;
}

// sum of x[k] * y[k] over ascending k, as the correlations' blocks form it.
double InOrder(int n, const double x[], const double y[]) {
  double s = 0;
  for (int k = 0; k < n; k++) s += x[k] * y[k];
  return s;
}

// x scaled to unit weighted norm, and w times it into wx, with InOrder(wx,
// x), the r of the element with itself, at least 1: rounding may leave it a
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
    if (InOrder(n, wx, x) >= 1) return true;
    for (int k = 0; k < n; k++) x[k] *= 1 + std::numeric_limits<double>::epsilon();
  }
  return false;
}

// n rows of ndata values rearranged in blocks of PairMeasure::kLanes rows
// (the last padded with zeros): a block holds its rows' first values side
// by side, then their second values, and so on.
template <class T>
std::vector<T> Interleaved(const std::vector<T>& rows, int n, int ndata) {
  const std::size_t lanes = PairMeasure::kLanes, width = ndata;
  const std::size_t blocks = (static_cast<std::size_t>(n) + lanes - 1) / lanes;
  std::vector<T> out(blocks * lanes * width, T{});
  for (std::size_t i = 0; i < static_cast<std::size_t>(n); i++)
    for (std::size_t k = 0; k < width; k++)
      out[(i / lanes) * lanes * width + k * lanes + i % lanes] = rows[i * width + k];
  return out;
}

// The values of set's dimensions k with column[k] >= 0 into place
// column[k] of each element's row of `width` in rows, 0 where missing, and
// their presence into present; finite[i] cleared when a value of element i
// present in any dimension is not finite. Reads the data in its own
// orientation.
void GatherWeighed(const ElementSet& set, const int column[], int width, double rows[],
                   unsigned char present[], unsigned char finite[]) {
  auto take = [&](int i, int k, int here, double value) {
    if (here && !std::isfinite(value)) finite[i] = 0;
    const int a = column[k];
    if (a < 0 || !here) return;
    present[static_cast<std::size_t>(i) * width + a] = 1;
    rows[static_cast<std::size_t>(i) * width + a] = value;
  };
  if (set.transpose) {
    for (int k = 0; k < set.nrows; k++)
      for (int i = 0; i < set.ncolumns; i++) take(i, k, set.mask[k][i], set.data[k][i]);
  } else {
    for (int i = 0; i < set.nrows; i++)
      for (int k = 0; k < set.ncolumns; k++) take(i, k, set.mask[i][k], set.data[i][k]);
  }
}

}  // namespace

PairMeasure::PairMeasure(const ElementSet& set, char dist)
    : set_(set), ndata_(set.dimensions()), width_(ndata_), path_(PathFor(dist, set)), dist_(dist) {
  if (path_ == Path::kMeasure) return;
  if (path_ == Path::kCentred || path_ == Path::kUncentred) {
    prepare_correlation();
    return;
  }
  const int n = set.elements();
  const std::size_t cells = static_cast<std::size_t>(n) * ndata_;
  usable_.resize(n);
  complete_.resize(n);
  values_.resize(cells);
  for (int i = 0; i < n; i++) {
    const std::size_t at = static_cast<std::size_t>(i) * ndata_;
    const Gathered g = Gather(set, i, &values_[at]);
    // Only differences read missing values (as absent); the others need
    // every value.
    usable_[i] = g.finite && (g.complete || path_ == Path::kDifferences);
    complete_[i] = g.finite && g.complete;
  }
  if (path_ == Path::kDifferences) {
    words_ = (ndata_ + 63) / 64;
    presence_.assign(static_cast<std::size_t>(n) * words_, 0);
    for (std::size_t c = 0; c < cells; c++)
      if (values_[c] == values_[c])
        presence_[c / ndata_ * words_ + c % ndata_ / 64] |= std::uint64_t{1} << (c % ndata_ % 64);
    values_ = Interleaved(values_, n, ndata_);
    complete_block_.assign((n + kLanes - 1) / kLanes, 1);
    for (int i = 0; i < n; i++) complete_block_[i / kLanes] &= complete_[i];
  }
  switch (path_) {
    case Path::kRanks:
      prepare_ranks();
      break;
    case Path::kSigns:
      prepare_signs();
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

// Per element, r's factors over the dimensions of positive weight (the
// others add nothing to any of Measure's sums), in blocks in values_: the
// (centred) values over the square root of their weighted sum of squares, 0
// where missing; those times the weights in weighted_, the element's
// moments and its gaps. Only the few values this keeps are stored: a
// matrix's worth of fresh memory would cost more in page faults than the
// pairs cost.
void PairMeasure::prepare_correlation() {
  const int n = set_.elements();
  std::vector<int> column(ndata_, -1);  // per dimension, its place among those weighed
  for (int k = 0; k < ndata_; k++)
    if (set_.weight[k] > 0) {
      column[k] = static_cast<int>(weight_.size());
      weight_.push_back(set_.weight[k]);
    }
  width_ = static_cast<int>(weight_.size());
  const std::size_t cells = static_cast<std::size_t>(n) * width_;
  std::vector<unsigned char> finite(n, 1);
  present_.assign(cells, 0);
  weighted_.assign(cells, 0.0);  // first the values themselves
  GatherWeighed(set_, column.data(), width_, weighted_.data(), present_.data(), finite.data());
  usable_.assign(n, 0);
  complete_.assign(n, 0);
  values_.assign(static_cast<std::size_t>((n + kLanes - 1) / kLanes) * kLanes * width_, 0.0);
  totals_.assign(n, Moments{0, 0, 0, 0});
  gaps_start_.assign(n + 1, 0);
  std::vector<double> x(width_);
  for (int i = 0; i < n; i++) {
    const std::size_t at = static_cast<std::size_t>(i) * width_;
    for (int a = 0; a < width_; a++)
      if (!present_[at + a]) gaps_.push_back(a);
    gaps_start_[i + 1] = static_cast<int>(gaps_.size());
    if (!finite[i]) continue;
    std::copy(&weighted_[at], &weighted_[at] + width_, x.begin());
    usable_[i] = scale_correlation(i, x.data(), &weighted_[at]);
    for (int a = 0; a < width_; a++) values_[lane(i) + static_cast<std::size_t>(a) * kLanes] = x[a];
    complete_[i] = usable_[i] && gaps_start_[i + 1] == gaps_start_[i];
  }
}

// Element i's values x, 0 where missing, centred for 'c' and 'a' and
// scaled, with w times them into wx and its moments into totals_; false
// when the element is to keep Measure: when Measure's own sums, formed as
// it forms them, would not give a defined r, and when its weighted values
// are all equal (Measure's spread of such an element is rounding noise).
// A complete element's dot product with itself is made at least 1 by
// Normalise, so that r is at least 1 for identical complete elements (and
// at most -1 for negated ones) and their distance 0, as Measure's is.
bool PairMeasure::scale_correlation(int i, double x[], double wx[]) {
  const double* w = weight_.data();
  const unsigned char* here = &present_[static_cast<std::size_t>(i) * width_];
  double sw = 0, sx = 0, sxx = 0;
  int count = 0;
  bool varies = false;
  double first = 0;
  for (int a = 0; a < width_; a++) {
    if (!here[a]) continue;
    sw += w[a];
    sx += w[a] * x[a];
    sxx += w[a] * x[a] * x[a];
    if (count++ == 0) first = x[a];
    varies = varies || x[a] != first;
  }
  const bool centred = path_ == Path::kCentred;
  const double spread = centred ? sxx - sx * sx / sw : sxx;
  if (!(sw > 0 && (varies || !centred) && sxx <= kLargestSquares && spread >= kSmallestSpread))
    return false;
  const double mean = centred ? sx / sw : 0;
  for (int a = 0; a < width_; a++)
    if (here[a]) x[a] -= mean;
  if (count == width_) {
    if (!Normalise(width_, w, x, wx)) return false;
  } else {
    double norm = 0;
    for (int a = 0; a < width_; a++) norm += w[a] * x[a] * x[a];
    const double scale = 1 / std::sqrt(norm);
    for (int a = 0; a < width_; a++) x[a] *= scale;
    for (int a = 0; a < width_; a++) wx[a] = w[a] * x[a];
  }
  // The sum of squares as the kernels sum sxy, so that sxy = sxx when x = y.
  Moments& total = totals_[i];
  total = {sw, 0, 0, count};
  for (int a = 0; a < width_; a++) {
    total.x += wx[a];
    total.xx += wx[a] * x[a];
  }
  return true;
}

namespace {

constexpr std::ptrdiff_t kLanes = PairMeasure::kLanes;

// x where `both` has every bit set, an exact +0 where it has none: a mask,
// not a branch, which random gaps would make unpredictable (and 0 times an
// overflowed term would be NaN).
double Kept(double x, std::uint64_t both) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  bits &= both;
  double kept;
  std::memcpy(&kept, &bits, sizeof kept);
  return kept;
}

// The distance from x to y, which step kLanes per dimension (see
// Interleaved), summed over ascending dimensions as Measure sums it: 1 * t
// is t, and the unit weights add up to `count`, and all of them to ndata,
// whole numbers, exactly. A difference that is NaN has a missing value in
// it.
template <bool kCityblock, Finish kFinish>
double DifferencesOne(int ndata, const double x[], const double y[]) {
  double sum = 0, count = 0;
  for (std::ptrdiff_t k = 0; k < ndata * kLanes; k += kLanes) {
    double term = x[k] - y[k];
    const std::uint64_t both = term == term ? ~std::uint64_t{0} : 0;
    DifferenceTerm<kCityblock>(term);
    sum += Kept(term, both);
    count += Kept(1.0, both);
  }
  return finished(kFinish, sum, count, ndata);
}

template <class V>
constexpr std::ptrdiff_t kPerBlock = kLanes / kWidth<V>;

// Blocks a kernel takes at a time: as many sums as registers hold.
template <class V>
constexpr int kMostBlocks = sizeof(V) == sizeof(Quad) ? 4 : 2;

// Where register t of kernels over blocks starts, k dimensions in.
template <class V>
std::ptrdiff_t At(std::ptrdiff_t t, std::ptrdiff_t k, std::ptrdiff_t stride) {
  return (t / kPerBlock<V>)*stride + k * kLanes + kWidth<V> * (t % kPerBlock<V>);
}

// t made its square root, lane by lane, correctly rounded as std::sqrt
// (the vector extension has no root of its own).
#ifdef __SSE2__
inline void Root(Twin& t) { t = (Twin)_mm_sqrt_pd((__m128d)t); }
#else
inline void Root(Twin& t) {
  for (int l = 0; l < kWidth<Twin>; l++) t[l] = std::sqrt(t[l]);
}
#endif
#ifdef LOPPER_AVX2
LOPPER_AVX2 inline void Root(Quad& t) { t = (Quad)_mm256_sqrt_pd((__m256d)t); }
#endif

// finished(kFinish, sum, count, total) of each lane into out, a register
// at a time, by the same IEEE operations.
template <Finish kFinish, class V>
void Finished(const V& sum, const V& count, double total, double out[]) {
  const V value = kFinish == Finish::kMean ? sum / count : sum / (count / (V{} + total));
  V kept = value != value ? V{} + HUGE_VAL : value;
  kept = count == 0 ? V{} : kept;
  if (kFinish == Finish::kRoot) Root(kept);
  Store(out, kept);
}

// t with its NaN lanes +0, the others as they are: max gives its second
// operand where the first is NaN, and t's lanes are never below +0 (they
// are squares or magnitudes).
#ifdef __SSE2__
inline void DropNaN(Twin& t) { t = (Twin)_mm_max_pd((__m128d)t, __m128d{}); }
#else
inline void DropNaN(Twin& t) { t = (Twin)((Bits<Twin>)t & (t == t)); }
#endif
#ifdef LOPPER_AVX2
LOPPER_AVX2 inline void DropNaN(Quad& t) { t = (Quad)_mm256_max_pd((__m256d)t, __m256d{}); }
#endif

// How many dimensions are present both in x and in each of kCount elements
// from y on into counts, from their presence bits, `words` words each.
template <int kCount>
void PresentCounts(int words, const std::uint64_t bx[], const std::uint64_t by[], double counts[]) {
  if (words == 1) {
    const std::uint64_t x = bx[0];
    for (int e = 0; e < kCount; e++) counts[e] = __builtin_popcountll(x & by[e]);
    return;
  }
  for (int e = 0; e < kCount; e++) {
    int count = 0;
    for (int w = 0; w < words; w++) count += __builtin_popcountll(bx[w] & by[e * words + w]);
    counts[e] = count;
  }
}

// DifferencesOne for the kBlocks * kLanes elements of the blocks from y
// on, into out: their values of one dimension lie side by side, so that
// their sums proceed together, a register's width at a time, each in
// Measure's order (chains of additions that would otherwise wait on each
// other). kMasked false: every value of x and of the blocks is present, and
// each count is ndata; true: the terms with a missing value, NaN, are +0
// and the counts come from the presence bits of x, bx, and of the blocks'
// elements from by on (`words` each), whole numbers as Measure's sums of
// unit weights are. kFinish: how each sum becomes the distance.
template <class V, bool kCityblock, Finish kFinish, bool kMasked, int kBlocks>
void DifferencesBlock(int ndata, const double x[], const double y[], int words,
                      const std::uint64_t bx[], const std::uint64_t by[], double out[]) {
  constexpr std::ptrdiff_t kRegisters = kBlocks * kPerBlock<V>;
  const std::ptrdiff_t stride = kLanes * ndata;  // from a block to the next
  double counts[kBlocks * kLanes];
  if (kMasked) PresentCounts<kBlocks * kLanes>(words, bx, by, counts);
  V sum[kRegisters] = {};
  for (std::ptrdiff_t k = 0; k < ndata; k++) {
    const V xk = V{} + x[k * kLanes];
    for (std::ptrdiff_t t = 0; t < kRegisters; t++) {
      V yk;
      Load(&yk, &y[At<V>(t, k, stride)]);
      V term = xk - yk;
      DifferenceTerm<kCityblock>(term);
      if (kMasked) DropNaN(term);
      sum[t] += term;
    }
  }
  for (std::ptrdiff_t t = 0; t < kRegisters; t++) {
    V count = V{} + ndata;
    if (kMasked) Load(&count, &counts[t * kWidth<V>]);
    Finished<kFinish>(sum[t], count, ndata, &out[t * kWidth<V>]);
  }
}

// The dot products of the weighted scaled values wx (contiguous) with the
// kBlocks blocks of elements from y on, each summed over ascending
// dimensions as InOrder sums it, into out.
template <class V, int kBlocks>
void CorrelationBlock(int ndata, const double wx[], const double y[], double out[]) {
  constexpr std::ptrdiff_t kRegisters = kBlocks * kPerBlock<V>;
  const std::ptrdiff_t stride = kLanes * ndata;
  V sum[kRegisters] = {};
  for (std::ptrdiff_t k = 0; k < ndata; k++) {
    const V xk = V{} + wx[k];
    for (std::ptrdiff_t t = 0; t < kRegisters; t++) {
      V yk;
      Load(&yk, &y[At<V>(t, k, stride)]);
      sum[t] += xk * yk;
    }
  }
  for (std::ptrdiff_t t = 0; t < kRegisters; t++) Store(&out[t * kWidth<V>], sum[t]);
}

double CorrelationOne(int ndata, const double wx[], const double y[]) {
  double r = 0;
  for (std::ptrdiff_t k = 0; k < ndata; k++) r += wx[k] * y[k * kLanes];
  return r;
}

// 1 - r, or 1 - |r| with kAbsolute, not below 0.
template <bool kAbsolute>
double OneLess(double r) {
  return notbelowzero(1 - (kAbsolute ? std::fabs(r) : r));
}

// The least share of an element's whole spread (sum of squares) that its
// spread over the dimensions of a pair may be for the pair's sums, whole
// sums less the terms of the other's gaps, to lose at most 4 bits to
// cancellation; below it the pair takes Measure.
constexpr double kLeastSpreadShare = 1.0 / 16;

}  // namespace

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

// One pass over the row per path, so that the choice of path is made once
// per row and the usable pairs' arithmetic is inlined.
template <class Usable>
void PairMeasure::row_by(int i, double out[], Measure& fallback, Usable usable) const {
  for (int j = 0; j < i; j++) out[j] = usable_[j] ? usable(j) : measured(i, j, fallback);
}

// The distances from i to 0 ... i-1 of a path whose values are in blocks:
// block(j, out, Blocks<b>()) for b whole blocks from element j on, kMost at
// a time while there are so many, then the rest of them at once (a block at
// a time, each of its sums would wait on the last); one(j) for the elements
// after the last whole block; then the pairs with an element the path
// cannot take are measured again by Measure.
template <int kBlocks>
using Blocks = std::integral_constant<int, kBlocks>;

namespace {

// block(j, out, Blocks<blocks>()) for 0 <= blocks <= kBlocks.
template <int kBlocks, class Block>
void LastBlocks(int blocks, int j, double out[], Block& block) {
  if constexpr (kBlocks > 0) {
    if (blocks == kBlocks) return block(j, out, Blocks<kBlocks>());
    LastBlocks<kBlocks - 1>(blocks, j, out, block);
  }
}

}  // namespace

template <int kMost, class Block, class One>
void PairMeasure::blocks_row(int i, double out[], Measure& fallback, Block block, One one) const {
  int j = 0;
  for (; j + kMost * kLanes <= i; j += kMost * kLanes) block(j, &out[j], Blocks<kMost>());
  const int blocks = (i - j) / static_cast<int>(kLanes);
  LastBlocks<kMost - 1>(blocks, j, &out[j], block);
  for (j += blocks * kLanes; j < i; j++) out[j] = one(j);
  for (j = 0; j < i; j++)
    if (!usable_[j]) out[j] = measured(i, j, fallback);
}

template <class V, bool kCityblock, Finish kFinish>
void PairMeasure::differences_row(int i, double out[], Measure& fallback) const {
  const double* x = &values_[lane(i)];
  const std::uint64_t* bx = &presence_[static_cast<std::size_t>(i) * words_];
  blocks_row<kMostBlocks<V>>(
      i, out, fallback,
      [&](int j, double* to, auto blocks) {
        constexpr int kBlocks = decltype(blocks)::value;
        const double* y = &values_[lane(j)];
        const unsigned char* complete = &complete_block_[j / kLanes];
        const std::uint64_t* by = &presence_[static_cast<std::size_t>(j) * words_];
        if (complete_[i] && std::all_of(complete, complete + kBlocks, [](auto c) { return c; }))
          DifferencesBlock<V, kCityblock, kFinish, false, kBlocks>(ndata_, x, y, words_, bx, by,
                                                                   to);
        else
          DifferencesBlock<V, kCityblock, kFinish, true, kBlocks>(ndata_, x, y, words_, bx, by, to);
      },
      [&](int j) { return DifferencesOne<kCityblock, kFinish>(ndata_, x, &values_[lane(j)]); });
}

// differences_row for the code's kind of difference and finish.
template <class V>
void PairMeasure::differences_by(int i, double out[], Measure& fallback) const {
  Differences how;
  static_cast<void>(differencesof(dist_, &how));
  switch (how.finish) {
    case Finish::kMean:
      return how.absolute ? differences_row<V, true, Finish::kMean>(i, out, fallback)
                          : differences_row<V, false, Finish::kMean>(i, out, fallback);
    case Finish::kScaled:
      return how.absolute ? differences_row<V, true, Finish::kScaled>(i, out, fallback)
                          : differences_row<V, false, Finish::kScaled>(i, out, fallback);
    case Finish::kRoot:
      return differences_row<V, false, Finish::kRoot>(i, out, fallback);
  }
}

// Missing values are 0, so that the dot product of two elements is their
// sum of products over the dimensions present in both; a pair with a gap
// then finishes from it and the moments, in gapped_correlation.
template <class V, bool kAbsolute>
void PairMeasure::correlation_row(int i, double out[], Measure& fallback) const {
  const double* wx = &weighted_[static_cast<std::size_t>(i) * width_];
  blocks_row<kMostBlocks<V>>(
      i, out, fallback,
      [&](int j, double* to, auto blocks) {
        CorrelationBlock<V, decltype(blocks)::value>(width_, wx, &values_[lane(j)], to);
      },
      [&](int j) { return CorrelationOne(width_, wx, &values_[lane(j)]); });
  for (int j = 0; j < i; j++) {
    if (!usable_[j]) continue;
    out[j] = complete_[i] && complete_[j] ? OneLess<kAbsolute>(out[j])
                                          : gapped_correlation<kAbsolute>(i, j, out[j], fallback);
  }
}

// The gaps' terms are summed first and taken off the whole sums once, in
// ascending order, so that identical elements (with the same gaps) have
// equal sums, sxy equal to sxx and syy, and r exactly 1 (sqrt(d * d) is d).
PairMeasure::Moments PairMeasure::moments(int i, int j) const {
  const std::size_t at = static_cast<std::size_t>(i) * width_;
  const double* x = &values_[lane(i)];
  Moments gapped{0, 0, 0, 0};
  for (int g = gaps_start_[j]; g < gaps_start_[j + 1]; g++) {
    const int a = gaps_[g];
    if (!present_[at + a]) continue;
    const double wx = weighted_[at + a];
    gapped.w += weight_[a];
    gapped.x += wx;
    gapped.xx += wx * x[static_cast<std::ptrdiff_t>(a) * kLanes];
    gapped.count++;
  }
  const Moments& total = totals_[i];
  return {total.w - gapped.w, total.x - gapped.x, total.xx - gapped.xx, total.count - gapped.count};
}

// Measure's r from the pair's sums as Measure forms it, or Measure itself
// when no dimension is shared or a spread is too small a share of its
// element's to be trusted (which also keeps Measure's answers for a
// spread of none: 1, and for an element constant over the pair).
template <bool kAbsolute>
double PairMeasure::gapped_correlation(int i, int j, double sxy, Measure& fallback) const {
  const Moments x = moments(i, j), y = moments(j, i);
  if (x.count == 0) return measured(i, j, fallback);
  double cross = sxy, dx = x.xx, dy = y.xx;
  if (path_ == Path::kCentred) {
    cross = sxy - x.x * y.x / x.w;
    dx = x.xx - x.x * x.x / x.w;
    dy = y.xx - y.x * y.x / x.w;
  }
  if (!(dx >= kLeastSpreadShare * totals_[i].xx && dy >= kLeastSpreadShare * totals_[j].xx))
    return measured(i, j, fallback);
  return OneLess<kAbsolute>(cross / std::sqrt(dx * dy));
}

template <class V>
void PairMeasure::distances_by(int i, double out[], Measure& fallback) const {
  if (path_ == Path::kMeasure || !usable_[i]) {
    for (int j = 0; j < i; j++) out[j] = measured(i, j, fallback);
    return;
  }
  switch (path_) {
    case Path::kDifferences:
      return differences_by<V>(i, out, fallback);
    case Path::kRanks:
      return row_by(i, out, fallback, [&](int j) { return ranks(i, j); });
    case Path::kSigns:
      return row_by(i, out, fallback, [&](int j) { return signs(i, j); });
    default:
      return dist_ == 'a' || dist_ == 'x' ? correlation_row<V, true>(i, out, fallback)
                                          : correlation_row<V, false>(i, out, fallback);
  }
}

#ifdef LOPPER_AVX2
LOPPER_AVX2 void PairMeasure::wide_distances(int i, double out[], Measure& fallback) const {
  distances_by<Quad>(i, out, fallback);
}
#endif

void PairMeasure::distances(int i, double out[], Measure& fallback) const {
#ifdef LOPPER_AVX2
  if (hasavx2()) return wide_distances(i, out, fallback);
#endif
  distances_by<Twin>(i, out, fallback);
}

}  // namespace detail
}  // namespace lopper
