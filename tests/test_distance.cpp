#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "cluster_internal.h"
#include "matrix.h"
#include "peers.h"
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
      // Sums, not means; with gaps scaled by total / present weight.
      {'Q', {1, 2, 3}, {1, 2, 5}, one3, {}, {}, 4},
      {'E', {1, 2, 3}, {1, 2, 5}, one3, {}, {}, 2},
      {'B', {1, 2, 3}, {0, 2, 5}, one3, {}, {}, 3},
      {'Q', {1, 2, 3}, {1, 2, 5}, {1, 1, 2}, {}, {}, 8},
      {'E', {1, 2, 3}, {0, 2, 5}, {1, 1, 2}, {}, {1, 1, 0}, std::sqrt(2.0)},
      {'Q', {1, 2, 3}, {0, 2, 5}, one3, {}, {1, 1, 0}, 1.5},
      {'B', {1, 2, 3}, {0, 4, 5}, {1, 1, 2}, {0, 1, 1}, {}, 6 * 4.0 / 3},
      {'B', {1, 2, 3}, {0, 4, 5}, {0, 0, 0}, {}, {}, 0},
      // Weights only select dimensions; gaps are not scaled.
      {'M', {1, 2, 3}, {2, 2, 9}, one3, {}, {}, 6},
      {'M', {1, 2, 3}, {2, 2, 9}, {0.5, 1, 0}, {}, {}, 1},
      {'M', {1, 2, 3}, {3, 2, 9}, one3, {}, {1, 1, 0}, 2},
      {'M', {-1, 2, 3}, {2, 2, 9}, {0, 0, 0}, {}, {}, 0},
      // |x| + |y| below, not |x + y|; a 0/0 term is missing.
      {'C', {-1, 2}, {3, 2}, {1, 1}, {}, {}, 1},
      {'C', {1, 2, 0}, {3, 2, 0}, one3, {}, {}, 0.75},
      {'C', {1, 2, 0}, {3, 2, 0}, {2, 1, 1}, {}, {}, 4.0 / 3},
      {'C', {1, 2, 4}, {3, 2, 0}, {1, 1, 1}, {}, {1, 0, 1}, 1.5 * (0.5 + 1)},
      {'C', {0, 0}, {0, 0}, {1, 1}, {}, {}, 0},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(Measure(c.dist, c.x, c.y, c.weight, c.mx, c.my), c.expected, 1e-15)
        << c.dist << " " << testing::PrintToString(c.x) << " " << testing::PrintToString(c.y);
}

TEST(Measures, NoCommonDimensionGivesZero) {
  for (const char dist : std::string("ebcauxskEQBMC")) {
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
               {'z', euclid},       {'E', rootsquares},   {'0', euclid},      {'\0', euclid},
               {'Q', sumsquares},   {'B', sumabsolute},   {'M', maximum},     {'C', canberra},
               {'q', euclid}};
  for (const auto& c : cases) EXPECT_EQ(setmetric(c.dist), c.metric) << c.dist;
}

// meandifferences sends a code to the centroid linkage's means of
// differences: the sums 'E', 'Q', 'B' and the other new codes do not belong
// there.
TEST(Setmetric, OnlyMeansAreMeanDifferences) {
  for (const char dist : std::string("ebz0"))
    EXPECT_TRUE(lopper::detail::meandifferences(dist)) << dist;
  for (const char dist : std::string("EQBMCcs"))
    EXPECT_FALSE(lopper::detail::meandifferences(dist)) << dist;
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

// Every number in the file, "NA" as NaN.
Values ReadNumbers(const std::string& path) {
  std::ifstream in(path);
  Values v;
  for (std::string word; in >> word;)
    v.push_back(word == "NA" ? std::nan("") : std::strtod(word.c_str(), nullptr));
  return v;
}

// n rows of the values, NaN as missing.
Matrix WithGaps(const Values& v, int n) {
  const std::size_t width = v.size() / n;
  std::vector<Values> rows(n);
  std::vector<Mask> mask(n);
  for (std::size_t c = 0; c < v.size(); c++) {
    rows[c / width].push_back(std::isnan(v[c]) ? 0 : v[c]);
    mask[c / width].push_back(!std::isnan(v[c]));
  }
  return Matrix(rows, mask);
}

// Every pair's distance by code dist against a peer's square matrix
// `expected` raised to `power`, to 1e-12 relative; where the peer has none
// (NaN: no dimension in common) the library's 0.
void ExpectPeerDistances(Matrix& m, char dist, const Values& expected, int power,
                         const std::string& what) {
  const int n = m.nrows();
  ASSERT_EQ(expected.size(), static_cast<std::size_t>(n) * n) << what;
  const Values w(m.ncolumns(), 1.0);
  double** d = lopper::distancematrix(n, m.ncolumns(), m.data(), m.mask(), w.data(), dist, 0);
  ASSERT_NE(d, nullptr);
  for (int i = 1; i < n; i++)
    for (int j = 0; j < i; j++) {
      const double peer = std::pow(expected[i * n + j], power);
      const bool near = std::isnan(peer) ? d[i][j] == 0
                                         : d[i][j] == peer ||
                                               std::fabs(d[i][j] - peer) <= 1e-12 * std::fabs(peer);
      EXPECT_TRUE(near) << what << " " << dist << " pair " << i << " " << j << ": " << d[i][j]
                        << " vs " << peer;
    }
  for (int i = 1; i < n; i++) lopper::detail::release(d[i]);
  lopper::detail::release(d);
}

// R's dist() with its rule for missing values, on data sets with gaps:
// USArrests with one pair that has no column in common, iris, and counts
// from -1 up, whose pairs have 0/0 Canberra terms and x = -y.
TEST(PeerDistances, AgreeWithRDist) {
  if (std::system("Rscript -e 'invisible(0)' >/dev/null 2>&1") != 0)
    return lopper_test::SkipWithoutPeer("Rscript (r-base-core) not installed");
  lopper_test::TempDir dir;
  const auto run = lopper_test::RunProgram(
      dir, "Rscript",
      {"-e",
       "a <- as.matrix(USArrests); a[cbind(c(2, 5, 9, 14, 22, 30, 41), c(1, 3, 4, 2, 1, 4, 3))]"
       " <- NA; a[1, 2:4] <- NA; a[3, c(1, 3, 4)] <- NA\n"
       "i <- as.matrix(iris[, 1:4]); i[seq(7, 150, 11), 2] <- NA; i[seq(3, 150, 17), 4] <- NA\n"
       "set.seed(26); k <- matrix(rpois(120, 1) - 1, 20); k[sample(120, 15)] <- NA\n"
       "for (s in list(list('a', a), list('i', i), list('k', k))) {\n"
       "  write(sprintf('%.17g', t(s[[2]])), s[[1]], ncolumns = ncol(s[[2]]))\n"
       "  for (m in c('euclidean', 'manhattan', 'maximum', 'canberra'))\n"
       "    write(sprintf('%.17g', as.matrix(dist(s[[2]], m))), paste0(s[[1]], '.', m))\n"
       "}\n"});
  ASSERT_EQ(run.status, 0) << run.err;
  const struct {
    const char* set;
    int n;
  } sets[] = {{"a", 50}, {"i", 150}, {"k", 20}};
  const struct {
    const char* method;
    char dist;
    int power;
  } methods[] = {{"euclidean", 'E', 1},
                 {"euclidean", 'Q', 2},
                 {"manhattan", 'B', 1},
                 {"maximum", 'M', 1},
                 {"canberra", 'C', 1}};
  for (const auto& s : sets) {
    Matrix m = WithGaps(ReadNumbers(dir / s.set), s.n);
    for (const auto& method : methods)
      ExpectPeerDistances(m, method.dist,
                          ReadNumbers(dir / (std::string(s.set) + "." + method.method)),
                          method.power, std::string("R ") + s.set + " " + method.method);
  }
}

// SciPy's pdist without gaps, where its measures are R's: random normal
// values (SciPy counts a 0/0 Canberra term as 0; normal values have none).
TEST(PeerDistances, AgreeWithScipyPdist) {
  if (std::system("/usr/bin/python3 -c 'import scipy' 2>/dev/null") != 0)
    return lopper_test::SkipWithoutPeer("python3-scipy not installed");
  const unsigned seed = 2026;
  std::mt19937 rng(seed);
  std::normal_distribution<double> normal(0, 3);
  std::vector<Values> rows(40, Values(6));
  std::string text;
  for (Values& row : rows) {
    for (double& value : row) {
      value = normal(rng);
      char word[32];
      std::snprintf(word, sizeof word, "%.17g ", value);
      text += word;
    }
    text += "\n";
  }
  lopper_test::TempDir dir;
  lopper_test::WriteFile(dir / "x.txt", text);
  const char* const metrics[] = {"euclidean", "sqeuclidean", "cityblock", "chebyshev", "canberra"};
  const auto run = lopper_test::RunProgram(
      dir, "/usr/bin/python3",
      {"-c",
       "import numpy as np\n"
       "from scipy.spatial.distance import pdist, squareform\n"
       "x = np.loadtxt('x.txt', ndmin=2)\n"
       "for m in ['euclidean', 'sqeuclidean', 'cityblock', 'chebyshev', 'canberra']:\n"
       "    np.savetxt(m, squareform(pdist(x, m)), fmt='%.17g')\n"});
  ASSERT_EQ(run.status, 0) << run.err;
  Matrix m(rows);
  for (int c = 0; c < 5; c++)
    ExpectPeerDistances(m, "EQBMC"[c], ReadNumbers(dir / metrics[c]), 1,
                        std::string("SciPy ") + metrics[c] + ", seed " + std::to_string(seed));
}

}  // namespace
