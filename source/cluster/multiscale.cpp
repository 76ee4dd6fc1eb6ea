// The multiscale bootstrap fit of one cluster's support: Shimodaira (2002),
// "An approximately unbiased test of phylogenetic tree selection", Syst.
// Biol. 51, 492-508; Shimodaira (2004), Ann. Statist. 32, 2616-2641; Suzuki
// & Shimodaira (2006), Bioinformatics 22, 1540-1542. Where the papers leave
// the rule open (which scales enter, the smallest fit, the result without a
// fit) the rule is that of pvclust 2.2.0, whose results these equal.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "cluster_internal.h"

namespace lopper {

namespace detail {

namespace {

// A rational function of AS 241: numerator a0 + a1 r + ... + a7 r^7 over
// 1 + b1 r + ... + b7 r^7.
double Ratio(const double (&a)[8], const double (&b)[7], double r) {
  double num = a[7], den = b[6];
  for (int k = 6; k >= 0; k--) num = num * r + a[k];
  for (int k = 5; k >= 0; k--) den = den * r + b[k];
  return num / (den * r + 1.0);
}

}  // namespace

double normalquantile(double p) {
  // Wichura (1988), Appl. Statist. 37, 477-484, PPND16: relative accuracy
  // about 1e-16 in each of its three regions.
  static constexpr double kCentralA[8] = {3.3871328727963666080e0,  1.3314166789178437745e+2,
                                          1.9715909503065514427e+3, 1.3731693765509461125e+4,
                                          4.5921953931549871457e+4, 6.7265770927008700853e+4,
                                          3.3430575583588128105e+4, 2.5090809287301226727e+3};
  static constexpr double kCentralB[7] = {4.2313330701600911252e+1, 6.8718700749205790830e+2,
                                          5.3941960214247511077e+3, 2.1213794301586595867e+4,
                                          3.9307895800092710610e+4, 2.8729085735721942674e+4,
                                          5.2264952788528545610e+3};
  static constexpr double kNearA[8] = {1.42343711074968357734e0,  4.63033784615654529590e0,
                                       5.76949722146069140550e0,  3.64784832476320460504e0,
                                       1.27045825245236838258e0,  2.41780725177450611770e-1,
                                       2.27238449892691845833e-2, 7.74545014278341407640e-4};
  static constexpr double kNearB[7] = {2.05319162663775882187e0,  1.67638483018380384940e0,
                                       6.89767334985100004550e-1, 1.48103976427480074590e-1,
                                       1.51986665636164571966e-2, 5.47593808499534494600e-4,
                                       1.05075007164441684324e-9};
  static constexpr double kFarA[8] = {6.65790464350110377720e0,  5.46378491116411436990e0,
                                      1.78482653991729133580e0,  2.96560571828504891230e-1,
                                      2.65321895265761230930e-2, 1.24266094738807843860e-3,
                                      2.71155556874348757815e-5, 2.01033439929228813265e-7};
  static constexpr double kFarB[7] = {5.99832206555887937690e-1, 1.36929880922735805310e-1,
                                      1.48753612908506148525e-2, 7.86869131145613259100e-4,
                                      1.84631831751005468180e-5, 1.42151175831644588870e-7,
                                      2.04426310338993978564e-15};
  if (!(p >= 0.0 && p <= 1.0)) return std::numeric_limits<double>::quiet_NaN();
  if (p == 0.0) return -HUGE_VAL;
  if (p == 1.0) return HUGE_VAL;
  const double q = p - 0.5;
  if (std::fabs(q) <= 0.425) return q * Ratio(kCentralA, kCentralB, 0.180625 - q * q);
  const double r = std::sqrt(-std::log(q < 0.0 ? p : 1.0 - p));
  const double x = r <= 5.0 ? Ratio(kNearA, kNearB, r - 1.6) : Ratio(kFarA, kFarB, r - 5.0);
  return q < 0.0 ? -x : x;
}

}  // namespace detail

namespace {

constexpr double kInvSqrt2Pi = 0.398942280401432677939946059934;
constexpr double kSqrt1_2 = 0.707106781186547524400844362105;
constexpr double kSqrtPi = 1.77245385090551602729816748334;

double Pnorm(double x) { return 0.5 * std::erfc(-x * kSqrt1_2); }
double Dnorm(double x) { return kInvSqrt2Pi * std::exp(-0.5 * x * x); }

// The upper tail of the chi-square distribution on df >= 1 degrees of
// freedom at x >= 0, in closed form for whole df: Q(df/2, x/2) is e^-y
// times a finite sum of powers of y = x/2, plus erfc(sqrt y) for odd df.
// Each term comes from its logarithm so that none underflows before the
// product does.
double ChiSquareUpper(double x, int df) {
  const double y = 0.5 * x;
  if (y == 0.0) return 1.0;
  const double logy = std::log(y);
  double sum = 0.0;
  if (df % 2 == 0) {
    double logfactorial = 0.0;  // log j!
    for (int j = 0; j < df / 2; j++) {
      if (j > 0) logfactorial += std::log(static_cast<double>(j));
      sum += std::exp(j * logy - y - logfactorial);
    }
    return sum;
  }
  // Odd: the terms y^(j - 1/2) / Gamma(j + 1/2), j = 1 ... (df-1)/2.
  double loggamma = std::log(0.5 * kSqrtPi);  // log Gamma(3/2)
  for (int j = 1; j <= df / 2; j++) {
    if (j > 1) loggamma += std::log(j - 0.5);
    sum += std::exp((j - 0.5) * logy - y - loggamma);
  }
  return std::erfc(std::sqrt(y)) + sum;
}

// A scale that enters the fit: its row of the weighted design and response,
// each multiplied by the square root of the weight.
struct Row {
  double root, inverse, z;  // sqrt(w r), sqrt(w / r), sqrt(w) z
};

// The weighted least-squares fit of z by v sqrt(r) + c / sqrt(r), by
// modified Gram-Schmidt on the weighted columns (stable where scales close
// together make the two columns nearly parallel), as R = [n1 r12; 0 r22].
struct Fit {
  double v, c, n1, r12, r22, rss;
  // h' V h for the fit's covariance V = (R'R)^-1: |R^-T h|^2.
  double variance(double h1, double h2) const {
    const double g1 = h1 / n1, g2 = (h2 - r12 * g1) / r22;
    return g1 * g1 + g2 * g2;
  }
};

detail::Status FitRows(const std::vector<Row>& rows, Fit& fit) {
  double n1sq = 0.0, r12 = 0.0, y1 = 0.0;
  for (const Row& row : rows) n1sq += row.root * row.root;
  const double n1 = std::sqrt(n1sq);
  for (const Row& row : rows) {
    r12 += row.root / n1 * row.inverse;
    y1 += row.root / n1 * row.z;
  }
  double r22sq = 0.0, y2 = 0.0;
  for (const Row& row : rows) {
    const double q1 = row.root / n1;
    const double rest = row.inverse - r12 * q1;
    r22sq += rest * rest;
    y2 += rest * (row.z - y1 * q1);
  }
  const double r22 = std::sqrt(r22sq);
  // Distinct scales make the columns independent; only scales too close
  // to tell apart in doubles leave nothing of the second.
  if (!(r22 > 0.0) || !std::isfinite(r22)) return detail::Status::kBadArguments;
  fit.c = y2 / r22sq;
  fit.v = (y1 - r12 * fit.c) / n1;
  fit.n1 = n1;
  fit.r12 = r12;
  fit.r22 = r22;
  fit.rss = 0.0;
  for (const Row& row : rows) {
    const double residual = row.z - (fit.v * row.root + fit.c * row.inverse);
    fit.rss += residual * residual;
  }
  return detail::Status::kOk;
}

// The p-values of a fit and their standard errors by the delta method.
void Supports(const Fit& fit, BootstrapSupport& s) {
  const double zau = fit.v - fit.c, zbp = fit.v + fit.c;
  s.v = fit.v;
  s.c = fit.c;
  s.au = Pnorm(-zau);
  s.bp = Pnorm(-zbp);
  s.se_au = Dnorm(zau) * std::sqrt(fit.variance(1.0, -1.0));
  s.se_bp = Dnorm(zbp) * std::sqrt(fit.variance(1.0, 1.0));
  // si = 1 - Pnorm(zau) / Pnorm(-c): the chance of au's region given the
  // cluster was selected.
  const double outside = Pnorm(zau), selected = Pnorm(-fit.c);
  s.si = std::clamp(1.0 - outside / selected, 0.0, 1.0);
  s.se_si = 0.0;
  if (s.si > 0.0 && s.si < 1.0) {
    const double d1 = Dnorm(zau) / selected;
    const double d2 = outside * Dnorm(fit.c) / (selected * selected);
    s.se_si = std::sqrt(fit.variance(d1, d2 - d1));
  }
}

bool GoodArguments(int nscales, const double scales[], const int counts[], int nboot) {
  if (nscales < 1 || nboot < 1 || !scales || !counts) return false;
  for (int s = 0; s < nscales; s++)
    if (!(scales[s] > 0.0 && scales[s] <= std::numeric_limits<double>::max()) || counts[s] < 0 ||
        counts[s] > nboot)
      return false;
  std::vector<double> sorted(scales, scales + nscales);
  std::sort(sorted.begin(), sorted.end());
  return std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end();
}

}  // namespace

int multiscalefit(int nscales, const double scales[], const int counts[], int nboot,
                  BootstrapSupport* support) {
  using detail::Status;
  // A share this close to 0 or 1 says too little about its z-value.
  constexpr double kEdge = 0.001;
  constexpr int kFewest = 3;
  if (!support) return -1;
  BootstrapSupport s{};
  const Status status = detail::guarded([&] {
    if (!GoodArguments(nscales, scales, counts, nboot)) return Status::kBadArguments;
    std::vector<Row> rows;
    rows.reserve(static_cast<std::size_t>(nscales));
    long long total = 0;  // at most nboot nscales < 2^62
    for (int i = 0; i < nscales; i++) {
      total += counts[i];
      const double b = static_cast<double>(counts[i]) / nboot;
      if (!(b > kEdge && b < 1.0 - kEdge)) continue;
      const double z = -detail::normalquantile(b);
      const double weight = Dnorm(z) * Dnorm(z) * nboot / ((1.0 - b) * b);
      const double root = std::sqrt(weight), scale = std::sqrt(scales[i]);
      rows.push_back({root * scale, root / scale, root * z});
    }
    s.used = static_cast<int>(rows.size());
    if (s.used < kFewest) {
      // pvclust's side is its mean share below a half, taken in doubles,
      // which an exact half can round either way; the counts settle it.
      const double side = 2 * total < static_cast<long long>(nboot) * nscales ? 0.0 : 1.0;
      s.au = s.bp = s.si = side;
      return Status::kOk;
    }
    Fit fit{};
    if (FitRows(rows, fit) != Status::kOk) return Status::kBadArguments;
    Supports(fit, s);
    s.pchi = ChiSquareUpper(fit.rss, s.used - 2);
    return Status::kOk;
  });
  if (status != Status::kOk) return -1;
  *support = s;
  return 0;
}

}  // namespace lopper
