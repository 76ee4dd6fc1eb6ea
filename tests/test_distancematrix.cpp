#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "cluster_internal.h"
#include "matrix.h"
#include "test_util.h"

namespace {

using lopper_test::Matrix;
using Values = std::vector<double>;

void FreeMatrix(double** matrix, int n) {
  for (int i = 1; i < n; i++) lopper::detail::release(matrix[i]);
  lopper::detail::release(matrix);
}

TEST(Distancematrix, LowerTriangleOfEveryPair) {
  Matrix rows({{1, 2, 3}, {1, 2, 5}, {0, 0, 1}, {3, 2, 1}, {2, 2, 2}},
              {{1, 1, 1}, {1, 1, 0}, {1, 1, 1}, {0, 1, 1}, {1, 1, 1}});
  Matrix columns = rows.transposed();
  const Values w{1, 0.5, 2};
  for (const char dist : std::string("ebcauxsk")) {
    const auto metric = lopper::detail::setmetric(dist);
    for (const int transpose : {0, 1}) {
      Matrix& m = transpose ? columns : rows;
      double** d = lopper::distancematrix(m.nrows(), m.ncolumns(), m.data(), m.mask(), w.data(),
                                          dist, transpose);
      ASSERT_NE(d, nullptr);
      EXPECT_EQ(d[0], nullptr);
      // The correlations round differently: r within 1e-13.
      const double tolerance = std::string("caux").find(dist) != std::string::npos ? 1e-13 : 0;
      for (int i = 1; i < 5; i++)
        for (int j = 0; j < i; j++) {
          const double expected =
              metric(3, rows.data(), rows.data(), rows.mask(), rows.mask(), w.data(), i, j, 0);
          EXPECT_NEAR(d[i][j], expected, tolerance) << dist << " " << i << " " << j;
        }
      FreeMatrix(d, 5);
    }
  }
}

TEST(Distancematrix, SizesAndMemoryShortage) {
  Matrix one({{1, 2}});
  const Values w{1, 1};
  EXPECT_EQ(lopper::distancematrix(1, 2, one.data(), one.mask(), w.data(), 'e', 0), nullptr);
  EXPECT_EQ(lopper::distancematrix(0, 2, one.data(), one.mask(), w.data(), 'e', 0), nullptr);
  Matrix two({{1, 2}, {3, 2}});
  double** d = lopper::distancematrix(2, 2, two.data(), two.mask(), w.data(), 'e', 0);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d[1][0], 2.0);
  FreeMatrix(d, 2);

  Matrix six({{1}, {2}, {3}, {4}, {5}, {6}});
  const long before = lopper::detail::live_blocks();
  for (int k = 1; k <= 6; k++) {  // the row array, then rows 1 ... 5
    lopper::detail::fail_allocation(k);
    EXPECT_EQ(lopper::distancematrix(6, 1, six.data(), six.mask(), w.data(), 'b', 0), nullptr) << k;
    lopper::detail::fail_allocation(0);
    EXPECT_EQ(lopper::detail::live_blocks(), before) << k;
  }
}

TEST(CalculateWeights, ShrinkWithCloseNeighbours) {
  const Values w{1};
  const struct Case {
    std::vector<std::vector<double>> points;
    double cutoff, exponent;
    Values weights;
  } cases[] = {
      {{{0}, {1}, {3}}, 0.5, 1, {1, 1, 1}},
      {{{0}, {1}, {3}}, 1, 3, {1, 1, 1}},  // a distance equal to the cutoff adds nothing
      {{{2}, {2}, {2}}, 0.1, 7, {1.0 / 3, 1.0 / 3, 1.0 / 3}},
      {{{0}, {1}, {3}}, 5, 2, {1 / 1.64, 1 / 1.68, 1 / 1.04}},
  };
  for (const auto& c : cases) {
    Matrix rows(c.points);
    Matrix columns = rows.transposed();
    for (const int transpose : {0, 1}) {
      Matrix& m = transpose ? columns : rows;
      double* weights = lopper::calculate_weights(m.nrows(), m.ncolumns(), m.data(), m.mask(),
                                                  w.data(), transpose, 'e', c.cutoff, c.exponent);
      ASSERT_NE(weights, nullptr);
      for (std::size_t i = 0; i < c.weights.size(); i++)
        EXPECT_NEAR(weights[i], c.weights[i], 1e-12);
      std::free(weights);
    }
  }
  Matrix m(cases[0].points);
  lopper::detail::fail_allocation(1);
  EXPECT_EQ(lopper::calculate_weights(3, 1, m.data(), m.mask(), w.data(), 0, 'e', 1, 1), nullptr);
  lopper::detail::fail_allocation(0);
}

// e0 (0,0), e1 (1,0), e2 (4,0), e3 (0,3); squared Euclidean means.
TEST(Clusterdistance, MethodsAndInvalidArguments) {
  const std::vector<std::vector<double>> points{{0, 0}, {1, 0}, {4, 0}, {0, 3}};
  const struct Case {
    std::vector<int> g1, g2;
    char method;
    double expected;
    std::vector<std::vector<int>> mask;
  } cases[] = {
      {{0}, {1}, 's', 0.5, {}},
      {{0}, {1}, 'x', 0.5, {}},
      {{0}, {1}, 'v', 0.5, {}},
      {{0, 1}, {2, 3}, 's', 4.5, {}},
      {{0, 1}, {2, 3}, 'x', 8, {}},
      {{0, 1}, {2, 3}, 'v', 5.5, {}},
      {{0, 1}, {2, 3}, 'a', 2.25, {}},
      {{0, 1}, {2, 3}, 'm', 2.25, {}},  // median of two values is their mean
      {{0, 1, 2}, {3}, 'm', 5, {}},
      {{0, 1, 2}, {3}, 'a', (25.0 / 9 + 9) / 2, {}},
      // A dimension masked in every member drops out of that centroid.
      {{0, 1}, {2, 3}, 'a', 2.25, {{1, 0}, {1, 0}, {1, 1}, {1, 1}}},
      {{0, 1}, {2, 3}, 'm', 2.25, {{1, 0}, {1, 0}, {1, 1}, {1, 1}}},
      // Repeated members count again; the median scratch holds them all.
      {{0, 0, 0, 0, 0, 0, 1}, {3}, 'm', 4.5, {}},
      {{0, 0, 1}, {2, 2}, 'v', (8 + 8 + 8 + 8 + 4.5 + 4.5) / 6, {}},
      {{0}, {-1}, 's', -1, {}},
      {{4}, {0}, 'q', -1, {}},  // bad indices win over a bad method
      {{0}, {1}, 'q', -2, {}},
      {{}, {1}, 'a', -1, {}},
      {{0}, {}, 's', -1, {}},
  };
  const Values w{1, 1};
  for (const auto& c : cases) {
    Matrix rows(points, c.mask);
    Matrix columns = rows.transposed();
    for (const int transpose : {0, 1}) {
      Matrix& m = transpose ? columns : rows;
      const double d = lopper::clusterdistance(
          m.nrows(), m.ncolumns(), m.data(), m.mask(), w.data(), static_cast<int>(c.g1.size()),
          static_cast<int>(c.g2.size()), c.g1.data(), c.g2.data(), 'e', c.method, transpose);
      EXPECT_NEAR(d, c.expected, 1e-15)
          << c.method << " " << testing::PrintToString(c.g1) << " " << testing::PrintToString(c.g2)
          << " transpose " << transpose;
    }
  }
}

TEST(Clusterdistance, IdenticalMembersAndMemoryShortage) {
  Matrix same({{2, 5}, {2, 5}, {2, 5}});
  const Values w{1, 1};
  const std::vector<int> g1{0, 1}, g2{2};
  for (const char method : std::string("asxvm"))
    EXPECT_EQ(lopper::clusterdistance(3, 2, same.data(), same.mask(), w.data(), 2, 1, g1.data(),
                                      g2.data(), 'e', method, 0),
              0)
        << method;
  for (const char method : {'a', 'm'}) {
    lopper_test::FailNthNew(1);
    const double d = lopper::clusterdistance(3, 2, same.data(), same.mask(), w.data(), 2, 1,
                                             g1.data(), g2.data(), 'e', method, 0);
    lopper_test::FailNthNew(0);
    EXPECT_EQ(d, -1.0) << method;
  }
}

}  // namespace

namespace {

// Equal values, NaN equal to NaN.
bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// Rows of normal values, or of integers below `levels` (ties), each value
// missing with probability `missing`; then a constant row, one with a
// present NaN and one whose squares overflow.
Matrix MixedRows(std::mt19937& rng, int n, int ndata, double missing, int levels) {
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> u;
  std::vector<std::vector<double>> v(n, std::vector<double>(ndata));
  std::vector<std::vector<int>> mask(n + 3, std::vector<int>(ndata, 1));
  for (int i = 0; i < n; i++)
    for (int k = 0; k < ndata; k++) {
      v[i][k] = levels ? static_cast<double>(rng() % levels) : normal(rng);
      mask[i][k] = u(rng) >= missing;
    }
  v.emplace_back(ndata, 0.1);
  v.push_back(v[0]);
  v.back()[1] = std::nan("");
  v.emplace_back(ndata, 1e200);
  v.back()[0] = -3e200;
  return Matrix(v, mask);
}

// Pairs take paths of their own; every pair must give the measure's value,
// bit for bit, except the correlations' dot products, which round
// differently: r within 1e-13. Rows and columns, and the plain kernels
// where the processor has wider ones, must give the same bits.
TEST(Distancematrix, EveryPairGivesTheMeasuresValue) {
  enum Weights { kUnit, kReal, kCounts };  // kReal: in [0.5, 2), one 0; kCounts: 0 ... 3
  const struct Case {
    double missing;
    int levels;
    Weights weights;
    int ndata;  // beyond 64, more than one word of presence bits per element
  } cases[] = {{0, 0, kUnit, 7},         {0, 0, kReal, 7},      {0.1, 0, kUnit, 7},
               {0.1, 0, kReal, 7},       {0.05, 3, kUnit, 7},   {0.1, 0, kUnit, 70},
               {0.025, 0, kCounts, 300}, {0.4, 0, kCounts, 40}, {0.02, 4, kCounts, 90}};
  const int n = 30;
  lopper::detail::useplainkernels(false);
  const bool wide = lopper::detail::hasavx2();
  for (std::size_t c = 0; c < std::size(cases); c++) {
    const int ndata = cases[c].ndata;
    const unsigned seed = 7100 + c;
    std::mt19937 rng(seed);
    Matrix rows = MixedRows(rng, n, ndata, cases[c].missing, cases[c].levels);
    Matrix columns = rows.transposed();
    Values w(ndata, 1.0);
    for (int k = 0; k < ndata; k++)
      if (cases[c].weights == kReal)
        w[k] = k == 2 ? 0 : std::uniform_real_distribution<>(0.5, 2)(rng);
      else if (cases[c].weights == kCounts)
        w[k] = rng() % 4;
    for (const char dist : std::string("ebcauxskzEQBMC")) {
      const bool exact = std::string("ebskzEQBMC").find(dist) != std::string::npos;
      const auto metric = lopper::detail::setmetric(dist);
      std::vector<double> first;               // the rows' distances, row by row
      for (const int transpose : {0, 1, 2}) {  // 2: as 0, with the plain kernels
        if (transpose == 2 && !wide) continue;
        Matrix& m = transpose == 1 ? columns : rows;
        lopper::detail::useplainkernels(transpose == 2);
        double** d = lopper::distancematrix(m.nrows(), m.ncolumns(), m.data(), m.mask(), w.data(),
                                            dist, transpose == 1);
        lopper::detail::useplainkernels(false);
        ASSERT_NE(d, nullptr);
        for (int i = 1; i < n + 3; i++)
          for (int j = 0; j < i; j++) {
            const double expected = metric(ndata, rows.data(), rows.data(), rows.mask(),
                                           rows.mask(), w.data(), i, j, 0);
            const bool near = !exact && std::fabs(d[i][j] - expected) <= 1e-13;
            ASSERT_TRUE(Same(d[i][j], expected) || near)
                << "seed " << seed << " dist " << dist << " transpose " << transpose << " pair "
                << i << " " << j << ": " << d[i][j] << " vs " << expected;
            if (transpose == 0) first.push_back(d[i][j]);
            ASSERT_TRUE(Same(d[i][j], first[i * (i - 1) / 2 + j]))
                << "seed " << seed << " dist " << dist << " transpose " << transpose << " pair "
                << i << " " << j;
          }
        FreeMatrix(d, n + 3);
      }
    }
  }
  if (!wide) GTEST_SKIP() << lopper_test::kNoWideKernels;
}

// The distance between x and y by distancematrix, with the two as rows and
// as columns; both must agree.
double PairDistance(char dist, const Values& x, const Values& y, const std::vector<int>& mx,
                    const std::vector<int>& my, const Values& w) {
  Matrix rows({x, y}, {mx, my});
  Matrix columns = rows.transposed();
  const int n = static_cast<int>(x.size());
  double** d = lopper::distancematrix(2, n, rows.data(), rows.mask(), w.data(), dist, 0);
  double** dt = lopper::distancematrix(n, 2, columns.data(), columns.mask(), w.data(), dist, 1);
  EXPECT_TRUE(d && dt);
  const double by_rows = d ? d[1][0] : 0, by_columns = dt ? dt[1][0] : 1;
  EXPECT_TRUE(Same(by_rows, by_columns)) << dist << " " << by_rows << " " << by_columns;
  if (d) FreeMatrix(d, 2);
  if (dt) FreeMatrix(dt, 2);
  return by_rows;
}

// A value present in both elements that is not finite makes their distance
// NaN under every measure; finite values whose terms overflow give infinity
// for the differences and 1 for the correlations, and never NaN; Canberra's
// terms, each at most 1, do not overflow.
TEST(Measures, NaNExactlyForValuesThatAreNotFinite) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  const double big = 1.5e308;
  enum Expect { kNaN, kAsIfZero, kOverflow };
  const std::vector<int> all{1, 1, 1}, second_missing{1, 0, 1};
  const Values one{1, 1, 1};
  const struct Case {
    const char* catches;
    Values x, y;
    std::vector<int> mx, my;
    Values w;
    Expect expect;
  } cases[] = {
      // One that checks only the first dimension.
      {"first dimension only", {1, 2, nan}, {3, 4, 5}, all, all, one, kNaN},
      // One that checks with isnan only, missing infinities.
      {"NaN only", {inf, 2, 3}, {3, 4, 5}, all, all, one, kNaN},
      // One that checks only the first element.
      {"first element only", {1, 2, 3}, {3, -inf, 5}, all, all, one, kNaN},
      // One that ignores the mask of the element holding the value.
      {"own mask ignored", {1, nan, 3}, {3, 4, 5}, second_missing, all, one, kAsIfZero},
      // One that ignores the mask of the other element.
      {"other mask ignored", {1, inf, 3}, {3, 4, 5}, all, second_missing, one, kAsIfZero},
      // One that judges the result rather than the values: x - y overflows.
      {"overflow", {big, -big, 1}, {-big, big, -1}, all, all, one, kOverflow},
      // One that lets a zero weight times an overflowed term (NaN) through.
      {"zero weight", {big, -big, 1}, {-big, big, -1}, all, all, {0, 1, 1}, kOverflow},
  };
  for (const Case& c : cases)
    for (const char dist : std::string("ebcauxskEQBMC")) {
      const double d = PairDistance(dist, c.x, c.y, c.mx, c.my, c.w);
      const std::string what = std::string(c.catches) + " " + dist;
      if (c.expect == kNaN) {
        EXPECT_TRUE(std::isnan(d)) << what << " " << d;
      } else if (c.expect == kAsIfZero) {
        Values x = c.x, y = c.y;
        for (double& v : x) v = std::isfinite(v) ? v : 0;
        for (double& v : y) v = std::isfinite(v) ? v : 0;
        const double clean = PairDistance(dist, x, y, c.mx, c.my, c.w);
        // The clean pair's correlations may take a path that rounds
        // differently.
        const double tolerance = std::string("caux").find(dist) != std::string::npos ? 1e-13 : 0;
        EXPECT_TRUE(Same(d, clean) || std::fabs(d - clean) <= tolerance)
            << what << " " << d << " " << clean;
      } else if (std::string("ebEQBM").find(dist) != std::string::npos) {
        EXPECT_EQ(d, inf) << what;
      } else if (dist == 'C') {
        double most = 0;  // every term is 1
        for (const double w : c.w) most += w;
        EXPECT_EQ(d, most) << what;
      } else if (dist == 's' || dist == 'k') {
        EXPECT_TRUE(std::isfinite(d)) << what << " " << d;  // ranks and orders stay finite
      } else {
        EXPECT_EQ(d, 1.0) << what;
      }
    }
}

// An element and its copy with the same gaps are at distance 0 exactly
// under every correlation, and its negation under the absolute ones, as
// under the measure itself; also when the pair shares few dimensions and
// values are far from 0.
TEST(Distancematrix, CopiesWithGapsAtDistanceZero) {
  const unsigned seed = 7300;
  std::mt19937 rng(seed);
  std::normal_distribution<double> normal;
  for (const int ndata : {12, 40, 300})
    for (const double offset : {0.0, 1e4}) {
      std::vector<std::vector<double>> v;
      std::vector<std::vector<int>> mask;
      Values w(ndata);
      for (double& wk : w) wk = rng() % 3;
      for (int e = 0; e < 8; e++) {  // pairs 2e, 2e + 1
        Values x(ndata);
        std::vector<int> present(ndata);
        for (int k = 0; k < ndata; k++) {
          x[k] = offset + normal(rng);
          present[k] = rng() % 4 != 0;
        }
        v.push_back(x);
        mask.push_back(present);
        for (double& value : x) value = -value;
        v.push_back(e % 2 ? x : v.back());
        mask.push_back(present);
      }
      Matrix m(v, mask);
      for (const char dist : std::string("caux")) {
        double** d = lopper::distancematrix(16, ndata, m.data(), m.mask(), w.data(), dist, 0);
        ASSERT_NE(d, nullptr);
        const bool absolute = dist == 'a' || dist == 'x';
        for (int e = 0; e < 8; e++) {
          if (e % 2 == 1 && !absolute) continue;
          const double measured = lopper::detail::setmetric(dist)(
              ndata, m.data(), m.data(), m.mask(), m.mask(), w.data(), 2 * e + 1, 2 * e, 0);
          EXPECT_EQ(measured, 0.0);  // the data's check
          EXPECT_EQ(d[2 * e + 1][2 * e], 0.0) << "seed " << seed << " ndata " << ndata << " offset "
                                              << offset << " " << dist << " " << e;
        }
        FreeMatrix(d, 16);
      }
    }
}

}  // namespace
