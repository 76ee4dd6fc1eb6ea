#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <thread>
#include <vector>

#include "cluster_internal.h"

namespace {

using lopper::detail::binomial;
using lopper::detail::randomassign;
using lopper::detail::uniform;

constexpr std::int64_t m1 = 2147483563, m2 = 2147483399;

// The same generator by plain 64-bit modular products.
struct Reference {
  std::int64_t s1, s2;
  double next() {
    s1 = s1 * 40014 % m1;
    s2 = s2 * 40692 % m2;
    std::int64_t z = s1 - s2;
    if (z < 1) z += m1 - 1;
    return static_cast<double>(z) * (1.0 / 2147483563.0);
  }
};

std::int64_t PowMod(std::int64_t b, std::int64_t e, std::int64_t m) {
  std::int64_t r = 1;
  for (b %= m; e; e >>= 1, b = b * b % m)
    if (e & 1) r = r * b % m;
  return r;
}

// Draws consumed by f: how far the reference stream must advance to reach
// the generator's state afterwards.
template <class F>
int DrawsUsed(int seed1, int seed2, F f) {
  lopper::setrandomseed(seed1, seed2);
  f();
  int s1, s2;
  lopper::getrandomseed(&s1, &s2);
  Reference ref{seed1, seed2};
  for (int k = 0; k < 100000; k++) {
    if (ref.s1 == s1 && ref.s2 == s2) return k;
    ref.next();
  }
  return -1;
}

TEST(Uniform, StreamMatchesModularArithmetic) {
  for (const auto& [a, b] : {std::pair<int, int>{12345, 67890}, {1, 1}, {2147483562, 2147483398}}) {
    lopper::setrandomseed(a, b);
    Reference ref{a, b};
    for (int k = 0; k < 5000; k++)
      ASSERT_EQ(uniform(), ref.next()) << a << " " << b << " draw " << k;
    int s1, s2;
    lopper::getrandomseed(&s1, &s2);
    EXPECT_EQ(s1, ref.s1);
    EXPECT_EQ(s2, ref.s2);
  }
}

TEST(Uniform, ExtremesAreScaleAndOneMinusScale) {
  // States whose next values differ by 1 (the smallest result) or are equal
  // (z < 1 wraps to m1 - 1, the largest).
  const std::int64_t inv1 = PowMod(40014, m1 - 2, m1), inv2 = PowMod(40692, m2 - 2, m2);
  lopper::setrandomseed(static_cast<int>(1000001 * inv1 % m1),
                        static_cast<int>(1000000 * inv2 % m2));
  EXPECT_EQ(uniform(), 1.0 / 2147483563.0);
  lopper::setrandomseed(static_cast<int>(5 * inv1 % m1), static_cast<int>(5 * inv2 % m2));
  const double largest = uniform();
  EXPECT_EQ(largest, 2147483562.0 * (1.0 / 2147483563.0));
  EXPECT_LT(largest, 1.0);
}

// A thread starts unseeded and seeds itself at its first draw.
TEST(Uniform, UnseededDrawSeedsFromTheClock) {
  int before1 = -1, before2 = -1, s1 = 0, s2 = 0;
  std::thread([&] {
    lopper::getrandomseed(&before1, &before2);
    uniform();
    lopper::getrandomseed(&s1, &s2);
  }).join();
  EXPECT_EQ(before1, 0);
  EXPECT_EQ(before2, 0);
  EXPECT_TRUE(s1 > 0 && s1 < m1) << s1;
  EXPECT_TRUE(s2 > 0 && s2 < m2) << s2;
}

TEST(Binomial, InversionBelowThirtyBtpeFromThirty) {
  struct Case {
    int n;
    double p;
    bool inversion;
  } const cases[] = {{0, 0.5, true},   {59, 0.5, true},   {299, 0.1, true},
                     {60, 0.5, false}, {300, 0.1, false}, {1000, 0.5, false}};
  for (const auto& c : cases) {
    for (int seed = 1; seed <= 50; seed++) {
      const int used = DrawsUsed(seed, 7 * seed, [&] { binomial(c.n, c.p); });
      if (c.inversion)
        EXPECT_EQ(used, 1) << c.n << " " << c.p;
      else
        EXPECT_TRUE(used >= 2 && used % 2 == 0) << c.n << " " << c.p << " used " << used;
    }
  }
}

// Inversion gives the smallest x whose cumulative probability exceeds the
// deviate; computed here from the probabilities directly.
TEST(Binomial, InversionKnownAnswers) {
  for (const auto& [n, p] :
       {std::pair<int, double>{0, 0.3}, {1, 0.5}, {10, 0.5}, {40, 0.25}, {199, 0.15}}) {
    lopper::setrandomseed(99, 100);
    Reference ref{99, 100};
    for (int k = 0; k < 300; k++) {
      const double u = ref.next();
      int x = 0;
      double cumulative = 0;
      for (; x < n; x++) {
        cumulative += std::exp(std::lgamma(n + 1) - std::lgamma(x + 1) - std::lgamma(n - x + 1) +
                               x * std::log(p) + (n - x) * std::log(1 - p));
        if (u < cumulative) break;
      }
      EXPECT_EQ(binomial(n, p), x) << n << " " << p << " draw " << k;
    }
  }
}

TEST(Binomial, MeanAndVarianceOfManyDraws) {
  struct Case {
    int n;
    double p;
  } const cases[] = {{20, 0.3}, {100, 0.3}, {1000, 0.5}, {10000, 0.01}, {75, 0.4}, {5000, 0.5}};
  for (const auto& c : cases) {
    lopper::setrandomseed(2026, 1208);
    const int draws = 200000;
    double sum = 0, sum2 = 0;
    for (int k = 0; k < draws; k++) {
      const int x = binomial(c.n, c.p);
      ASSERT_GE(x, 0);
      ASSERT_LE(x, c.n);
      sum += x;
      sum2 += static_cast<double>(x) * x;
    }
    const double mean = sum / draws, variance = sum2 / draws - mean * mean;
    const double npq = c.n * c.p * (1 - c.p);
    EXPECT_NEAR(mean, c.n * c.p, 5 * std::sqrt(npq / draws)) << c.n << " " << c.p;
    EXPECT_NEAR(variance / npq, 1.0, 0.02) << c.n << " " << c.p;
  }
}

TEST(Randomassign, EveryClusterGetsAMember) {
  lopper::setrandomseed(31, 41);
  for (int nelements = 1; nelements <= 60; nelements += 3)
    for (int nclusters = 1; nclusters <= nelements; nclusters += 2) {
      std::vector<int> id(nelements, -1);
      randomassign(nclusters, nelements, id.data());
      std::vector<int> count(nclusters);
      for (const int c : id) {
        ASSERT_TRUE(c >= 0 && c < nclusters);
        count[c]++;
      }
      for (const int c : count) EXPECT_GE(c, 1) << nclusters << " of " << nelements;
    }
  std::vector<int> id(5000);
  randomassign(3, 5000, id.data());  // BTPE for the sizes
  std::vector<int> count(3);
  for (const int c : id) count[c]++;
  for (const int c : count) EXPECT_NEAR(c, 5000.0 / 3, 150);
}

TEST(Randomassign, EdgeCasesAndDrawCount) {
  std::vector<int> id(9);
  EXPECT_EQ(DrawsUsed(5, 6, [&] { randomassign(1, 9, id.data()); }), 9);
  EXPECT_EQ(id, std::vector<int>(9, 0));
  EXPECT_EQ(DrawsUsed(5, 6, [&] { randomassign(9, 9, id.data()); }), 8 + 9);
  std::vector<int> sorted = id;
  std::sort(sorted.begin(), sorted.end());
  std::vector<int> all(9);
  std::iota(all.begin(), all.end(), 0);
  EXPECT_EQ(sorted, all);
}

}  // namespace
