// silhouette against scikit-learn's silhouette_score on the same square
// matrix (when python3-sklearn is installed), its independence from how
// clusters are numbered and elements ordered, and its bad arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "matrix.h"
#include "peers.h"
#include "test_util.h"

namespace {

using lopper_test::Lower;
using Ids = std::vector<int>;

struct Case {
  Lower distances;
  Ids ids;
};

// n elements of random data measured with `dist` (levels > 0: integers,
// so that many distances are equal or zero), in k clusters numbered
// sparsely; `lone` of them have one member each.
Case RandomCase(int n, int k, int lone, char dist, int levels, std::mt19937& rng) {
  auto m = lopper_test::RandomMatrix(n, 4, rng, 0.0, levels);
  Ids ids(n);
  for (int i = 0; i < n; i++) ids[i] = i < lone ? i : lone + static_cast<int>(rng() % (k - lone));
  // Every shared cluster gets a member, then ids are spread out.
  for (int c = lone; c < k; c++) ids[c] = c;
  std::shuffle(ids.begin(), ids.end(), rng);
  for (int& id : ids) id = id * 37 + 5;
  return {lopper_test::DistancesOf(m, std::vector<double>(4, 1.0), dist), ids};
}

double Silhouette(Case& c) {
  return lopper::silhouette(static_cast<int>(c.ids.size()), c.distances.data(), c.ids.data());
}

TEST(Silhouette, MatchesScikitLearnSilhouetteScore) {
  if (std::system("/usr/bin/python3 -c 'import sklearn' 2>/dev/null") != 0)
    return lopper_test::SkipWithoutPeer("python3-sklearn not installed");
  const unsigned seed = 20260311;
  std::mt19937 rng(seed);
  struct Shape {
    int n, k, lone;
    char dist;
    int levels;
  };
  // Sizes past one block of elements (n 300, 600) and cluster counts up to
  // n-1, lone elements and data with many zero distances.
  const std::vector<Shape> shapes{{3, 2, 1, 'e', 0},    {5, 4, 3, 'b', 0},     {12, 2, 0, 'e', 2},
                                  {12, 11, 10, 'e', 2}, {40, 5, 2, 'c', 0},    {60, 7, 0, 'b', 3},
                                  {300, 3, 0, 'e', 0},  {600, 299, 40, 'e', 0}};
  std::vector<Case> cases;
  std::ostringstream text;
  text.precision(17);
  for (const Shape& s : shapes) {
    cases.push_back(RandomCase(s.n, s.k, s.lone, s.dist, s.levels, rng));
    Case& c = cases.back();
    text << s.n << "\n";
    for (int id : c.ids) text << id << " ";
    text << "\n";
    for (int i = 0; i < s.n; i++)
      for (int j = 0; j < s.n; j++)
        text << (i == j ? 0.0 : c.distances.data()[std::max(i, j)][std::min(i, j)]) << " ";
  }
  lopper_test::TempDir dir;
  lopper_test::WriteFile(dir / "cases.txt", text.str());
  const auto run = lopper_test::RunProgram(
      dir, "/usr/bin/python3",
      {"-c",
       "import numpy as np\n"
       "from sklearn.metrics import silhouette_score\n"
       "words = open('cases.txt').read().split()\n"
       "at = 0\n"
       "while at < len(words):\n"
       "    n = int(words[at]); at += 1\n"
       "    ids = [int(w) for w in words[at:at + n]]; at += n\n"
       "    d = np.array(words[at:at + n * n], dtype=float).reshape(n, n)\n"
       "    at += n * n\n"
       "    print('%.17g' % silhouette_score(d, ids, metric='precomputed'))\n"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::istringstream theirs(run.out);
  for (std::size_t t = 0; t < cases.size(); t++) {
    double expected = NAN;
    ASSERT_TRUE(theirs >> expected) << run.out;
    EXPECT_NEAR(Silhouette(cases[t]), expected, 1e-12)
        << "seed " << seed << " case " << t << " n " << shapes[t].n << " k " << shapes[t].k;
  }
}

TEST(Silhouette, SameForRenumberedClustersAndReorderedElements) {
  const unsigned seed = 20260312;
  std::mt19937 rng(seed);
  for (const int k : {2, 9, 120}) {
    Case c = RandomCase(400, k, k / 10, 'e', 0, rng);
    const int n = 400;
    std::vector<int> order(n);
    for (int i = 0; i < n; i++) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    // Element p of the new order is element order[p]; ids map to a
    // reversed, contiguous 0 ... k-1 numbering.
    Ids sorted = c.ids;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    std::vector<std::vector<double>> rows(n);
    Ids ids(n);
    for (int p = 0; p < n; p++) {
      const int i = order[p];
      ids[p] = static_cast<int>(sorted.end() -
                                std::lower_bound(sorted.begin(), sorted.end(), c.ids[i])) -
               1;
      for (int q = 0; q < p; q++) {
        const int j = order[q];
        rows[p].push_back(c.distances.data()[std::max(i, j)][std::min(i, j)]);
      }
    }
    Case moved{Lower(rows), ids};
    const double s = Silhouette(c);
    EXPECT_GE(s, -1.0) << "seed " << seed << " k " << k;
    EXPECT_NEAR(Silhouette(moved), s, 1e-12) << "seed " << seed << " k " << k;
  }
}

TEST(Silhouette, BadArgumentsGiveMinusTwo) {
  std::mt19937 rng(5);
  const Case good = RandomCase(6, 3, 1, 'e', 0, rng);
  struct Row {
    const char* what;
    std::function<void(int& n, Case& c, bool& null_matrix, bool& null_ids)> change;
  };
  const std::vector<Row> rows{
      {"unchanged", [](int&, Case&, bool&, bool&) {}},
      {"two elements", [](int& n, Case&, bool&, bool&) { n = 2; }},
      {"negative size", [](int& n, Case&, bool&, bool&) { n = -1; }},
      {"null matrix", [](int&, Case&, bool& m, bool&) { m = true; }},
      {"null row", [](int&, Case& c, bool&, bool&) { c.distances.data()[4] = nullptr; }},
      {"null ids", [](int&, Case&, bool&, bool& i) { i = true; }},
      {"negative id", [](int&, Case& c, bool&, bool&) { c.ids[3] = -1; }},
      {"one cluster", [](int&, Case& c, bool&, bool&) { c.ids.assign(6, 4); }},
      {"every element alone", [](int&, Case& c, bool&, bool&) { c.ids = {0, 1, 2, 3, 4, 5}; }},
      {"NaN distance", [](int&, Case& c, bool&, bool&) { c.distances.data()[5][0] = NAN; }},
      {"infinite distance",
       [](int&, Case& c, bool&, bool&) { c.distances.data()[2][1] = INFINITY; }},
      {"negative distance", [](int&, Case& c, bool&, bool&) { c.distances.data()[1][0] = -0.5; }},
  };
  for (const Row& row : rows) {
    Case c = good;
    int n = 6;
    bool null_matrix = false, null_ids = false;
    row.change(n, c, null_matrix, null_ids);
    const double s = lopper::silhouette(n, null_matrix ? nullptr : c.distances.data(),
                                        null_ids ? nullptr : c.ids.data());
    if (row.what == std::string("unchanged"))
      EXPECT_TRUE(s >= -1.0 && s <= 1.0) << s;
    else
      EXPECT_EQ(s, -2.0) << row.what;
  }
}

}  // namespace
