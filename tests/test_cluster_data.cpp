#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "cluster_internal.h"

namespace {

using Values = std::vector<double>;

TEST(Mean, SumsInOrderAndDivides) {
  const struct {
    Values x;
    double mean;
  } cases[] = {{{}, 0.0}, {{7}, 7}, {{1, 2, 3, 4}, 2.5}, {{0.1, 0.2, 0.3}, (0.1 + 0.2 + 0.3) / 3}};
  for (const auto& c : cases) EXPECT_EQ(lopper::mean(static_cast<int>(c.x.size()), c.x.data()), c.mean);
  EXPECT_EQ(lopper::mean(-3, nullptr), 0.0);
}

TEST(Median, ListedValues) {
  const struct {
    Values x;
    double median;
  } cases[] = {{{5, 1, 3}, 3},         {{4, 1, 3, 2}, 2.5}, {{2, 2, 2, 2}, 2},    {{}, 0.0},
               {{7}, 7},               {{1, 4}, 2.5},       {{9, 8, 7, 6, 5}, 7}, {{1, 1, 2, 2}, 1.5},
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
    for (double& v : x) v = static_cast<double>(rng() % distinct) - distinct / 2;
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
      {{3.0, 1.0, 2.0}, {1, 2, 0}},
      {{2, 1, 2, 1, 2}, {1, 3, 0, 2, 4}},
      {{5}, {0}},
      {{nan, 1, nan, 0}, {3, 1, 0, 2}},
      {{-0.0, 0.0, -1}, {2, 0, 1}},
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

TEST(Makedatamask, ObtainsRowsOrKeepsNothing) {
  using lopper::detail::fail_allocation;
  using lopper::detail::live_blocks;
  double** data = nullptr;
  int** mask = nullptr;
  const long before = live_blocks();
  ASSERT_EQ(lopper::detail::makedatamask(3, 4, &data, &mask), 1);
  EXPECT_EQ(live_blocks() - before, 2 + 2 * 3);
  data[2][3] = 1.5;
  mask[2][3] = 1;
  lopper::detail::freedatamask(3, data, mask);
  EXPECT_EQ(live_blocks(), before);

  // Allocation order: data rows, mask rows, then data row i, mask row i.
  double** const unset_data = reinterpret_cast<double**>(0x10);
  int** const unset_mask = reinterpret_cast<int**>(0x20);
  for (int k = 1; k <= 8; k++) {
    double** d = unset_data;
    int** m = unset_mask;
    fail_allocation(k);
    EXPECT_EQ(lopper::detail::makedatamask(3, 4, &d, &m), 0) << k;
    fail_allocation(0);
    EXPECT_EQ(live_blocks(), before) << k;
    const bool row_array_failed = k <= 2;
    EXPECT_EQ(d, row_array_failed ? unset_data : nullptr) << k;
    EXPECT_EQ(m, row_array_failed ? unset_mask : nullptr) << k;
  }
}

}  // namespace
