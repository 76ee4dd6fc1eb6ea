#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "cluster_internal.h"
#include "matrix.h"

namespace {

using Values = std::vector<double>;

TEST(Mean, SumsInOrderAndDivides) {
  const struct {
    Values x;
    double mean;
  } cases[] = {{{}, 0.0}, {{7}, 7}, {{1, 2, 3, 4}, 2.5}, {{0.1, 0.2, 0.3}, (0.1 + 0.2 + 0.3) / 3}};
  for (const auto& c : cases)
    EXPECT_EQ(lopper::mean(static_cast<int>(c.x.size()), c.x.data()), c.mean);
  EXPECT_EQ(lopper::mean(-3, nullptr), 0.0);
}

TEST(Median, ListedValues) {
  const struct {
    Values x;
    double median;
  } cases[] = {{{5, 1, 3}, 3},
               {{4, 1, 3, 2}, 2.5},
               {{2, 2, 2, 2}, 2},
               {{}, 0.0},
               {{7}, 7},
               {{1, 4}, 2.5},
               {{9, 8, 7, 6, 5}, 7},
               {{1, 1, 2, 2}, 1.5},
               {{3, 1, 2, 3, 1, 2}, 2}};
  for (const auto& c : cases) {
    Values x = c.x;
    EXPECT_EQ(lopper::median(static_cast<int>(x.size()), x.data()), c.median);
    if (x.size() <= 2) {
      EXPECT_EQ(x, c.x);
    }
  }
}

// Against sorting, on random arrays with few or many distinct values; the
// values themselves are only moved.
TEST(Median, AgreesWithSortingAndKeepsTheValues) {
  const unsigned seed = 31337;
  std::mt19937 rng(seed);
  for (int trial = 0; trial < 3000; trial++) {
    const int n = 3 + static_cast<int>(rng() % 60);
    const int distinct = 1 + static_cast<int>(rng() % (trial % 2 ? 4 : 1000));
    Values x(n);
    const int offset = distinct / 2;  // whole, so that the values stay integers
    for (double& v : x) v = static_cast<double>(rng() % distinct) - offset;
    Values sorted = x;
    std::sort(sorted.begin(), sorted.end());
    const double expected = n % 2 ? sorted[n / 2] : 0.5 * (sorted[n / 2 - 1] + sorted[n / 2]);
    Values work = x;
    EXPECT_EQ(lopper::median(n, work.data()), expected) << "seed " << seed << " trial " << trial;
    std::sort(work.begin(), work.end());
    EXPECT_EQ(work, sorted) << "seed " << seed << " trial " << trial;
  }
}

TEST(Sort, IndexOrdersTheValuesStably) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    Values data;
    std::vector<int> index;
  } cases[] = {
      {{3.0, 1.0, 2.0}, {1, 2, 0}},     {{2, 1, 2, 1, 2}, {1, 3, 0, 2, 4}}, {{5}, {0}},
      {{nan, 1, nan, 0}, {3, 1, 0, 2}}, {{-0.0, 0.0, -1}, {2, 0, 1}},
  };
  for (const auto& c : cases) {
    const Values before = c.data;
    std::vector<int> index(c.data.size(), -1);
    lopper::sort(static_cast<int>(c.data.size()), c.data.data(), index.data());
    EXPECT_EQ(index, c.index);
    for (std::size_t i = 0; i < before.size(); i++)
      EXPECT_TRUE(before[i] == c.data[i] || std::isnan(before[i]));
  }
}

TEST(DataMask, OwnsItsRowsOrKeepsNothing) {
  using lopper::detail::fail_allocation;
  using lopper::detail::live_blocks;
  using lopper::detail::Status;
  const long before = live_blocks();
  {
    lopper::detail::DataMask m;
    ASSERT_EQ(m.obtain(3, 4), Status::kOk);
    EXPECT_EQ(live_blocks() - before, 2 + 2 * 3);
  }
  EXPECT_EQ(live_blocks(), before);
  // Allocation order: data rows, mask rows, then data row i, mask row i.
  for (int k = 1; k <= 8; k++) {
    lopper::detail::DataMask m;
    fail_allocation(k);
    EXPECT_EQ(m.obtain(3, 4), Status::kOutOfMemory) << k;
    fail_allocation(0);
    EXPECT_EQ(live_blocks(), before) << k;
  }
}

TEST(TriangularMatrix, OwnsItsRowsUntilHandedOver) {
  using lopper::detail::fail_allocation;
  using lopper::detail::live_blocks;
  using lopper::detail::Status;
  const long before = live_blocks();
  double** handed = nullptr;
  {
    lopper::detail::TriangularMatrix kept, given;
    ASSERT_EQ(kept.obtain(4), Status::kOk);
    ASSERT_EQ(given.obtain(3), Status::kOk);
    EXPECT_EQ(live_blocks() - before, 4 + 3);
    EXPECT_EQ(kept.rows()[0], nullptr);
    handed = given.release();
  }
  EXPECT_EQ(live_blocks() - before, 3);
  for (int i = 1; i < 3; i++) lopper::detail::release(handed[i]);
  lopper::detail::release(handed);
  for (int k = 1; k <= 4; k++) {
    lopper::detail::TriangularMatrix m;
    fail_allocation(k);
    EXPECT_EQ(m.obtain(4), Status::kOutOfMemory) << k;
    fail_allocation(0);
    EXPECT_EQ(live_blocks(), before) << k;
  }
}

// Negative sizes are bad arguments everywhere: each routine's failure
// result, never an exception out of the library nor "memory short".
TEST(EntryPoints, NegativeSizesAreBadArguments) {
  lopper_test::Matrix m({{1, 2, 3}, {4, 5, 6}, {7, 8, 0}});
  const Values w(3, 1.0);
  const int group[] = {0, 1};
  struct Sizes {
    int nrows, ncolumns, transpose;
  } const sizes[] = {{3, -1, 0}, {-1, 3, 1}, {3, -1, 1}, {-1, 3, 0}, {-1, -1, 0}};
  for (const auto& z : sizes) {
    const std::string what = std::to_string(z.nrows) + "x" + std::to_string(z.ncolumns) + " t" +
                             std::to_string(z.transpose);
    EXPECT_EQ(
        lopper::distancematrix(z.nrows, z.ncolumns, m.data(), m.mask(), w.data(), 'e', z.transpose),
        nullptr)
        << what;
    EXPECT_EQ(lopper::calculate_weights(z.nrows, z.ncolumns, m.data(), m.mask(), w.data(),
                                        z.transpose, 'e', 1, 1),
              nullptr)
        << what;
    for (const char method : std::string("amsxv"))
      EXPECT_EQ(lopper::clusterdistance(z.nrows, z.ncolumns, m.data(), m.mask(), w.data(), 1, 1,
                                        group, group + 1, 'e', method, z.transpose),
                -1.0)
          << what << method;
    for (const char method : std::string("smacwqd"))
      EXPECT_EQ(lopper::treecluster(z.nrows, z.ncolumns, m.data(), m.mask(), w.data(), z.transpose,
                                    'e', method, nullptr),
                nullptr)
          << what << method;
    for (const int npass : {0, 1, 3}) {
      std::vector<int> ids{0, 1, 0};
      double error = -5;
      int ifound = -9;
      lopper::kcluster(2, z.nrows, z.ncolumns, m.data(), m.mask(), w.data(), z.transpose, npass,
                       'a', 'e', ids.data(), &error, &ifound);
      EXPECT_EQ(ifound, 0) << what << " npass " << npass;
      EXPECT_EQ(error, -5) << what;
    }
    lopper_test::Matrix c(std::vector<Values>(3, Values(3, 9.0)));
    const std::vector<int> ids{0, 1, 0};
    EXPECT_EQ(lopper::getclustercentroids(2, z.nrows, z.ncolumns, m.data(), m.mask(), ids.data(),
                                          c.data(), c.mask(), z.transpose, 'a'),
              0)
        << what;
    std::vector<int> cells(6, -4);
    lopper::somcluster(z.nrows, z.ncolumns, m.data(), m.mask(), w.data(), z.transpose, 2, 2, 0.02,
                       5, 'e', nullptr, reinterpret_cast<int(*)[2]>(cells.data()));
    const int nobjects = z.transpose ? z.ncolumns : z.nrows;
    EXPECT_EQ(cells, std::vector<int>(6, nobjects > 0 ? -1 : -4)) << what;
  }
}

}  // namespace
