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

// A pair of seeds, each in 1 ... modulus-1, from the 64 bits of h.
void SeedsFrom(std::uint64_t h, int* seed1, int* seed2) {
  *seed1 = static_cast<int>(1 + h % (m1 - 1));
  *seed2 = static_cast<int>(1 + Mix(h) % (m2 - 1));
}

// L'Ecuyer (1988): two multiplicative congruential generators, each advanced
// by Schrage's method without overflow, combined by subtraction.
double Advance(int& state1, int& state2) {
  int k = state1 / 53668;
  state1 = 40014 * (state1 - k * 53668) - k * 12211;
  if (state1 < 0) state1 += m1;
  k = state2 / 52774;
  state2 = 40692 * (state2 - k * 52774) - k * 3791;
  if (state2 < 0) state2 += m2;
  int z = state1 - state2;
  if (z < 1) z += m1 - 1;
  return z * scale;
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
  SeedsFrom(h, &s1, &s2);
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

double uniform() {
  if (s1 == 0) SeedFromClock();
  return Advance(s1, s2);
}

Stream::Stream(std::uint64_t key) { SeedsFrom(Mix(key), &s1_, &s2_); }

double Stream::uniform() { return Advance(s1_, s2_); }

std::uint64_t mixkey(std::uint64_t a, std::uint64_t b) { return Mix(Mix(a) ^ b); }
void seedstream(int seed, long stream) {
  const std::uint64_t h =
      Mix(Mix(static_cast<std::uint32_t>(seed)) ^ static_cast<std::uint64_t>(stream));
  s1 = Reduced(static_cast<int>(h % m1), m1);
  s2 = Reduced(static_cast<int>(Mix(h) % m2), m2);
}

KeptGenerator::KeptGenerator() : s1_(s1), s2_(s2) {}
KeptGenerator::~KeptGenerator() {
  s1 = s1_;
  s2 = s2_;
}

void drawsubset(int n, int m, int chosen[]) {
  for (int i = 0, taken = 0; taken < m; i++)
    if ((n - i) * uniform() < m - taken) chosen[taken++] = i;
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

// The correction terms of Stirling's series for log Gamma(e), e2 = e * e:
// (1/12 - 1/(360 e2) + 1/(1260 e2^2) - 1/(1680 e2^3) + 1/(1188 e2^4)) / e.
double Stirling(double e, double e2) {
  return (13860 - (462 - (132 - (99 - 140 / e2) / e2) / e2) / e2) / e * 6.012506012506012e-06;
}

// BTPE's majorant for n and p: a triangle of half-width p1 about xm, the
// mode m plus 0.5, with a parallelogram between xl and xr on top and
// exponential tails with rates lambdal and lambdar beyond them; p1 ... p4
// are the cumulative areas of the four regions.
struct BtpeMajorant {
  int n;
  double p, q, npq;
  int m;
  double xm, xl, xr, c, lambdal, lambdar, p1, p2, p3, p4;
};

// The majorant for n and p, n*p >= 30 and 0 < p < 1.
BtpeMajorant MakeMajorant(int n, double p) {
  BtpeMajorant b;
  b.n = n;
  b.p = p;
  b.q = 1 - p;
  b.npq = n * p * b.q;
  const double fm = n * p + p;
  b.m = static_cast<int>(fm);
  b.p1 = std::floor(2.195 * std::sqrt(b.npq) - 4.6 * b.q) + 0.5;
  b.xm = b.m + 0.5;
  b.xl = b.xm - b.p1;
  b.xr = b.xm + b.p1;
  b.c = 0.134 + 20.5 / (15.3 + b.m);
  const double al = (fm - b.xl) / (fm - b.xl * p);
  const double ar = (b.xr - fm) / (b.xr * b.q);
  b.lambdal = al * (1 + 0.5 * al);
  b.lambdar = ar * (1 + 0.5 * ar);
  b.p2 = b.p1 * (1 + 2 * b.c);
  b.p3 = b.p2 + b.c / b.lambdal;
  b.p4 = b.p3 + b.c / b.lambdar;
  return b;
}

// What a point under the majorant says of its candidate.
enum class Verdict { kAccept, kReject, kTest };

// Draws a point (u, v) under the majorant b and from its region the
// candidate *y and the *v to test it with. The triangle lies
// under the distribution, so its points are accepted at once; points off
// the parallelogram or beyond 0 ... n are rejected.
Verdict Candidate(const BtpeMajorant& b, int* y, double* v) {
  double u = uniform();
  *v = uniform();
  u *= b.p4;
  if (u <= b.p1) {
    *y = static_cast<int>(std::floor(b.xm - b.p1 * *v + u));
    return Verdict::kAccept;
  }
  if (u <= b.p2) {
    const double x = b.xl + (u - b.p1) / b.c;
    *v = *v * b.c + 1 - std::fabs(b.m - x + 0.5) / b.p1;
    if (*v > 1) return Verdict::kReject;
    *y = static_cast<int>(x);
  } else if (u <= b.p3) {
    *y = static_cast<int>(b.xl + std::log(*v) / b.lambdal);
    if (*y < 0) return Verdict::kReject;
    *v = *v * (u - b.p2) * b.lambdal;
  } else {
    *y = static_cast<int>(b.xr - std::log(*v) / b.lambdar);
    if (*y > b.n) return Verdict::kReject;
    *v = *v * (u - b.p3) * b.lambdar;
  }
  return Verdict::kTest;
}

// Whether v exceeds f(y)/f(m), the ratio evaluated by the recurrence
// between neighbouring binomial probabilities: exact, and cheap for y
// near the mode.
bool RejectedByRecurrence(const BtpeMajorant& b, int y, double v) {
  const double s = b.p / b.q;
  const double aa = s * (b.n + 1);
  double f = 1.0;
  for (int i = b.m + 1; i <= y; i++) f *= aa / i - s;
  for (int i = y + 1; i <= b.m; i++) f /= aa / i - s;
  return v > f;
}

// Whether the candidate y (tested with v) is rejected: by the recurrence
// when y is within 20 of the mode or far out, otherwise by the squeeze on
// log v and, where that cannot tell, by the bound on log(f(y)/f(m)) with
// Stirling's corrections.
bool Rejected(const BtpeMajorant& b, int y, double v) {
  const int k = std::abs(y - b.m);
  if (k <= 20 || k >= 0.5 * b.npq - 1) return RejectedByRecurrence(b, y, v);
  const double kd = k;
  const double rho = (kd / b.npq) * ((kd * (kd / 3 + 0.625) + 0.1666666666666) / b.npq + 0.5);
  const double t = -kd * kd / (2 * b.npq);
  const double A = std::log(v);
  if (A < t - rho) return false;
  if (A > t + rho) return true;
  const double x1 = y + 1;
  const double f1 = b.m + 1;
  const double z = b.n + 1 - b.m;
  const double w = b.n - y + 1;
  const double bound = b.xm * std::log(f1 / x1) + (b.n - b.m + 0.5) * std::log(z / w) +
                       (y - b.m) * std::log(w * b.p / (x1 * b.q)) + Stirling(f1, f1 * f1) +
                       Stirling(z, z * z) + Stirling(x1, x1 * x1) + Stirling(w, w * w);
  return A > bound;
}

// BTPE (Kachitvichyanukul and Schmeiser 1988): triangle, parallelogram and
// exponential tails as majorant, squeeze and Stirling-corrected final test.
// One deviate, for n*p >= 30.
int Btpe(int n, double p) {
  const BtpeMajorant b = MakeMajorant(n, p);
  while (true) {
    int y;
    double v;
    const Verdict verdict = Candidate(b, &y, &v);
    if (verdict == Verdict::kAccept || (verdict == Verdict::kTest && !Rejected(b, y, v))) return y;
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
