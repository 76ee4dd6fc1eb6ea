// cuttree_height against the rule it implements, written independently:
// two elements share a cluster exactly when no merge in the smallest
// subtree holding both lies above the height; and against SciPy's
// fcluster(Z, h, 'distance') when SciPy is installed. inconsistent and
// cuttree_inconsistent against a worked example and SciPy's inconsistent
// and fcluster(Z, t, 'inconsistent', depth).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "matrix.h"
#include "peers.h"
#include "test_util.h"
#include "tree_gen.h"

namespace {

using lopper_test::Tree;

struct Cut {
  int nclusters;
  std::vector<int> ids;
};

Cut CutAt(const Tree& tree, double height) {
  const int n = static_cast<int>(tree.size()) + 1;
  Cut cut{0, std::vector<int>(n, -99)};
  cut.nclusters = lopper::cuttree_height(n, tree.data(), height, cut.ids.data());
  return cut;
}

// Same cluster for i and j by the subtree rule, from the tree's clades.
bool Together(const std::vector<std::pair<std::vector<int>, double>>& clades, int i, int j,
              double height) {
  const std::vector<int>* smallest = nullptr;
  for (const auto& [set, d] : clades)
    if (std::binary_search(set.begin(), set.end(), i) &&
        std::binary_search(set.begin(), set.end(), j) &&
        (!smallest || set.size() < smallest->size()))
      smallest = &set;
  for (const auto& [set, d] : clades)
    if (d > height && std::includes(smallest->begin(), smallest->end(), set.begin(), set.end()))
      return false;
  return true;
}

bool HasInversion(const Tree& tree) {
  for (const auto& r : tree)
    for (const int child : {r.left, r.right})
      if (child < 0 && tree[-child - 1].distance > r.distance) return true;
  return false;
}

// Trees of every linkage on random data; the centroid one with an
// inversion (drawn again until it has one).
std::vector<Tree> RandomTrees(unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<Tree> trees;
  for (const char method : {'s', 'm', 'a', 'c'}) {
    do {
      auto m = lopper_test::RandomMatrix(24, 3, rng, 0.0);
      const std::vector<double> w(3, 1.0);
      lopper::Node* t =
          lopper::treecluster(24, 3, m.data(), m.mask(), w.data(), 0, 'e', method, nullptr);
      trees.emplace_back(t, t + 23);
      std::free(t);
    } while (method == 'c' && !HasInversion(trees.back()) && (trees.pop_back(), true));
  }
  return trees;
}

// Every record's height and the points between them, below and above all.
std::vector<double> Heights(const Tree& tree) {
  std::vector<double> d{-1.0};
  for (const auto& r : tree) d.push_back(r.distance);
  std::sort(d.begin(), d.end());
  const std::size_t count = d.size();
  for (std::size_t k = 0; k + 1 < count; k++) d.push_back((d[k] + d[k + 1]) / 2);
  d.push_back(d[count - 1] + 1);
  return d;
}

TEST(CuttreeHeight, FollowsTheSubtreeRuleAndNumbersByFirstElement) {
  const unsigned seed = 20261209;
  for (const Tree& tree : RandomTrees(seed)) {
    const auto clades = lopper_test::Clades(tree);
    const int n = static_cast<int>(tree.size()) + 1;
    for (const double h : Heights(tree)) {
      const Cut cut = CutAt(tree, h);
      int next = 0;
      for (int i = 0; i < n; i++) {
        ASSERT_LE(cut.ids[i], next) << "seed " << seed << " h " << h << ": numbered out of order";
        if (cut.ids[i] == next) next++;
        for (int j = 0; j < i; j++)
          ASSERT_EQ(cut.ids[i] == cut.ids[j], Together(clades, i, j, h))
              << "seed " << seed << " h " << h << " elements " << i << ", " << j;
      }
      EXPECT_EQ(cut.nclusters, next) << "seed " << seed << " h " << h;
    }
  }
}

TEST(CuttreeHeight, BadTreesNaNAndNoMemoryGiveMinusOnes) {
  const Tree four{{2, 3, 0.1}, {0, 1, 0.9}, {-2, -1, 0.5}};
  const Tree parent_first{{-2, 3, 0}, {0, 1, 0}, {-1, 2, 0}};
  const Tree used_twice{{2, 2, 0}, {0, 1, 0}, {-2, -1, 0}};
  const std::vector<int> none(4, -1);
  EXPECT_EQ(CutAt(four, std::nan("")).ids, none);
  EXPECT_EQ(CutAt(parent_first, 1).ids, none);
  EXPECT_EQ(CutAt(used_twice, 1).ids, none);
  std::vector<int> starved(4, -99);
  lopper_test::FailNthNew(1);
  EXPECT_EQ(lopper::cuttree_height(4, four.data(), 0.6, starved.data()), -1);
  lopper_test::FailNthNew(0);
  EXPECT_EQ(starved, none);
  // An inversion: record 2 (0.5) lies below its child record 1 (0.9).
  EXPECT_EQ(CutAt(four, 0.6).ids, (std::vector<int>{0, 1, 2, 2}));
  std::vector<int> one{-99};
  EXPECT_EQ(lopper::cuttree_height(1, nullptr, 0.0, one.data()), 1);
  EXPECT_EQ(one, std::vector<int>{0});
}

TEST(CuttreeHeight, AgreesWithScipyFcluster) {
  if (std::system("/usr/bin/python3 -c 'import scipy' 2>/dev/null") != 0)
    return lopper_test::SkipWithoutPeer("python3-scipy not installed");
  const unsigned seed = 20261210;
  lopper_test::TempDir dir;
  for (const Tree& tree : RandomTrees(seed)) {
    std::string expected;
    std::string heights;
    for (const double h : Heights(tree)) {
      char word[64];
      std::snprintf(word, sizeof word, "%.17g ", h);
      heights += word;
      for (const int id : CutAt(tree, h).ids) expected += std::to_string(id) + " ";
      expected += "\n";
    }
    lopper_test::WriteFile(dir / "z.txt", lopper_test::ScipyLinkage(tree));
    lopper_test::WriteFile(dir / "h.txt", heights);
    // fcluster numbers its own way: renumber by first element as the library does.
    const auto run = lopper_test::RunProgram(
        dir, "/usr/bin/python3",
        {"-c",
         "import numpy as np\n"
         "from scipy.cluster.hierarchy import fcluster\n"
         "z = np.loadtxt('z.txt', ndmin=2)\n"
         "for h in np.loadtxt('h.txt', ndmin=1):\n"
         "    seen = {}\n"
         "    print(' '.join(str(seen.setdefault(c, len(seen))) for c in fcluster(z, h, "
         "'distance')) + ' ')\n"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, expected) << "seed " << seed;
  }
}

// Heights 1 and 2 under a root at 4: at depth 2 the root's heights are
// 1, 2 and 4 (mean 7/3, deviation sqrt(7/3)), at depth 1 its own alone.
TEST(CuttreeInconsistent, WorkedExampleAndBadArguments) {
  const Tree tree{{0, 1, 1.0}, {2, 3, 2.0}, {-1, -2, 4.0}};
  double stats[3][4];
  ASSERT_EQ(lopper::inconsistent(4, tree.data(), 2, stats), 1);
  EXPECT_DOUBLE_EQ(stats[2][0], 7.0 / 3);
  EXPECT_DOUBLE_EQ(stats[2][1], std::sqrt(7.0 / 3));
  EXPECT_EQ(stats[2][2], 3);
  EXPECT_DOUBLE_EQ(stats[2][3], (4 - 7.0 / 3) / std::sqrt(7.0 / 3));
  EXPECT_EQ(stats[0][3], 0);  // one height: no deviation
  std::vector<int> ids(4);
  EXPECT_EQ(lopper::cuttree_inconsistent(4, tree.data(), 1.0, 2, ids.data()), 2);
  EXPECT_EQ(ids, (std::vector<int>{0, 0, 1, 1}));
  EXPECT_EQ(lopper::cuttree_inconsistent(4, tree.data(), 1.1, 2, ids.data()), 1);
  EXPECT_EQ(lopper::cuttree_inconsistent(4, tree.data(), 0.0, 1, ids.data()), 1);
  const Tree used_twice{{0, 1, 1.0}, {0, 3, 2.0}, {-1, -2, 4.0}};
  for (const auto& [t, depth] : {std::pair{&tree, 0}, std::pair{&used_twice, 2}}) {
    EXPECT_EQ(lopper::inconsistent(4, t->data(), depth, stats), 0);
    EXPECT_EQ(lopper::cuttree_inconsistent(4, t->data(), 1.0, depth, ids.data()), -1);
    EXPECT_EQ(ids, std::vector<int>(4, -1));
  }
}

TEST(CuttreeInconsistent, AgreesWithScipy) {
  if (std::system("/usr/bin/python3 -c 'import scipy' 2>/dev/null") != 0)
    return lopper_test::SkipWithoutPeer("python3-scipy not installed");
  const unsigned seed = 20261211;
  lopper_test::TempDir dir;
  for (const Tree& tree : RandomTrees(seed)) {
    const int n = static_cast<int>(tree.size()) + 1;
    std::vector<double> stats(4 * tree.size());
    std::string thresholds;
    for (const int depth : {1, 2, 3, 5}) {
      ASSERT_EQ(
          lopper::inconsistent(n, tree.data(), depth, reinterpret_cast<double(*)[4]>(stats.data())),
          1);
      for (std::size_t i = 3; i < stats.size(); i += 4)
        thresholds += std::to_string(depth) + " " + std::to_string(stats[i] - 1e-9) + "\n";
    }
    lopper_test::WriteFile(dir / "z.txt", lopper_test::ScipyLinkage(tree));
    lopper_test::WriteFile(dir / "t.txt", thresholds);
    // Per threshold, SciPy's statistics of that depth and its partition,
    // renumbered by first element as the library numbers.
    const auto run = lopper_test::RunProgram(
        dir, "/usr/bin/python3",
        {"-c",
         "import numpy as np\n"
         "from scipy.cluster.hierarchy import fcluster, inconsistent\n"
         "z = np.loadtxt('z.txt', ndmin=2)\n"
         "for d, t in np.loadtxt('t.txt', ndmin=2):\n"
         "    r = inconsistent(z, int(d))\n"
         "    seen = {}\n"
         "    ids = [seen.setdefault(c, len(seen)) for c in fcluster(z, t, 'inconsistent', "
         "int(d), r)]\n"
         "    print(' '.join('%.17g' % v for v in r.ravel()), '|', ' '.join(map(str, ids)))\n"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out), asked(thresholds);
    int depth;
    double threshold;
    for (std::string line; std::getline(lines, line) && asked >> depth >> threshold;) {
      std::istringstream words(line);
      ASSERT_EQ(
          lopper::inconsistent(n, tree.data(), depth, reinterpret_cast<double(*)[4]>(stats.data())),
          1);
      for (const double ours : stats) {
        double theirs;
        words >> theirs;
        EXPECT_NEAR(ours, theirs, 1e-9 * (1 + std::fabs(theirs))) << "seed " << seed;
      }
      std::string bar;
      words >> bar;
      std::vector<int> expected(n), ids(n);
      for (int& id : expected) words >> id;
      lopper::cuttree_inconsistent(n, tree.data(), threshold, depth, ids.data());
      EXPECT_EQ(ids, expected) << "seed " << seed << " depth " << depth << " t " << threshold;
    }
  }
}

}  // namespace

TEST(DropSmallClusters, LeavesOutSmallClustersAndKeepsTheOrderOfTheRest) {
  struct Case {
    std::vector<int> ids;
    int minsize;
    int kept;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {{0, 1, 1, 2, 2, 2}, 1, 3, {0, 1, 1, 2, 2, 2}},
      {{0, 1, 1, 2, 2, 2}, 2, 2, {-1, 0, 0, 1, 1, 1}},
      {{2, 1, 2, 0, -1, 2}, 2, 1, {0, -1, 0, -1, -1, 0}},
      {{0, 1, 1, 2, 2, 2}, 4, 0, {-1, -1, -1, -1, -1, -1}},
      {{3, 3, 0, 0}, 2, 2, {1, 1, 0, 0}},
  };
  for (Case c : cases) {
    EXPECT_EQ(lopper::dropsmallclusters(static_cast<int>(c.ids.size()), c.ids.data(), c.minsize),
              c.kept);
    EXPECT_EQ(c.ids, c.expected);
  }
  for (auto [ids, minsize] : {std::pair{std::vector<int>{0, 5}, 1},
                              {std::vector<int>{0, -2}, 1},
                              {std::vector<int>{0, 1}, 0}}) {
    const std::vector<int> before = ids;
    EXPECT_EQ(lopper::dropsmallclusters(2, ids.data(), minsize), -1);
    EXPECT_EQ(ids, before);
  }
  std::vector<int> starved{0, 0, 1};
  lopper_test::FailNthNew(1);
  EXPECT_EQ(lopper::dropsmallclusters(3, starved.data(), 2), -1);
  lopper_test::FailNthNew(0);
  EXPECT_EQ(starved, (std::vector<int>{0, 0, 1}));
}
