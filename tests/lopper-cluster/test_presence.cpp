// The command's check of which elements a distance can be measured
// between, against a plain search over every pair.
#include <gtest/gtest.h>
#include <lopper/cluster.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "presence.h"

namespace {

// n rows of m columns, each value present with probability p; rows listed
// in `empty` have none and rows in `full` have all.
lopper::Table RandomTable(int n, int m, double p, std::mt19937& rng,
                          const std::vector<int>& empty = {}, const std::vector<int>& full = {}) {
  lopper::Table t;
  t.source = "t.tsv";
  std::bernoulli_distribution present(p);
  for (int j = 0; j < m; j++) t.columns.push_back("c" + std::to_string(j));
  for (int i = 0; i < n; i++) {
    t.names.push_back("r" + std::to_string(i));
    t.file_lines.push_back(i + 2);
    const bool none = std::find(empty.begin(), empty.end(), i) != empty.end();
    const bool all = std::find(full.begin(), full.end(), i) != full.end();
    for (int j = 0; j < m; j++) {
      t.mask.push_back(!none && (all || present(rng)));
      t.values.push_back(t.mask.back() ? 1.0 : 0.0);
    }
  }
  return t;
}

bool Disjoint(const lopper::Table& t, int a, int b) {
  bool any_a = false, any_b = false;
  for (std::size_t j = 0; j < t.ncolumns(); j++) {
    const int x = t.mask[a * t.ncolumns() + j], y = t.mask[b * t.ncolumns() + j];
    if (x && y) return false;
    any_a |= x != 0, any_b |= y != 0;
  }
  return any_a && any_b;  // empty rows are not pairs
}

std::optional<std::pair<int, int>> FirstByEveryPair(const lopper::Table& t) {
  const int n = static_cast<int>(t.nrows());
  for (int a = 0; a < n; a++)
    for (int b = a + 1; b < n; b++)
      if (Disjoint(t, a, b)) return std::make_pair(a, b);
  return std::nullopt;
}

TEST(Presence, TheFirstPairAndTheRowsToDropMatchEveryPair) {
  const unsigned seed = 20261210;
  std::mt19937 rng(seed);
  struct Case {
    int n, m;
    double p;
    int threads;
  } const cases[] = {
      {40, 3, 0.4, 1},    {40, 3, 0.4, 2},   {60, 64, 0.03, 2}, {60, 65, 0.03, 2},
      {50, 130, 0.02, 2}, {30, 200, 0.9, 2}, {300, 8, 0.5, 2},
  };
  for (const Case& c : cases) {
    lopper::setthreads(c.threads);
    for (int trial = 0; trial < 5; trial++) {
      const lopper::Table t = RandomTable(c.n, c.m, c.p, rng, {3}, {5});
      EXPECT_EQ(lopper::FirstDisjointPair(t), FirstByEveryPair(t))
          << "seed " << seed << " n " << c.n << " m " << c.m << " threads " << c.threads;
      const std::vector<int> dropped = lopper::RowsToDrop(t);
      EXPECT_EQ(lopper::FirstDisjointPair(lopper::WithoutRows(t, dropped)), std::nullopt)
          << "seed " << seed << " n " << c.n << " m " << c.m;
      EXPECT_EQ(std::count(dropped.begin(), dropped.end(), 5), 0);  // full rows stay
    }
  }
  lopper::setthreads(0);
}

TEST(Presence, EmptyRowsAreFoundAndLeftOutWithTheirPlaces) {
  std::mt19937 rng(5);
  lopper::Table t = RandomTable(6, 70, 0.5, rng, {1, 4});
  EXPECT_EQ(lopper::EmptyElements(t), (std::vector<int>{1, 4}));
  const lopper::Table kept = lopper::WithoutRows(t, {1, 4});
  EXPECT_EQ(kept.names, (std::vector<std::string>{"r0", "r2", "r3", "r5"}));
  EXPECT_EQ(kept.NameLocation(3), "line 7");
  EXPECT_EQ(std::vector<int>(kept.mask.begin() + 70, kept.mask.begin() + 140),
            std::vector<int>(t.mask.begin() + 140, t.mask.begin() + 210));
  EXPECT_TRUE(lopper::EmptyElements(kept).empty());
}

}  // namespace
