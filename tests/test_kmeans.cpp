#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cluster_internal.h"
#include "matrix.h"
#include "test_util.h"

namespace {

using lopper_test::Matrix;
using Ids = std::vector<int>;

Matrix Points(const std::vector<double>& xs) {
  std::vector<std::vector<double>> rows;
  for (const double x : xs) rows.push_back({x});
  return Matrix(rows);
}

struct Result {
  Ids ids;
  double error;
  int ifound;
};

Result KCluster(Matrix& m, int nclusters, int npass, char method, Ids start = {}, char dist = 'e') {
  const std::vector<double> w(m.ncolumns(), 1.0);
  Result r{start.empty() ? Ids(m.nrows(), -7) : start, -5.0, -9};
  lopper::kcluster(nclusters, m.nrows(), m.ncolumns(), m.data(), m.mask(), w.data(), 0, npass,
                   method, dist, r.ids.data(), &r.error, &r.ifound);
  return r;
}

TEST(Kcluster, RefinesAGivenPartition) {
  struct Case {
    const char* what;
    std::vector<double> points;
    int nclusters;
    char method;
    Ids start, ids;
    double error;
  } const cases[] = {
      {"two groups", {0, 1, 10, 11}, 2, 'a', {0, 1, 1, 1}, {0, 0, 1, 1}, 1.0},
      {"medians", {0, 1, 10, 11}, 2, 'm', {0, 1, 1, 1}, {0, 0, 1, 1}, 1.0},
      {"one element each", {3, 1, 2}, 3, 'a', {2, 0, 1}, {2, 0, 1}, 0.0},
      {"ties stay", {0, 2, 4}, 2, 'a', {0, 0, 1}, {0, 0, 1}, 2.0},
  };
  for (const auto& c : cases) {
    Matrix m = Points(c.points);
    const Result r = KCluster(m, c.nclusters, 0, c.method, c.start);
    EXPECT_EQ(r.ifound, 1) << c.what;
    EXPECT_EQ(r.ids, c.ids) << c.what;
    EXPECT_DOUBLE_EQ(r.error, c.error) << c.what;
  }
}

TEST(Kcluster, RandomPasses) {
  Matrix groups = Points({0, 0.1, 0.2, 0.3, 100, 100.1, 100.2});
  for (const char method : {'a', 'm'}) {
    lopper::setrandomseed(17, 23);
    const Result r = KCluster(groups, 2, 20, method);
    EXPECT_EQ(r.ifound, 20) << method;
    EXPECT_EQ(r.ids[0], r.ids[3]);
    EXPECT_EQ(r.ids[4], r.ids[6]);
    EXPECT_NE(r.ids[0], r.ids[4]);
    // Reproducible from the same seeds; one pass alone agrees.
    lopper::setrandomseed(17, 23);
    const Result again = KCluster(groups, 2, 20, method);
    EXPECT_EQ(again.ids, r.ids);
    EXPECT_EQ(again.error, r.error);
    for (const int npass : {1, -3}) {
      const Result one = KCluster(groups, 2, npass, method);
      EXPECT_EQ(one.ifound, 1);
      EXPECT_DOUBLE_EQ(one.error, r.error);
    }
  }
  // Every element alone: nothing moves, error 0.
  Matrix three = Points({5, 1, 3});
  const Result all = KCluster(three, 3, 4, 'a');
  EXPECT_EQ(std::set<int>(all.ids.begin(), all.ids.end()).size(), 3u);
  EXPECT_EQ(all.error, 0.0);
  EXPECT_EQ(all.ifound, 4);
  // One cluster over several passes reports its total.
  const Result one = KCluster(three, 1, 3, 'a');
  EXPECT_EQ(one.ids, Ids(3, 0));
  EXPECT_EQ(one.ifound, 3);
  EXPECT_DOUBLE_EQ(one.error, (4.0 + 4.0 + 0.0));
}

TEST(Kcluster, BadArgumentsTouchNothing) {
  Matrix m = Points({0, 1, 2});
  struct Case {
    int nclusters, npass;
    Ids start;
  } const cases[] = {
      {0, 1, {7, 7, 7}},  {-2, 1, {7, 7, 7}}, {4, 1, {7, 7, 7}}, {2, 0, {0, 2, 1}},
      {2, 0, {0, -1, 1}}, {3, 0, {1, 1, 2}}};  // cluster 0 has no member: no centroid
  for (const auto& c : cases) {
    const Result r = KCluster(m, c.nclusters, c.npass, 'a', c.start);
    EXPECT_EQ(r.ifound, 0);
    EXPECT_EQ(r.ids, c.start);
    EXPECT_EQ(r.error, -5.0);
  }
  Matrix none(std::vector<std::vector<double>>{});
  const Result r = KCluster(none, 1, 1, 'a');
  EXPECT_EQ(r.ifound, 0);
}

TEST(Kcluster, MemoryShortageGivesMinusOne) {
  Matrix m = Points({0, 1, 5, 6, 9});
  const long before = lopper::detail::live_blocks();
  for (const char method : {'a', 'm'})
    for (const int npass : {0, 1, 3})
      for (const bool in_new : {false, true})
        for (const bool plusplus : {false, true}) {
          if (plusplus && npass == 0) continue;
          int failures = 0;
          for (long k = 1;; k++) {
            const std::vector<double> w{1.0};
            Result r{Ids{0, 0, 1, 1, 1}, -5.0, -9};
            in_new ? lopper_test::FailNthNew(k) : lopper::detail::fail_allocation(k);
            const auto passes = plusplus ? lopper::kclusterplusplus : lopper::kcluster;
            passes(2, 5, 1, m.data(), m.mask(), w.data(), 0, npass, method, 'e', r.ids.data(),
                   &r.error, &r.ifound);
            const bool fired = in_new ? lopper_test::PendingNewFailure() == 0 : r.ifound == -1;
            lopper_test::FailNthNew(0);
            lopper::detail::fail_allocation(0);
            if (!fired) break;
            failures++;
            EXPECT_EQ(r.ifound, -1) << method << npass << plusplus << " k " << k;
            EXPECT_EQ(r.error, -5.0);
            EXPECT_EQ(lopper::detail::live_blocks(), before);
            ASSERT_LT(k, 50);
          }
          EXPECT_GE(failures, 1);
        }
}

TEST(Getclustercentroids, MeansAndMediansOfPresentValues) {
  Matrix rows({{1, 5}, {3, 0}, {10, 7}, {0, 9}}, {{1, 1}, {1, 0}, {1, 1}, {1, 1}});
  Matrix columns = rows.transposed();
  const Ids id{0, 0, 1, 1};
  struct Case {
    char method;
    std::vector<std::vector<double>> values;
  } const cases[] = {{'a', {{2, 5}, {5, 8}}}, {'m', {{2, 5}, {5, 8}}}};
  for (const auto& c : cases) {
    for (const int transpose : {0, 1}) {
      Matrix& m = transpose ? columns : rows;
      Matrix centroids(transpose ? std::vector<std::vector<double>>(2, {0, 0}) : c.values);
      lopper::getclustercentroids(2, m.nrows(), m.ncolumns(), m.data(), m.mask(), id.data(),
                                  centroids.data(), centroids.mask(), transpose, c.method);
      for (int k = 0; k < 2; k++)
        for (int d = 0; d < 2; d++)
          EXPECT_EQ(transpose ? centroids.data()[d][k] : centroids.data()[k][d], c.values[k][d]);
    }
  }
  // A position without any value in a cluster: 0.0, masked.
  Matrix gap({{1, 5}, {3, 4}}, {{1, 0}, {1, 0}});
  Matrix c(std::vector<std::vector<double>>{{9, 9}});
  for (const char method : {'a', 'm'}) {
    ASSERT_EQ(lopper::getclustercentroids(1, 2, 2, gap.data(), gap.mask(), Ids{0, 0}.data(),
                                          c.data(), c.mask(), 0, method),
              1);
    EXPECT_EQ(c.data()[0][0], 2.0);
    EXPECT_EQ(c.data()[0][1], 0.0);
    EXPECT_EQ(c.mask()[0][1], 0);
  }
  EXPECT_EQ(lopper::getclustercentroids(1, 2, 2, gap.data(), gap.mask(), Ids{0, 0}.data(), c.data(),
                                        c.mask(), 0, 'x'),
            0);
  EXPECT_EQ(lopper::getclustercentroids(1, 2, 2, gap.data(), gap.mask(), Ids{0, 1}.data(), c.data(),
                                        c.mask(), 0, 'a'),
            0);
}

// Distances between points on a line.
lopper_test::Lower LineMatrix(const std::vector<double>& xs) {
  std::vector<std::vector<double>> rows(xs.size());
  for (std::size_t i = 1; i < xs.size(); i++)
    for (std::size_t j = 0; j < i; j++) rows[i].push_back(std::fabs(xs[i] - xs[j]));
  return lopper_test::Lower(rows);
}

TEST(Kmedoids, Cases) {
  struct Case {
    const char* what;
    std::vector<double> points;
    int nclusters, npass;
    Ids start, ids;
    double error;
    int ifound;
  } const cases[] = {
      {"each its own medoid", {4, 1, 9}, 3, 1, {}, {0, 1, 2}, 0, 1},
      {"one cluster", {0, 1, 2, 10}, 1, 1, {}, {1, 1, 1, 1}, 1 + 0 + 1 + 9, 1},
      {"tie goes to the lower number", {0, 1}, 1, 1, {}, {0, 0}, 1, 1},
      {"given partition",
       {0, 1, 2, 10, 11},
       2,
       0,
       {0, 0, 1, 1, 1},
       {1, 1, 1, 3, 3},
       1 + 0 + 1 + 0 + 1,
       1},
      {"coincident medoids keep themselves", {3, 3}, 2, 0, {0, 1}, {0, 1}, 0, 1},
      {"passes agree", {0, 0.1, 0.2, 50, 50.1}, 2, 12, {}, {1, 1, 1, 3, 3}, 0.1 + 0.1 + 0.1, 12},
  };
  lopper::setrandomseed(3, 4);
  for (const auto& c : cases) {
    lopper_test::Lower d = LineMatrix(c.points);
    Ids ids = c.start.empty() ? Ids(c.points.size(), -1) : c.start;
    double error = -5;
    int ifound = -9;
    lopper::kmedoids(c.nclusters, static_cast<int>(c.points.size()), d.data(), c.npass, ids.data(),
                     &error, &ifound);
    EXPECT_EQ(ifound, c.ifound) << c.what;
    EXPECT_EQ(ids, c.ids) << c.what;
    EXPECT_NEAR(error, c.error, 1e-12) << c.what;
  }
}

TEST(Kmedoids, BadArgumentsAndMemoryShortage) {
  lopper_test::Lower d = LineMatrix({0, 1, 2, 3});
  struct Case {
    int nclusters, npass;
    Ids start;
  } const cases[] = {
      {0, 1, {7, 7, 7, 7}}, {5, 1, {7, 7, 7, 7}}, {2, 0, {0, 0, 2, 1}}, {3, 0, {0, 0, 2, 2}}};
  for (const auto& c : cases) {
    Ids ids = c.start;
    double error = -5;
    int ifound = -9;
    lopper::kmedoids(c.nclusters, 4, d.data(), c.npass, ids.data(), &error, &ifound);
    EXPECT_EQ(ifound, 0);
    EXPECT_EQ(ids, c.start);
    EXPECT_EQ(error, -5);
  }
  for (const int npass : {0, 1, 4}) {
    int failures = 0;
    for (long k = 1;; k++) {
      Ids ids{0, 0, 1, 1};
      double error = -5;
      int ifound = -9;
      lopper_test::FailNthNew(k);
      lopper::kmedoids(2, 4, d.data(), npass, ids.data(), &error, &ifound);
      const bool fired = lopper_test::PendingNewFailure() == 0;
      lopper_test::FailNthNew(0);
      if (!fired) break;
      failures++;
      EXPECT_EQ(ifound, -1);
      EXPECT_EQ(ids, (Ids{0, 0, 1, 1}));
      EXPECT_EQ(error, -5);
    }
    EXPECT_GE(failures, 1);
  }
}

TEST(Getclustermedoids, SmallestSumLowestNumberOnTies) {
  lopper_test::Lower d = LineMatrix({0, 1, 2, 10, 20});
  const Ids id{0, 0, 0, 1, 1};
  Ids centroids{-1, -1, -1};
  std::vector<double> errors(3);
  lopper::getclustermedoids(3, 5, d.data(), id.data(), centroids.data(), errors.data());
  EXPECT_EQ(centroids, (Ids{1, 3, -1}));
  EXPECT_EQ(errors[0], 2.0);
  EXPECT_EQ(errors[1], 10.0);
  EXPECT_EQ(errors[2], DBL_MAX);
}

}  // namespace

namespace {

// Clustering the columns of the transposed data is clustering the rows.
TEST(Kcluster, RowsAndColumnsAgree) {
  std::mt19937 rng(12);
  std::normal_distribution<double> normal;
  std::vector<std::vector<double>> v(25, std::vector<double>(3));
  std::vector<std::vector<int>> mk(25, std::vector<int>(3, 1));
  for (int i = 0; i < 25; i++)
    for (int k = 0; k < 3; k++) {
      v[i][k] = normal(rng) + (i % 3) * 4;
      mk[i][k] = (i + k) % 7 != 0;
    }
  Matrix rows(v, mk);
  Matrix columns = rows.transposed();
  const std::vector<double> w(3, 1.0);
  for (const char method : {'a', 'm'})
    for (const int npass : {0, 1, 4}) {
      Result r[2];
      for (const int transpose : {0, 1}) {
        Matrix& m = transpose ? columns : rows;
        r[transpose] = {Ids(25), -5, -9};
        for (int i = 0; i < 25; i++) r[transpose].ids[i] = i % 3;
        lopper::setrandomseed(3, 9);
        lopper::kcluster(3, m.nrows(), m.ncolumns(), m.data(), m.mask(), w.data(), transpose, npass,
                         method, 'e', r[transpose].ids.data(), &r[transpose].error,
                         &r[transpose].ifound);
      }
      EXPECT_EQ(r[0].ids, r[1].ids) << method << npass;
      EXPECT_EQ(r[0].error, r[1].error) << method << npass;
      EXPECT_EQ(r[0].ifound, r[1].ifound) << method << npass;
      EXPECT_GE(r[0].ifound, 1);
    }
}

}  // namespace

namespace {

// Bit for bit, NaN included.
bool Same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Value d of element e of m, whose elements are its columns when transpose.
double& At(Matrix& m, int e, int d, int transpose) {
  return transpose ? m.data()[d][e] : m.data()[e][d];
}
int& PresentAt(Matrix& m, int e, int d, int transpose) {
  return transpose ? m.mask()[d][e] : m.mask()[e][d];
}

// The distance of element i of a to element j of b by code dist ('e' and
// the codes read as 'e', 'b', 'E', 'Q', 'B', 'M', 'c') as cluster.h defines
// it, summing over the dimensions present in both in ascending order: NaN
// when one of their values is not finite; a weighted mean for 'e' and 'b'
// (0 without common dimensions), R's scaling for 'E', 'Q' and 'B', an
// overflowed sum (NaN) infinitely far; 1 - r for 'c', 0 without common
// dimensions, 1 without spread or with r lost to overflow.
double ReferenceDistance(char dist, Matrix& a, Matrix& b, const std::vector<double>& w, int i,
                         int j, int transpose) {
  const int ndata = static_cast<int>(w.size());
  double sum = 0, present = 0, total = 0, most = 0;
  double sx = 0, sy = 0, sxy = 0, sxx = 0, syy = 0;
  for (int d = 0; d < ndata; d++) {
    total += w[d];
    if (!PresentAt(a, i, d, transpose) || !PresentAt(b, j, d, transpose)) continue;
    const double x = At(a, i, d, transpose), y = At(b, j, d, transpose), diff = x - y;
    if (!std::isfinite(x) || !std::isfinite(y)) return std::nan("");
    sum += w[d] * (std::strchr("bB", dist) ? std::fabs(diff) : diff * diff);
    present += w[d];
    if (w[d] > 0) most = std::max(most, std::fabs(diff));
    sx += w[d] * x, sy += w[d] * y, sxy += w[d] * x * y, sxx += w[d] * x * x, syy += w[d] * y * y;
  }
  if (dist == 'M') return most;
  if (present == 0) return 0;
  if (dist == 'c') {
    const double dx = sxx - sx * sx / present, dy = syy - sy * sy / present;
    if (!(dx > 0) || !(dy > 0)) return 1;
    const double r = (sxy - sx * sy / present) / std::sqrt(dx * dy);
    return std::isnan(r) ? 1 : std::max(0.0, 1 - r);
  }
  double distance = std::strchr("EQB", dist) ? sum / (present / total) : sum / present;
  if (std::isnan(distance)) distance = HUGE_VAL;
  return dist == 'E' ? std::sqrt(distance) : distance;
}

// The centroids of the k clusters of ids into c: per dimension, the mean of
// the members' present values (summed in element order) or, for method
// 'm', their median (the mean of the middle two for an even count); 0 and
// missing where no member has a value.
void ReferenceCentroids(Matrix& m, int transpose, int k, char method, const Ids& ids, Matrix& c) {
  const int ndata = transpose ? m.nrows() : m.ncolumns();
  for (int j = 0; j < k; j++)
    for (int d = 0; d < ndata; d++) {
      std::vector<double> values;
      for (std::size_t e = 0; e < ids.size(); e++)
        if (ids[e] == j && PresentAt(m, static_cast<int>(e), d, transpose))
          values.push_back(At(m, static_cast<int>(e), d, transpose));
      const std::size_t n = values.size();
      double centre = 0;
      if (n > 0 && method == 'm') {
        std::sort(values.begin(), values.end());
        centre = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
      } else if (n > 0) {
        for (const double x : values) centre += x;
        centre /= static_cast<double>(n);
      }
      At(c, j, d, transpose) = centre;
      PresentAt(c, j, d, transpose) = n > 0;
    }
}

// One kcluster pass as cluster.h describes it: until the error stops
// falling, centroids of the current partition, then each element not
// alone in its cluster moved to the first strictly closer centroid.
double ReferencePass(Matrix& m, int transpose, const std::vector<double>& w, int k, char method,
                     char dist, Ids& ids) {
  const int n = transpose ? m.ncolumns() : m.nrows(), ndata = transpose ? m.nrows() : m.ncolumns();
  Matrix c(std::vector<std::vector<double>>(transpose ? ndata : k,
                                            std::vector<double>(transpose ? k : ndata)));
  std::vector<int> counts(k, 0);
  for (const int id : ids) counts[id]++;
  for (double total = DBL_MAX;;) {
    const double previous = total;
    ReferenceCentroids(m, transpose, k, method, ids, c);
    total = 0;
    for (int i = 0; i < n; i++) {
      if (counts[ids[i]] == 1) continue;
      auto to = [&](int j) { return ReferenceDistance(dist, m, c, w, i, j, transpose); };
      double d = to(ids[i]);
      for (int j = 0; j < k; j++)
        if (j != ids[i] && to(j) < d) d = to(j), counts[ids[i]]--, ids[i] = j, counts[j]++;
      total += d;
    }
    if (!(total < previous)) return total;
  }
}

TEST(Kcluster, FastPathsGiveTheReferenceResultBitForBit) {
  struct Case {
    const char* what;
    double missing, scale;
    bool unit;
    char dist, method;
  } const cases[] = {
      {"complete e", 0, 1, true, 'e', 'a'},
      {"complete b", 0, 1, true, 'b', 'a'},
      {"weighted e", 0, 1, false, 'e', 'a'},
      {"weighted b", 0, 1, false, 'b', 'a'},
      {"missing e", 0.05, 1, true, 'e', 'a'},
      {"missing weighted b", 0.05, 1, false, 'b', 'a'},
      {"medians e", 0, 1, true, 'e', 'm'},
      {"medians missing b", 0.1, 1, true, 'b', 'm'},
      {"code read as e", 0, 1, true, 'z', 'a'},
      {"complete E", 0, 1, true, 'E', 'a'},
      {"weighted Q", 0, 1, false, 'Q', 'a'},
      {"missing weighted B", 0.05, 1, false, 'B', 'a'},
      {"medians missing E", 0.1, 1, true, 'E', 'm'},
      {"maximum", 0.05, 1, true, 'M', 'a'},
      {"pearson", 0.05, 1, true, 'c', 'a'},
      {"centroids overflow", 0, 1e307, true, 'e', 'a'},
  };
  const unsigned seed = 2024;
  lopper::detail::useplainkernels(false);
  const bool wide = lopper::detail::hasavx2();
  for (const auto& c : cases)
    for (const int transpose : {0, 1})
      for (const int npass : {0, 1})
        for (const bool plain : {false, true}) {
          if (!plain && !wide) continue;
          lopper::detail::useplainkernels(plain);  // the processor's kernels and the plain ones
          std::mt19937 rng(seed);
          Matrix rows = lopper_test::RandomMatrix(51, 7, rng, c.missing);
          for (int i = 0; i < 51; i++)
            for (int d = 0; d < 7; d++)
              rows.data()[i][d] = (rows.data()[i][d] + i % 3 * 2) * c.scale;
          Matrix m = transpose ? rows.transposed() : rows;
          std::vector<double> w(7, 1.0);
          if (!c.unit) w = {0.5, 2, 0, 1.25, 3, 0.75, 1};
          Ids ids(51), expected(51);
          for (int i = 0; i < 51; i++) ids[i] = expected[i] = i % 4;
          double error = -5;
          int ifound = -9;
          lopper::setrandomseed(seed, 7);
          lopper::kcluster(4, m.nrows(), m.ncolumns(), m.data(), m.mask(), w.data(), transpose,
                           npass, c.method, c.dist, ids.data(), &error, &ifound);
          lopper::setrandomseed(seed, 7);
          if (npass) lopper::detail::randomassign(4, 51, expected.data());
          const double reference = ReferencePass(m, transpose, w, 4, c.method, c.dist, expected);
          const std::string what = std::string(c.what) + " transpose " + std::to_string(transpose) +
                                   " npass " + std::to_string(npass) + " plain " +
                                   std::to_string(plain) + ", seed " + std::to_string(seed);
          EXPECT_EQ(ifound, 1) << what;
          EXPECT_EQ(ids, expected) << what;
          EXPECT_TRUE(Same(error, reference)) << what << ": " << error << " " << reference;
        }
  lopper::detail::useplainkernels(false);
  if (!wide) GTEST_SKIP() << lopper_test::kNoWideKernels;
}

TEST(CompleteRows, PairDistancesAreMeasuresBitForBit) {
  const unsigned seed = 77;
  std::mt19937 rng(seed);
  Matrix m = lopper_test::RandomMatrix(30, 9, rng, 0.05);
  m.data()[3][2] = HUGE_VAL;  // present and not finite: element 3 takes Measure
  for (const bool unit : {true, false})
    for (const char dist : {'e', 'b', 'E', 'Q', 'B'}) {
      std::vector<double> w(9, 1.0);
      if (!unit)
        for (int d = 0; d < 9; d++) w[d] = 0.25 * d;
      const lopper::detail::CompleteRows rows({30, 9, m.data(), m.mask(), w.data(), 0}, dist);
      int usable = 0;
      for (int i = 0; i < 30; i++) {
        usable += rows.usable(i);
        for (int j = 0; j < 30 && rows.usable(i); j++) {
          if (!rows.usable(j)) continue;
          EXPECT_TRUE(Same(rows.distance(i, j), ReferenceDistance(dist, m, m, w, i, j, 0)))
              << dist << unit << " " << i << " " << j << ", seed " << seed;
        }
      }
      EXPECT_FALSE(rows.usable(3));
      EXPECT_GT(usable, 10);
      EXPECT_LT(usable, 30);
    }
}

// k-means++ partitions of a matrix with unit weights; the result and ids.
std::pair<int, Ids> PlusPlus(Matrix& m, int k, char dist, int seed) {
  const std::vector<double> w(m.ncolumns(), 1.0);
  Ids ids(m.nrows(), -7);
  lopper::setrandomseed(seed, seed + 1);
  const int ok = lopper::kmeansplusplus(k, m.nrows(), m.ncolumns(), m.data(), m.mask(), w.data(), 0,
                                        dist, ids.data());
  return {ok, ids};
}

TEST(Kmeansplusplus, EveryClusterHasMembersAndRunsRepeat) {
  std::mt19937 rng(31);
  struct Case {
    const char* what;
    Matrix m;
    int k;
    char dist;
    Ids groups;  // elements of one group share a cluster; empty: not checked
  } cases[] = {
      {"separated groups",
       Points({0, 0.1, 2000, 1000, 0.2, 1000.1, 2000.1}),
       3,
       'e',
       {0, 0, 2, 1, 0, 1, 2}},
      {"all equal", Points({4, 4, 4, 4, 4}), 3, 'e', {}},
      {"as many clusters as elements", Points({3, 1, 2, 1}), 4, 'b', {}},
      {"missing values, pearson", lopper_test::RandomMatrix(40, 5, rng, 0.2), 6, 'c', {}},
  };
  for (auto& c : cases)
    for (const int seed : {1, 99}) {
      const auto [ok, ids] = PlusPlus(c.m, c.k, c.dist, seed);
      ASSERT_EQ(ok, 1) << c.what;
      EXPECT_EQ(std::set<int>(ids.begin(), ids.end()).size(), static_cast<std::size_t>(c.k))
          << c.what << ", seed " << seed;
      EXPECT_EQ(*std::max_element(ids.begin(), ids.end()), c.k - 1) << c.what;
      EXPECT_EQ(PlusPlus(c.m, c.k, c.dist, seed).second, ids) << c.what << ", seed " << seed;
      for (std::size_t i = 0; i < c.groups.size(); i++)
        for (std::size_t j = 0; j < i; j++)
          EXPECT_EQ(ids[i] == ids[j], c.groups[i] == c.groups[j])
              << c.what << " " << i << " " << j << ", seed " << seed;
      const Result refined = KCluster(c.m, c.k, 0, 'a', ids, c.dist);
      EXPECT_EQ(refined.ifound, 1) << c.what;
    }
}

// k-means++ as first written: every distance by the reference, one pair
// at a time; the draws as the library documents them (the first centre uniform,
// then the best of 2 + ln k samples by the sum of distances left).
Ids PlainPlusPlus(Matrix& m, int k, char dist, int seed) {
  const int n = m.nrows();
  const std::vector<double> w(m.ncolumns(), 1.0);
  const auto d = [&](int i, int c) { return ReferenceDistance(dist, m, m, w, i, c, 0); };
  std::vector<double> nearest(n, HUGE_VAL);
  Ids owner(n, 0), centre(n, 0);
  const auto weight = [&](int i, double x) { return !centre[i] && x > 0 ? x : 0.0; };
  const auto add = [&](int j, int c) {
    centre[c] = 1;
    for (int i = 0; i < n; i++)
      if (d(i, c) < nearest[i]) nearest[i] = d(i, c), owner[i] = j;
  };
  lopper::setrandomseed(seed, seed + 1);
  std::vector<int> centres{std::min(n - 1, static_cast<int>(n * lopper::detail::uniform()))};
  add(0, centres[0]);
  for (int j = 1; j < k; j++) {
    double total = 0;
    for (int i = 0; i < n; i++) total += weight(i, nearest[i]);
    int best = -1;
    double lowest = 0;
    for (int t = 0; t < 2 + static_cast<int>(std::log(static_cast<double>(k))); t++) {
      const double target = lopper::detail::uniform() * total;
      double sum = 0;
      int c = -1;
      for (int i = 0; i < n && !(sum > target); i++)
        if (weight(i, nearest[i]) > 0) sum += weight(c = i, nearest[i]);
      double left = 0;
      for (int i = 0; i < n; i++) left += weight(i, i == c ? 0.0 : std::min(d(i, c), nearest[i]));
      if (best < 0 || left < lowest) best = c, lowest = left;
    }
    add(j, best);
    centres.push_back(best);
  }
  for (int j = 0; j < k; j++) owner[centres[j]] = j;
  return owner;
}

// The draws measure a block of elements at a time, with the processor's
// kernels and the plain ones: the partition of the straightforward draws.
TEST(Kmeansplusplus, BlockedDistancesDrawAsThePlainMeasure) {
  const unsigned seed = 4040;
  std::mt19937 rng(seed);
  lopper::detail::useplainkernels(false);
  const bool wide = lopper::detail::hasavx2();
  for (const char dist : {'e', 'b', 'E', 'c'})
    for (const double missing : {0.0, 0.1}) {
      Matrix m = lopper_test::RandomMatrix(203, 6, rng, missing);
      const Ids expected = PlainPlusPlus(m, 7, dist, 5);
      for (const bool plain : {false, true}) {
        if (!plain && !wide) continue;
        lopper::detail::useplainkernels(plain);
        EXPECT_EQ(PlusPlus(m, 7, dist, 5).second, expected)
            << "seed " << seed << " dist " << dist << " missing " << missing << " plain " << plain;
      }
      lopper::detail::useplainkernels(false);
    }
  if (!wide) GTEST_SKIP() << lopper_test::kNoWideKernels;
}

TEST(Kmeansplusplus, FailuresChangeNothing) {
  Matrix m = Points({0, 1, 5, 6, 9});
  const std::vector<double> w{1.0};
  for (const int k : {0, 6}) {
    Ids ids(5, 7);
    EXPECT_EQ(lopper::kmeansplusplus(k, 5, 1, m.data(), m.mask(), w.data(), 0, 'e', ids.data()), 0);
    EXPECT_EQ(ids, Ids(5, 7));
  }
  EXPECT_EQ(lopper::kmeansplusplus(2, 5, 1, nullptr, m.mask(), w.data(), 0, 'e', Ids(5).data()), 0);
  for (const char dist : {'e', 's'}) {
    int failures = 0;
    for (long k = 1;; k++) {
      Ids ids(5, 7);
      lopper::setrandomseed(5, 6);
      lopper_test::FailNthNew(k);
      const int ok =
          lopper::kmeansplusplus(2, 5, 1, m.data(), m.mask(), w.data(), 0, dist, ids.data());
      const bool fired = lopper_test::PendingNewFailure() == 0;
      lopper_test::FailNthNew(0);
      if (!fired) break;
      failures++;
      int s1, s2;
      lopper::getrandomseed(&s1, &s2);
      EXPECT_EQ(ok, -1) << dist << " k " << k;
      EXPECT_EQ(ids, Ids(5, 7));
      EXPECT_EQ(s1, 5);  // nothing drawn
      EXPECT_EQ(s2, 6);
      ASSERT_LT(k, 50);
    }
    EXPECT_GE(failures, 1);
  }
}

// Passes from k-means++ starts: pass i refines the i-th draw of the
// seeded generator as kcluster refines a given partition, and the passes
// are judged in order (a strictly smaller error replaces the best, the
// best partition found again counts); whatever the thread count.
TEST(Kclusterplusplus, DrawsRefinesAndJudgesInPassOrder) {
  const unsigned seed = 2024;
  std::mt19937 rng(seed);
  Matrix m = lopper_test::RandomMatrix(300, 5, rng, 0.1);
  const std::vector<double> w(5, 1.0);
  for (const char method : {'a', 'm'})
    for (const int npass : {1, 3, 7}) {
      Result expected{Ids(300), 0, 0};
      lopper::setrandomseed(11, 12);
      for (int pass = 0; pass < npass; pass++) {
        Result r{Ids(300), 0, 0};
        ASSERT_EQ(
            lopper::kmeansplusplus(6, 300, 5, m.data(), m.mask(), w.data(), 0, 'e', r.ids.data()),
            1);
        lopper::kcluster(6, 300, 5, m.data(), m.mask(), w.data(), 0, 0, method, 'e', r.ids.data(),
                         &r.error, &r.ifound);
        ASSERT_EQ(r.ifound, 1);
        std::set<std::pair<int, int>> pairs;
        for (int e = 0; e < 300; e++) pairs.insert({expected.ids[e], r.ids[e]});
        if (pass > 0 && pairs.size() == 6)
          expected.ifound++;
        else if (pass == 0 || r.error < expected.error)
          expected = {r.ids, r.error, 1};
      }
      for (const int threads : {1, 2}) {
        lopper::setthreads(threads);
        lopper::setrandomseed(11, 12);
        Result got{Ids(300), 0, 0};
        lopper::kclusterplusplus(6, 300, 5, m.data(), m.mask(), w.data(), 0, npass, method, 'e',
                                 got.ids.data(), &got.error, &got.ifound);
        const std::string what = std::string("seed ") + std::to_string(seed) + " method " + method +
                                 " npass " + std::to_string(npass);
        EXPECT_EQ(got.ids, expected.ids) << what;
        EXPECT_EQ(got.error, expected.error) << what;
        EXPECT_EQ(got.ifound, expected.ifound) << what;
      }
      lopper::setthreads(0);
    }
  Result none{Ids(300, 7), -5, -9};
  lopper::kclusterplusplus(6, 300, 5, m.data(), m.mask(), w.data(), 0, 0, 'a', 'e', none.ids.data(),
                           &none.error, &none.ifound);
  EXPECT_EQ(none.ifound, 0);
  EXPECT_EQ(none.ids, Ids(300, 7));
}

}  // namespace
