// cuttree_clade against an exhaustive search written plainly here: on small
// random trees whose nodes have two to four children (the larger given as
// joined chains), every partition of the leaves into clades that satisfy
// the rule is tried, and the cut must be one of the smallest. Hand-worked
// cases, bad arguments and a million-leaf caterpillar besides.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cluster.h"
#include "test_util.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// A tree in cuttree_clade's form.
struct Records {
  std::vector<lopper::Node> tree;
  std::vector<std::array<double, 2>> lengths;
  std::vector<double> support;
  std::vector<char> joined;
};

struct Cut {
  int nclusters;
  std::vector<int> ids;
};

Cut CladeCut(const Records& r, char rule, double threshold, double minsupport = kNaN,
             bool with_support = true) {
  const int n = static_cast<int>(r.tree.size()) + 1;
  Cut cut{0, std::vector<int>(n, -99)};
  cut.nclusters = lopper::cuttree_clade(n, r.tree.data(),
                                        reinterpret_cast<const double(*)[2]>(r.lengths.data()),
                                        with_support ? r.support.data() : nullptr, r.joined.data(),
                                        rule, threshold, minsupport, cut.ids.data());
  return cut;
}

// The same tree as the reference sees it: vertices (leaves 0 ... n-1, then
// the nodes, root last) with the branch above each.
struct Vertices {
  int nleaves = 0;
  std::vector<int> parent;
  std::vector<double> length, support;  // support NaN above a leaf
};

// A random tree over n leaves in both forms. Lengths are quarters from 0
// to 2, so that every sum and every threshold compared is exact; a joined
// link gets a length and support of its own that must play no part.
std::pair<Vertices, Records> RandomTree(int n, std::mt19937& rng) {
  const double quarters[] = {0, 0, 0.25, 0.5, 0.75, 1, 1.25, 2};
  const double supports[] = {kNaN, 0.2, 0.5, 0.8};
  auto draw = [&rng](const auto& values) { return values[rng() % std::size(values)]; };
  Vertices v{n, std::vector<int>(n, -1), {}, std::vector<double>(n, kNaN)};
  Records r;
  for (int e = 0; e < n; e++) v.length.push_back(draw(quarters));
  std::vector<std::pair<int, int>> pool;  // (vertex, reference) of the subtrees left
  for (int e = 0; e < n; e++) pool.emplace_back(e, e);
  while (pool.size() > 1) {
    const int node = static_cast<int>(v.parent.size());
    v.parent.push_back(-1);
    v.length.push_back(draw(quarters));
    v.support.push_back(draw(supports));
    const std::size_t nchildren = std::min<std::size_t>(2 + rng() % 3, pool.size());
    int ref = 0;
    double ref_length = 0;
    for (std::size_t k = 0; k < nchildren; k++) {
      const std::size_t pick = rng() % pool.size();
      const auto [child, child_ref] = pool[pick];
      pool.erase(pool.begin() + static_cast<std::ptrdiff_t>(pick));
      v.parent[child] = node;
      if (k > 0) {
        const bool swap = rng() % 2;
        const int left = swap ? child_ref : ref, right = swap ? ref : child_ref;
        r.tree.push_back({left, right, 0.0});
        r.lengths.push_back(swap ? std::array<double, 2>{v.length[child], ref_length}
                                 : std::array<double, 2>{ref_length, v.length[child]});
        const bool top = k + 1 == nchildren;
        r.joined.push_back(!top);
        r.support.push_back(top ? v.support[node] : draw(supports));
        ref = -static_cast<int>(r.tree.size());
        ref_length = top ? 0 : draw(quarters);
      } else {
        ref = child_ref;
        ref_length = v.length[child];
      }
    }
    pool.emplace_back(node, ref);
  }
  return {v, r};
}

bool StrictlyBelow(const Vertices& v, int u, int top) {
  for (int a = v.parent[u]; a >= 0; a = v.parent[a])
    if (a == top) return true;
  return false;
}

double PathDistance(const Vertices& v, int a, int b) {
  std::vector<double> from_a(v.parent.size(), -1);
  double d = 0;
  for (int x = a; x >= 0; d += v.length[x], x = v.parent[x]) from_a[x] = d;
  d = 0;
  int x = b;
  for (; from_a[x] < 0; x = v.parent[x]) d += v.length[x];
  return d + from_a[x];
}

// Whether the clade of vertex top satisfies the rule, by brute force over
// its leaves and the branches below it.
// below: the vertices strictly below top.
bool Allowed(const Vertices& v, const std::vector<std::vector<double>>& dist,
             const std::vector<int>& below, char rule, double t, double minsupport) {
  std::vector<int> leaves;
  double total = 0;
  for (const int u : below) {
    if (v.support[u] < minsupport) return false;
    total += v.length[u];
    if (u < v.nleaves) leaves.push_back(u);
  }
  if (leaves.empty()) return true;  // one leaf
  double widest = 0, sum = 0, npairs = 0;
  std::vector<int> group(leaves.size());
  for (std::size_t i = 0; i < leaves.size(); i++) group[i] = static_cast<int>(i);
  auto find = [&group](int i) {
    while (group[i] != i) i = group[i];
    return i;
  };
  for (std::size_t i = 0; i < leaves.size(); i++)
    for (std::size_t j = 0; j < i; j++) {
      const double d = dist[leaves[i]][leaves[j]];
      widest = std::max(widest, d);
      sum += d;
      npairs++;
      if (d <= t) group[find(static_cast<int>(i))] = find(static_cast<int>(j));
    }
  int ngroups = 0;
  for (std::size_t i = 0; i < leaves.size(); i++) ngroups += find(static_cast<int>(i)) == int(i);
  switch (rule) {
    case 'm':
      return widest <= t;
    case 'a':
      return sum <= t * npairs;
    case 's':
      return total <= t;
    default:
      return ngroups == 1;
  }
}

// Leaf sets (bit sets) of every vertex, and whether each may be a cluster.
struct Clades {
  std::vector<unsigned> leaves;
  std::vector<char> allowed;
};

// The fewest allowed clades that cover the leaves outside `covered`.
int Fewest(const Clades& c, unsigned covered, unsigned all) {
  if (covered == all) return 0;
  unsigned first = 1;
  while (covered & first) first <<= 1;
  int best = 1 << 20;
  for (std::size_t k = 0; k < c.leaves.size(); k++)
    if (c.allowed[k] && (c.leaves[k] & first) && !(c.leaves[k] & covered))
      best = std::min(best, 1 + Fewest(c, covered | c.leaves[k], all));
  return best;
}

// Checks that cut uses only allowed clades, the fewest, numbered by first element.
void CheckAgainstSearch(const Clades& c, int n, const Cut& cut, const std::string& where) {
  const unsigned all = (1u << n) - 1;
  ASSERT_EQ(cut.nclusters, Fewest(c, 0, all)) << where;
  int next = 0;
  for (int e = 0; e < n; e++) {
    ASSERT_LE(cut.ids[e], next) << where << ": numbered out of order";
    if (cut.ids[e] == next) next++;
  }
  ASSERT_EQ(next, cut.nclusters) << where;
  for (int id = 0; id < next; id++) {
    unsigned members = 0;
    for (int e = 0; e < n; e++)
      if (cut.ids[e] == id) members |= 1u << e;
    bool found = false;
    for (std::size_t k = 0; k < c.leaves.size(); k++)
      if (c.leaves[k] == members) {
        found = true;
        ASSERT_TRUE(c.allowed[k]) << where << ": cluster " << id << " breaks the rule";
      }
    ASSERT_TRUE(found) << where << ": cluster " << id << " is no clade";
  }
}

TEST(CuttreeClade, FewestClustersAsAnExhaustiveSearchFinds) {
  const unsigned seed = 20261211;
  std::mt19937 rng(seed);
  std::vector<double> thresholds{kInf};
  for (double t = -0.25; t <= 8.5; t += 0.25) thresholds.push_back(t);
  for (int trial = 0; trial < 200; trial++) {
    const int n = 3 + trial % 7;
    const auto [v, records] = RandomTree(n, rng);
    const int nvertices = static_cast<int>(v.parent.size());
    std::vector<std::vector<double>> dist(n, std::vector<double>(n));
    for (int a = 0; a < n; a++)
      for (int b = 0; b < n; b++) dist[a][b] = PathDistance(v, a, b);
    Clades c;
    std::vector<std::vector<int>> below(nvertices);
    for (int top = 0; top < nvertices; top++) {
      unsigned leaves = top < n ? 1u << top : 0;
      for (int u = 0; u < nvertices; u++)
        if (StrictlyBelow(v, u, top)) {
          below[top].push_back(u);
          if (u < n) leaves |= 1u << u;
        }
      c.leaves.push_back(leaves);
    }
    for (const char rule : {'m', 'a', 's', 'l'})
      for (const double t : thresholds)
        for (const double minsupport : {kNaN, 0.5, 0.8}) {
          c.allowed.clear();
          for (int top = 0; top < nvertices; top++)
            c.allowed.push_back(Allowed(v, dist, below[top], rule, t, minsupport));
          const Cut cut = CladeCut(records, rule, t, minsupport);
          CheckAgainstSearch(c, n, cut,
                             "seed " + std::to_string(seed) + " trial " + std::to_string(trial) +
                                 " rule " + rule + " t " + std::to_string(t) + " minsupport " +
                                 std::to_string(minsupport));
          if (HasFatalFailure()) return;
        }
  }
}

// Four leaves: ((0:1, 2:1):0.5, (1:0.25, 3:2):0.5). Distances 0-2 2, 1-3
// 2.25, 0-1 and 2-1 2.25, 0-3 and 2-3 4; sum of all six 16.75.
const Records kFour{{{0, 2, 0}, {1, 3, 0}, {-1, -2, 0}},
                    {{{1, 1}}, {{0.25, 2}}, {{0.5, 0.5}}},
                    {0.4, 0.9, kNaN},
                    {0, 0, 0}};
// ((0:1, 1:1):0, 2:0): the pair is 2 apart, each 1 from leaf 2.
const Records kCloseThird{{{0, 1, 0}, {-1, 2, 0}}, {{{1, 1}}, {{0, 0}}}, {kNaN, kNaN}, {0, 0}};
// (0:1, 1:1, 2:3) as a joined chain; the joined link's 5 is no branch.
const Records kThreeChildren{{{0, 1, 0}, {-1, 2, 0}}, {{{1, 1}}, {{5, 3}}}, {kNaN, kNaN}, {1, 0}};

TEST(CuttreeClade, HandWorkedCuts) {
  struct Case {
    const Records* tree;
    char rule;
    double t, minsupport;
    std::vector<int> ids;
  };
  const std::vector<Case> cases{
      {&kFour, 'm', 1.75, kNaN, {0, 1, 2, 3}},
      {&kFour, 'm', 2, kNaN, {0, 1, 0, 2}},  // at the pair's distance: inclusive
      {&kFour, 'm', 2.25, kNaN, {0, 1, 0, 1}},
      {&kFour, 'm', 4, kNaN, {0, 0, 0, 0}},
      {&kFour, 'a', 2, kNaN, {0, 1, 0, 2}},
      {&kFour, 'a', 2.75, kNaN, {0, 1, 0, 1}},  // 16.75 / 6 = 2.79...
      {&kFour, 'a', 2.8, kNaN, {0, 0, 0, 0}},
      {&kFour, 's', 2.25, kNaN, {0, 1, 0, 1}},
      {&kFour, 's', 5.2, kNaN, {0, 1, 0, 1}},
      {&kFour, 's', 5.25, kNaN, {0, 0, 0, 0}},
      {&kFour, 'l', 1.99, kNaN, {0, 1, 2, 3}},
      {&kFour, 'l', 2, kNaN, {0, 1, 0, 2}},
      {&kFour, 'l', 2.25, kNaN, {0, 0, 0, 0}},  // chained 0-2-1-3, though 0-3 is 4
      {&kFour, 's', 10, 0.5, {0, 1, 0, 1}},     // the root holds the branch of 0.4
      {&kFour, 's', 10, 0.4, {0, 0, 0, 0}},
      {&kFour, 's', 10, 0.95, {0, 1, 0, 1}},  // a clade's own branch is not inside it
      {&kCloseThird, 'm', 1.5, kNaN, {0, 1, 2}},
      {&kCloseThird, 'a', 1.5, kNaN, {0, 0, 0}},  // mean 4/3, while the pair's is 2
      {&kCloseThird, 'l', 1, kNaN, {0, 0, 0}},    // chained through leaf 2
      {&kCloseThird, 's', 2, kNaN, {0, 0, 0}},
      {&kThreeChildren, 'm', 2, kNaN, {0, 1, 2}},  // {0, 1} is no clade
      {&kThreeChildren, 'm', 4, kNaN, {0, 0, 0}},
      {&kThreeChildren, 's', 5, kNaN, {0, 0, 0}},
      {&kThreeChildren, 'l', 2, kNaN, {0, 1, 2}},
      {&kThreeChildren, 'l', 4, kNaN, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    const Cut cut = CladeCut(*c.tree, c.rule, c.t, c.minsupport);
    const int expected = *std::max_element(c.ids.begin(), c.ids.end()) + 1;
    EXPECT_EQ(cut.ids, c.ids) << "rule " << c.rule << " t " << c.t << " min " << c.minsupport;
    EXPECT_EQ(cut.nclusters, expected) << "rule " << c.rule << " t " << c.t;
  }
  EXPECT_EQ(CladeCut(kFour, 's', 10, 0.5, false).ids, (std::vector<int>{0, 0, 0, 0}));
}

TEST(CuttreeClade, BadArgumentsAndNoMemoryGiveMinusOnes) {
  const std::vector<int> none(4, -1);
  Records negative = kFour, nan_length = kFour, joined_root = kFour, parent_first = kFour;
  negative.lengths[1][0] = -0.25;
  nan_length.lengths[2][1] = kNaN;
  joined_root.joined[2] = 1;
  parent_first.tree = {{-2, 3, 0}, {0, 2, 0}, {-1, 1, 0}};
  EXPECT_EQ(CladeCut(kFour, 'x', 1).ids, none);
  EXPECT_EQ(CladeCut(kFour, 'm', kNaN).ids, none);
  for (const Records* bad : {&negative, &nan_length, &joined_root, &parent_first}) {
    const Cut cut = CladeCut(*bad, 'm', 1);
    EXPECT_EQ(cut.nclusters, -1);
    EXPECT_EQ(cut.ids, none);
  }
  // Null lengths: the differences of the heights; an inversion has none.
  const std::vector<lopper::Node> heights{{0, 1, 1.0}, {2, 3, 0.5}, {-1, -2, 2.0}};
  const std::vector<lopper::Node> inversion{{0, 1, 1.0}, {2, 3, 0.5}, {-1, -2, 0.75}};
  std::vector<int> ids(4, -99);
  EXPECT_EQ(
      lopper::cuttree_clade(4, heights.data(), nullptr, nullptr, nullptr, 'm', 2, kNaN, ids.data()),
      2);
  EXPECT_EQ(ids, (std::vector<int>{0, 0, 1, 1}));
  EXPECT_EQ(lopper::cuttree_clade(4, inversion.data(), nullptr, nullptr, nullptr, 'm', 2, kNaN,
                                  ids.data()),
            -1);
  EXPECT_EQ(ids, none);
  ids.assign(4, -99);
  lopper_test::FailNthNew(1);
  EXPECT_EQ(lopper::cuttree_clade(4, kFour.tree.data(),
                                  reinterpret_cast<const double(*)[2]>(kFour.lengths.data()),
                                  nullptr, nullptr, 'm', 1, kNaN, ids.data()),
            -1);
  lopper_test::FailNthNew(0);
  EXPECT_EQ(ids, none);
  std::vector<int> one{-99};
  EXPECT_EQ(lopper::cuttree_clade(1, nullptr, nullptr, nullptr, nullptr, 'a', 0, kNaN, one.data()),
            1);
  EXPECT_EQ(one, std::vector<int>{0});
}

// A caterpillar of a million leaves, every branch 1: leaf k + 1 hangs from
// record k, so leaves 0 and 1 are 2 apart and every other pair at least 3.
TEST(CuttreeClade, MillionLeafCaterpillar) {
  const int n = 1000000;
  Records r;
  r.tree.push_back({0, 1, 0});
  for (int k = 1; k < n - 1; k++) r.tree.push_back({-k, k + 1, 0});
  r.lengths.assign(n - 1, {{1, 1}});
  r.support.assign(n - 1, kNaN);
  r.joined.assign(n - 1, 0);
  for (const char rule : {'m', 'a', 's', 'l'}) {
    const Cut cut = CladeCut(r, rule, 2.5);
    ASSERT_EQ(cut.nclusters, n - 1) << rule;
    for (int e = 0; e < n; e++) ASSERT_EQ(cut.ids[e], std::max(e - 1, 0)) << rule << " " << e;
  }
  EXPECT_EQ(CladeCut(r, 'l', 3).nclusters, 1);
}

}  // namespace
