#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <numeric>
#include <random>
#include <vector>

#include "cluster.h"
#include "test_util.h"
#include "tree_gen.h"

namespace {

using lopper::Node;
using lopper_test::Tree;

std::vector<int> Cut(const Tree& tree, int nclusters) {
  const int n = static_cast<int>(tree.size()) + 1;
  std::vector<int> id(n, -99);
  lopper::cuttree(n, tree.data(), nclusters, id.data());
  return id;
}

// Elements hanging directly from the undone records come first, root
// downward and left before right; then each remaining cluster, by
// descending top record.
TEST(Cuttree, NumbersLoneElementsRootDownThenClustersByDescendingTopRecord) {
  const Tree four{{2, 3, 0.1}, {0, 1, 0.9}, {-2, -1, 0.5}};  // ((1,2),(3,4)) reordered
  const Tree three{{0, 1, 0}, {-1, 2, 0}};                   // ((1,2),3) reordered
  const Tree two{{0, 1, 0}};
  struct Case {
    const Tree* tree;
    int nclusters;
    std::vector<int> ids;
  } const cases[] = {
      {&four, 1, {0, 0, 0, 0}}, {&four, 2, {0, 0, 1, 1}}, {&four, 3, {0, 1, 2, 2}},
      {&four, 4, {0, 1, 2, 3}}, {&three, 2, {1, 1, 0}},   {&three, 3, {1, 2, 0}},
      {&two, 2, {0, 1}},        {&two, 1, {0, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(Cut(*c.tree, c.nclusters), c.ids) << c.nclusters;
}

TEST(Cuttree, NclustersOutOfRangeGivesMinusOnes) {
  const Tree four{{2, 3, 0}, {0, 1, 0}, {-2, -1, 0}};
  for (const int k : {0, -1, 5, 1000}) EXPECT_EQ(Cut(four, k), std::vector<int>(4, -1)) << k;
}

TEST(Cuttree, TreeIsOnlyRead) {
  const Tree four{{2, 3, 0.1}, {0, 1, 0.2}, {-2, -1, 0.3}};
  Tree copy = four;
  const auto a = Cut(copy, 2);
  const auto b = Cut(copy, 3);
  EXPECT_EQ(Cut(copy, 2), a);
  EXPECT_EQ(b, (std::vector<int>{0, 1, 2, 2}));
  for (std::size_t i = 0; i < four.size(); i++) {
    EXPECT_EQ(copy[i].left, four[i].left);
    EXPECT_EQ(copy[i].right, four[i].right);
    EXPECT_EQ(copy[i].distance, four[i].distance);
  }
}

// The one rule every tree reader of the library and the formats applies;
// each boundary on its own, the answers worked by hand.
TEST(Istree, GoodAndBadTrees) {
  const double nan = std::nan("");
  const struct {
    const char* what;
    int n;
    Tree tree;
    int expected;
  } cases[] = {
      {"two elements", 2, {{0, 1, 0}}, 1},
      {"two elements, right first", 2, {{1, 0, 0}}, 1},
      {"balanced, heights falling and NaN", 4, {{2, 3, 5}, {0, 1, nan}, {-2, -1, 0}}, 1},
      {"chain on the record just before", 4, {{0, 1, 0}, {-1, 2, 0}, {3, -2, 0}}, 1},
      {"chain skipping to the first record", 4, {{0, 1, 0}, {2, 3, 0}, {-1, -2, 0}}, 1},
      {"one element", 1, {}, 0},
      {"no elements", 0, {}, 0},
      {"negative count", -3, {}, 0},
      {"null tree", 3, {}, 0},
      {"element n", 3, {{0, 3, 0}, {-1, 2, 0}}, 0},
      {"record referring to itself", 3, {{0, 1, 0}, {-2, 2, 0}}, 0},
      {"record referring to a later one", 3, {{0, -2, 0}, {1, 2, 0}}, 0},
      {"reference beyond the records", 3, {{0, 1, 0}, {-5, 2, 0}}, 0},
      {"element used twice", 3, {{0, 1, 0}, {-1, 1, 0}}, 0},
      {"record used twice", 4, {{0, 1, 0}, {-1, 2, 0}, {-1, 3, 0}}, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(lopper::istree(c.n, c.tree.empty() ? nullptr : c.tree.data()), c.expected) << c.what;
  const Tree two{{0, 1, 0}};
  lopper_test::FailNthNew(1);
  EXPECT_EQ(lopper::istree(2, two.data()), -1);
  lopper_test::FailNthNew(0);
}

// Trees the cut cannot follow must never be read out of range nor give a
// partition with holes.
TEST(Cuttree, MalformedTreesGiveMinusOnes) {
  const std::vector<std::pair<const char*, Tree>> cases{
      {"element beyond n", {{2, 4, 0}, {0, 1, 0}, {-2, -1, 0}}},
      {"negative record beyond the array", {{2, 3, 0}, {0, 1, 0}, {-2, -9, 0}}},
      {"record referring to itself", {{2, 3, 0}, {0, -2, 0}, {-2, -1, 0}}},
      {"cycle between two records", {{2, -2, 0}, {0, -1, 0}, {1, 3, 0}}},
      {"parent before its child", {{-2, 3, 0}, {0, 1, 0}, {-1, 2, 0}}},
      {"element used twice", {{2, 2, 0}, {0, 1, 0}, {-2, -1, 0}}},
      {"record used twice", {{2, 3, 0}, {-1, 1, 0}, {-2, -1, 0}}},
  };
  for (const auto& [what, tree] : cases)
    for (int k = 1; k <= 4; k++)
      EXPECT_EQ(Cut(tree, k), std::vector<int>(4, -1)) << what << " k " << k;
  std::vector<int> one{-99};
  lopper::cuttree(1, nullptr, 1, one.data());
  EXPECT_EQ(one, std::vector<int>{0});
  lopper::cuttree(1, nullptr, 2, one.data());
  EXPECT_EQ(one, std::vector<int>{-1});
  std::vector<int> two(2, -99);
  lopper::cuttree(2, nullptr, 1, two.data());
  EXPECT_EQ(two, std::vector<int>(2, -1));
}

TEST(Cuttree, NoScratchMemoryGivesMinusOnes) {
  const Tree four{{2, 3, 0}, {0, 1, 0}, {-2, -1, 0}};
  struct Case {
    int nclusters;
    std::vector<int> ids;
  } const cases[] = {
      {2, {-1, -1, -1, -1}},
      {1, {-1, -1, -1, -1}},
      {4, {-1, -1, -1, -1}},
  };
  for (const auto& c : cases) {
    std::vector<int> ids(4, -99);
    lopper_test::FailNthNew(1);
    lopper::cuttree(4, four.data(), c.nclusters, ids.data());
    lopper_test::FailNthNew(0);
    EXPECT_EQ(ids, c.ids) << c.nclusters;
  }
}

// Reference partition: union of the children of records 0 ... n-nclusters-1.
std::vector<int> MergedBelowCut(const Tree& tree, int nclusters) {
  const int n = static_cast<int>(tree.size()) + 1;
  std::vector<int> group(n);
  std::vector<int> record_rep(tree.size());
  std::iota(group.begin(), group.end(), 0);
  std::function<int(int)> find = [&](int e) {
    return group[e] == e ? e : group[e] = find(group[e]);
  };
  auto rep = [&](int ref) { return ref >= 0 ? find(ref) : find(record_rep[-ref - 1]); };
  for (int i = 0; i < n - nclusters; i++) {
    const int a = rep(tree[i].left), b = rep(tree[i].right);
    group[b] = a;
    record_rep[i] = a;
  }
  std::vector<int> out(n);
  for (int e = 0; e < n; e++) out[e] = find(e);
  return out;
}

TEST(Cuttree, LargeTreesMatchTheReferencePartition) {
  const unsigned seed = 20261208;
  std::mt19937 rng(seed);
  for (const bool chain : {false, true}) {
    const int n = 100000;
    const Tree tree = lopper_test::MakeTree(
        n, chain ? lopper_test::Shape::kChain : lopper_test::Shape::kRandom, rng);
    for (const int k : {1, 2, 17, 1000, n / 2, n}) {
      const auto ids = Cut(tree, k);
      const auto ref = MergedBelowCut(tree, k);
      std::map<int, int> to_ref, from_ref;
      bool same = true;
      for (int e = 0; e < n && same; e++) {
        same = ids[e] >= 0 && ids[e] < k &&
               to_ref.emplace(ids[e], ref[e]).first->second == ref[e] &&
               from_ref.emplace(ref[e], ids[e]).first->second == ids[e];
      }
      EXPECT_TRUE(same) << "seed " << seed << " chain " << chain << " k " << k;
      EXPECT_EQ(static_cast<int>(to_ref.size()), k);
    }
  }
}

}  // namespace
