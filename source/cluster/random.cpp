// The library's random numbers: L'Ecuyer's combined generator, binomial
// deviates and random partitions into non-empty clusters.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>

#include "cluster_internal.h"

namespace lopper {

namespace {

// The calling thread's generator state: threads clustering at once neither
// race on it nor disturb each other's seeded sequences. Both 0 only while
// the thread has neither seeded nor drawn; setrandomseed never stores 0.
thread_local int s1 = 0;
thread_local int s2 = 0;

constexpr int m1 = 2147483563;
constexpr int m2 = 2147483399;
constexpr double scale = 1.0 / m1;

// seed modulo modulus in 1 ... modulus-1: 0 is a fixed point of the
// generator, so a seed reducing to it counts as 1.
int Reduced(int seed, int modulus) {
  long long s = seed % modulus;
  if (s < 0) s += modulus;
  return s ? static_cast<int>(s) : 1;
}

// SplitMix64's finaliser (Steele, Lea and Flood 2014): every input bit
// reaches every output bit.
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15u;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  return x ^ (x >> 31);
}

// Seeds for a thread that draws before setting any: the system's entropy
// source (when it has one) mixed with a nanosecond clock and the thread's
// id, so that programs started within one second, and threads of one
// program, get different streams. std::rand's state stays the caller's.
void SeedFromClock() {
  std::uint64_t h = Mix(static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count()));
  h = Mix(h ^ std::hash<std::thread::id>()(std::this_thread::get_id()));
  try {
    std::random_device device;
    h = Mix(h ^ (static_cast<std::uint64_t>(device()) << 32 | device()));
  } catch (...) {  // no entropy source: the clock and the thread id remain
  }
  s1 = static_cast<int>(1 + h % (m1 - 1));
  s2 = static_cast<int>(1 + Mix(h) % (m2 - 1));
}

}  // namespace

void setrandomseed(int seed1, int seed2) {
  s1 = Reduced(seed1, m1);
  s2 = Reduced(seed2, m2);
}

void getrandomseed(int* seed1, int* seed2) {
  *seed1 = s1;
  *seed2 = s2;
}

namespace detail {

// L'Ecuyer (1988): two multiplicative congruential generators, each advanced
// by Schrage's method without overflow, combined by subtraction.
double uniform() {
  if (s1 == 0) SeedFromClock();
  int k = s1 / 53668;
  s1 = 40014 * (s1 - k * 53668) - k * 12211;
  if (s1 < 0) s1 += m1;
  k = s2 / 52774;
  s2 = 40692 * (s2 - k * 52774) - k * 3791;
  if (s2 < 0) s2 += m2;
  int z = s1 - s2;
  if (z < 1) z += m1 - 1;
  return z * scale;
}

namespace {

// Inversion (BINV): one deviate, for n*p < 30.
int Binv(int n, double p) {
  const double q = 1 - p;
  const double s = p / q;
  const double a = (n + 1) * s;
  double r = std::exp(n * std::log(q));
  double u = uniform();
  int x = 0;
  while (u >= r) {
    u -= r;
    x++;
    r *= a / x - s;
  }
  return x;
}

double Stirling(double e, double e2) {
  return (13860 - (462 - (132 - (99 - 140 / e2) / e2) / e2) / e2) / e * 6.012506012506012e-06;
}

// BTPE (Kachitvichyanukul and Schmeiser 1988): triangle, parallelogram and
// exponential tails as majorant, squeeze and Stirling-corrected final test.
int Btpe(int n, double p) {
  const double q = 1 - p;
  const double npq = n * p * q;
  const double fm = n * p + p;
  const int m = static_cast<int>(fm);
  const double p1 = std::floor(2.195 * std::sqrt(npq) - 4.6 * q) + 0.5;
  const double xm = m + 0.5;
  const double xl = xm - p1;
  const double xr = xm + p1;
  const double c = 0.134 + 20.5 / (15.3 + m);
  const double a = (fm - xl) / (fm - xl * p);
  const double b = (xr - fm) / (xr * q);
  const double lambdal = a * (1 + 0.5 * a);
  const double lambdar = b * (1 + 0.5 * b);
  const double p2 = p1 * (1 + 2 * c);
  const double p3 = p2 + c / lambdal;
  const double p4 = p3 + c / lambdar;
  while (true) {
    double u = uniform();
    double v = uniform();
    u *= p4;
    if (u <= p1) return static_cast<int>(std::floor(xm - p1 * v + u));
    int y;
    if (u <= p2) {
      const double x = xl + (u - p1) / c;
      v = v * c + 1 - std::fabs(m - x + 0.5) / p1;
      if (v > 1) continue;
      y = static_cast<int>(x);
    } else if (u <= p3) {
      y = static_cast<int>(xl + std::log(v) / lambdal);
      if (y < 0) continue;
      v = v * (u - p2) * lambdal;
    } else {
      y = static_cast<int>(xr - std::log(v) / lambdar);
      if (y > n) continue;
      v = v * (u - p3) * lambdar;
    }
    const int k = std::abs(y - m);
    if (k <= 20 || k >= 0.5 * npq - 1) {
      const double s = p / q;
      const double aa = s * (n + 1);
      double f = 1.0;
      for (int i = m + 1; i <= y; i++) f *= aa / i - s;
      for (int i = y + 1; i <= m; i++) f /= aa / i - s;
      if (v > f) continue;
      return y;
    }
    const double kd = k;
    const double rho = (kd / npq) * ((kd * (kd / 3 + 0.625) + 0.1666666666666) / npq + 0.5);
    const double t = -kd * kd / (2 * npq);
    const double A = std::log(v);
    if (A < t - rho) return y;
    if (A > t + rho) continue;
    const double x1 = y + 1;
    const double f1 = m + 1;
    const double z = n + 1 - m;
    const double w = n - y + 1;
    const double bound = xm * std::log(f1 / x1) + (n - m + 0.5) * std::log(z / w) +
                         (y - m) * std::log(w * p / (x1 * q)) + Stirling(f1, f1 * f1) +
                         Stirling(z, z * z) + Stirling(x1, x1 * x1) + Stirling(w, w * w);
    if (A > bound) continue;
    return y;
  }
}

}  // namespace

int binomial(int n, double p) { return n * p < 30.0 ? Binv(n, p) : Btpe(n, p); }

void randomassign(int nclusters, int nelements, int clusterid[]) {
  int n = nelements - nclusters;
  int k = 0;
  for (int i = 0; i < nclusters - 1; i++) {
    const float p = static_cast<float>(1.0 / (nclusters - i));
    const int j = binomial(n, p);
    n -= j;
    for (int end = k + j + 1; k < end; k++) clusterid[k] = i;
  }
  for (; k < nelements; k++) clusterid[k] = nclusters - 1;
  for (int i = 0; i < nelements; i++) {
    const double offset = (nelements - i) * uniform();
    const int j = static_cast<int>(i + offset);
    const int t = clusterid[j];
    clusterid[j] = clusterid[i];
    clusterid[i] = t;
  }
}

}  // namespace detail
}  // namespace lopper
