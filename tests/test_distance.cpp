#include <gtest/gtest.h>

#include <cmath>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "cluster_internal.h"
#include "matrix.h"
#include "test_util.h"

namespace {

using lopper_test::Matrix;
using Values = std::vector<double>;
using Mask = std::vector<int>;

// The measure of code `dist` between x and y, with the two vectors as rows
// (transpose 0) and as columns (transpose 1); both must agree.
double Measure(char dist, const Values& x, const Values& y, const Values& weight,
               const Mask& mx = {}, const Mask& my = {}) {
  const Mask all(x.size(), 1);
  Matrix rows({x, y}, {mx.empty() ? all : mx, my.empty() ? all : my});
  Matrix columns = rows.transposed();
  const auto metric = lopper::detail::setmetric(dist);
  const int n = static_cast<int>(x.size());
  const double by_rows =
      metric(n, rows.data(), rows.data(), rows.mask(), rows.mask(), weight.data(), 0, 1, 0);
  const double by_columns = metric(n, columns.data(), columns.data(), columns.mask(),
                                   columns.mask(), weight.data(), 0, 1, 1);
  EXPECT_EQ(by_rows, by_columns) << dist;
  return by_rows;
}

TEST(Measures, ListedValues) {
  const Values one3{1, 1, 1};
  const struct Case {
    char dist;
    Values x, y, weight;
    Mask mx, my;
    double expected;
  } cases[] = {
      {'e', {1, 2, 3}, {1, 2, 5}, one3, {}, {}, 4.0 / 3},
      {'e', {1, 2, 3}, {1, 2, 5}, {1, 1, 2}, {}, {}, 2},
      {'b', {1, 2, 3}, {1, 2, 5}, one3, {}, {}, 2.0 / 3},
      {'b', {1, 2, 3}, {1, 2, 5}, {1, 1, 2}, {}, {}, 1},
      // A masked dimension leaves the sums and the divisor.
      {'e', {1, 2, 3}, {1, 2, 5}, {1, 1, 2}, {1, 1, 0}, {}, 0},
      {'e', {1, 2, 3}, {0, 2, 5}, {1, 1, 2}, {}, {1, 1, 0}, 0.5},
      {'c', {1, 2, 3}, {2, 4, 6}, one3, {}, {}, 0},
      {'c', {1, 2, 3}, {3, 2, 1}, one3, {}, {}, 2},
      {'a', {1, 2, 3}, {3, 2, 1}, one3, {}, {}, 0},
      {'c', {5, 5, 5}, {1, 2, 3}, one3, {}, {}, 1},
      {'c', {1, 2, 3}, {5, 5, 5}, one3, {}, {}, 1},
      {'a', {5, 5, 5}, {1, 2, 3}, one3, {}, {}, 1},
      {'c', {1, 2, 4}, {1, 3, 2}, one3, {}, {}, 1 - 1 / std::sqrt(14.0 / 3 * 2)},
      {'u', {1, 0}, {0, 1}, {1, 1}, {}, {}, 1},
      {'u', {1, 1}, {2, 2}, {1, 1}, {}, {}, 0},
      {'u', {1, 1}, {-2, -2}, {1, 1}, {}, {}, 2},
      {'x', {1, 1}, {-2, -2}, {1, 1}, {}, {}, 0},
      {'x', {0, 0}, {1, 2}, {1, 1}, {}, {}, 1},
      // All weights 0: the centred measures see W = 0, the uncentred Sxx = 0.
      {'c', {1, 2, 3}, {3, 1, 2}, {0, 0, 0}, {}, {}, 0},
      {'a', {1, 2, 3}, {3, 1, 2}, {0, 0, 0}, {}, {}, 0},
      {'u', {1, 2, 3}, {3, 1, 2}, {0, 0, 0}, {}, {}, 1},
      {'x', {1, 2, 3}, {3, 1, 2}, {0, 0, 0}, {}, {}, 1},
      {'e', {1, 2, 3}, {3, 1, 2}, {0, 0, 0}, {}, {}, 0},
      {'s', {1, 2, 3}, {10, 20, 30}, one3, {}, {}, 0},
      {'s', {1, 2, 3}, {30, 20, 10}, one3, {}, {}, 2},
      {'s', {1, 2, 3}, {30, 20, 10}, {0, 5, -1}, {}, {}, 2},
      {'s', {1, 2, 2, 3}, {1, 3, 2, 4}, {1, 1, 1, 1}, {}, {}, 1 - 1.125 / std::sqrt(1.125 * 1.25)},
      // No rank spread in one vector: distance 1, like a constant vector.
      {'s', {4, 4, 4}, {1, 2, 3}, one3, {}, {}, 1},
      {'s', {1, 2, 3}, {4, 4, 4}, one3, {}, {}, 1},
      {'s', {1, 2, 3}, {4, 5, 6}, one3, {0, 1, 0}, {}, 1},
      {'k', {1, 2, 3}, {1, 2, 3}, one3, {}, {}, 0},
      {'k', {1, 1, 2}, {1, 2, 3}, one3, {}, {}, 1 - 2 / std::sqrt(6.0)},
      {'k', {1, 2, 3}, {3, 2, 1}, {0, 0, 0}, {}, {}, 2},
      {'k', {1, 2, 3}, {4, 5, 6}, one3, {1, 0, 0}, {}, 0},
      {'k', {2, 2, 2}, {1, 2, 3}, one3, {}, {}, 1},
      {'k', {1, 2, 3}, {2, 2, 2}, one3, {}, {}, 1},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(Measure(c.dist, c.x, c.y, c.weight, c.mx, c.my), c.expected, 1e-15)
        << c.dist << " " << testing::PrintToString(c.x) << " " << testing::PrintToString(c.y);
}

TEST(Measures, NoCommonDimensionGivesZero) {
  for (const char dist : std::string("ebcauxsk")) {
    EXPECT_EQ(Measure(dist, {1, 2, 3}, {3, 5, 9}, {1, 1, 1}, {0, 0, 0}, {}), 0) << dist;
    EXPECT_EQ(Measure(dist, {1, 2, 3}, {3, 5, 9}, {1, 1, 1}, {1, 0, 1}, {0, 1, 0}), 0) << dist;
  }
}

// Perfectly (anti)correlated pairs: r is +-1 exactly, its rounded value
// may be just beyond, and 1 - r must still not go below 0. Catches a
// measure that returns 1 - r as computed.
TEST(Measures, CorrelationDistancesAreNeverNegative) {
  const unsigned seed = 20261209;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-10, 10);
  int exact = 0;
  for (int trial = 0; trial < 2000; trial++) {
    const Values x{u(rng), u(rng), u(rng)};
    const double scale = u(rng), shift = u(rng);
    const Values shifted{scale * x[0] + shift, scale * x[1] + shift, scale * x[2] + shift};
    const Values scaled{scale * x[0], scale * x[1], scale * x[2]};
    for (const char dist : {'c', 'a', 'u', 'x', 's'}) {
      // The uncentred correlation is 1 only for proportional vectors.
      const bool uncentred = dist == 'u' || dist == 'x';
      const double d = Measure(dist, x, uncentred ? scaled : shifted, {1, 1, 1});
      ASSERT_GE(d, 0.0) << "seed " << seed << " trial " << trial << " code " << dist;
      exact += d == 0.0;
    }
  }
  EXPECT_GT(exact, 0);
}

TEST(Setmetric, CodesSelectMeasures) {
  using namespace lopper::detail;
  const struct {
    char dist;
    Metric metric;
  } cases[] = {{'e', euclid},       {'b', cityblock},     {'c', correlation}, {'a', acorrelation},
               {'u', ucorrelation}, {'x', uacorrelation}, {'s', spearman},    {'k', kendall},
               {'z', euclid},       {'E', euclid},        {'0', euclid},      {'\0', euclid}};
  for (const auto& c : cases) EXPECT_EQ(setmetric(c.dist), c.metric) << c.dist;
}

TEST(Getrank, TiesShareTheMeanPosition) {
  const struct {
    Values data, ranks;
  } cases[] = {{{10, 20, 10, 30}, {0.5, 2, 0.5, 3}},
               {{1}, {0}},
               {{2, 2, 2}, {1, 1, 1}},
               {{3, 1, 2}, {2, 0, 1}},
               {{5, 5, 1, 5, 1}, {3, 3, 0.5, 3, 0.5}}};
  for (const auto& c : cases) {
    Values rank(c.data.size(), -1);
    ASSERT_EQ(lopper::detail::getrank(static_cast<int>(c.data.size()), c.data.data(), rank.data()),
              lopper::detail::Status::kOk);
    EXPECT_EQ(rank, c.ranks);
  }
}

TEST(Getrank, MemoryShortIsReported) {
  const Values data{3, 1, 2};
  Values rank(3);
  lopper_test::FailNthNew(1);
  EXPECT_EQ(lopper::detail::getrank(3, data.data(), rank.data()),
            lopper::detail::Status::kOutOfMemory);
  lopper_test::FailNthNew(0);
}

// A refused scratch must never pass for a distance (it used to give 0).
TEST(Spearman, ScratchComesFirstAndMeasuringNeverAllocates) {
  Matrix m({{1, 2, 3}, {3, 1, 2}});
  const Values w{1, 1, 1};
  auto call = [&] {
    return lopper::detail::spearman(3, m.data(), m.data(), m.mask(), m.mask(), w.data(), 0, 1, 0);
  };
  const double full = call();
  EXPECT_NEAR(full, 1.5, 1e-15);
  int failures = 0;
  for (int k = 1;; k++) {
    lopper_test::FailNthNew(k);
    bool threw = false;
    try {
      EXPECT_EQ(call(), full) << k;
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    const bool fired = lopper_test::PendingNewFailure() == 0;
    lopper_test::FailNthNew(0);
    if (!fired) break;
    EXPECT_TRUE(threw) << k;
    failures++;
  }
  EXPECT_EQ(failures, 5);  // two value copies, two rank arrays, one index
  lopper::detail::Measure measure('s', 3);
  lopper_test::FailNthNew(1, true);
  const double d = measure(m.data(), m.data(), m.mask(), m.mask(), w.data(), 0, 1, 0);
  EXPECT_EQ(lopper_test::InjectedNewFailures(), 0);
  lopper_test::FailNthNew(0);
  EXPECT_EQ(d, full);
}

}  // namespace
