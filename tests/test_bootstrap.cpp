// The multiscale bootstrap's counts: each resample is the table with its
// drawn values written out as often as drawn, clustered by treecluster; the
// counts do not depend on threads or on how a run is split.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cluster.h"
#include "cluster_internal.h"
#include "matrix.h"

namespace {

using lopper::Node;
using lopper_test::Matrix;
using Members = std::vector<int>;

// Each record's elements, ascending.
std::vector<Members> ClustersOf(int n, const Node* tree) {
  std::vector<Members> members(n - 1);
  for (int r = 0; r < n - 1; r++) {
    for (const int child : {tree[r].left, tree[r].right}) {
      if (child >= 0)
        members[r].push_back(child);
      else
        members[r].insert(members[r].end(), members[-child - 1].begin(), members[-child - 1].end());
    }
    std::sort(members[r].begin(), members[r].end());
  }
  return members;
}

std::vector<Node> TreeOf(Matrix& m, const std::vector<double>& w, int transpose, char dist,
                         char method) {
  const int n = transpose ? m.ncolumns() : m.nrows();
  Node* t = lopper::treecluster(m.nrows(), m.ncolumns(), m.data(), m.mask(), w.data(), transpose,
                                dist, method, nullptr);
  if (!t) return {};
  std::vector<Node> tree(t, t + n - 1);
  std::free(t);
  return tree;
}

// A bootstrap run over a table.
struct Resampling {
  Matrix m;
  std::vector<double> w;
  int transpose;
  char dist, method;
  std::vector<double> scales;
  int nboot, seed;

  int n() const { return transpose ? m.ncolumns() : m.nrows(); }
  int nvalues() const { return transpose ? m.nrows() : m.ncolumns(); }
  int nresamples() const { return static_cast<int>(scales.size()) * nboot; }
};

// The counts of q in first ... last-1 as the library's call adds them to
// zeros, or {-1} when it fails.
std::vector<int> Counts(Resampling& s, const std::vector<Node>& tree, int first, int last) {
  std::vector<int> counts(s.scales.size() * (s.n() - 1), 0);
  const int r = lopper::bootstrapcounts(s.m.nrows(), s.m.ncolumns(), s.m.data(), s.m.mask(),
                                        s.w.data(), s.transpose, s.dist, s.method, tree.data(),
                                        static_cast<int>(s.scales.size()), s.scales.data(), s.nboot,
                                        s.seed, first, last, counts.data(), nullptr);
  if (r != last - first) return {-1};
  return counts;
}

// The same from the draws alone: the table with each value written out as
// often as drawn, in the original order (for the codes that weigh repeats,
// each value once weighing the times drawn), clustered by treecluster, its
// clusters compared with the tree's as sets.
std::vector<int> ReferenceCounts(Resampling& s, const std::vector<Node>& tree) {
  const int n = s.n(), nvalues = s.nvalues();
  const std::vector<Members> wanted = ClustersOf(n, tree.data());
  std::vector<int> counts(s.scales.size() * (n - 1), 0);
  for (int q = 0; q < s.nresamples(); q++) {
    const int scale = q / s.nboot;
    const int size = static_cast<int>(std::floor(s.scales[scale] * nvalues));
    std::vector<int> times(nvalues);
    lopper::detail::bootstrapdraws(s.seed, q, nvalues, size, times.data());
    Matrix by_element = s.transpose ? s.m.transposed() : s.m;
    std::vector<std::vector<double>> values(n);
    std::vector<std::vector<int>> mask(n);
    std::vector<double> w;
    const bool weighs = std::string("cauxCM").find(s.dist) != std::string::npos;
    for (int j = 0; j < nvalues; j++)
      for (int c = 0; c < (weighs ? 1 : times[j]); c++) {
        w.push_back(weighs ? times[j] * s.w[j] : s.w[j]);
        for (int i = 0; i < n; i++) {
          values[i].push_back(by_element.data()[i][j]);
          mask[i].push_back(by_element.mask()[i][j]);
        }
      }
    Matrix resampled = s.transpose ? Matrix(values, mask).transposed() : Matrix(values, mask);
    const std::vector<Node> got = TreeOf(resampled, w, s.transpose, s.dist, s.method);
    if (got.empty()) return {-1};
    const std::vector<Members> clusters = ClustersOf(n, got.data());
    const std::set<Members> present(clusters.begin(), clusters.end());
    for (int r = 0; r < n - 1; r++) counts[scale * (n - 1) + r] += present.count(wanted[r]) > 0;
  }
  return counts;
}

TEST(Bootstrap, CountsAreThoseOfClusteringTheResampledTables) {
  std::mt19937 rng(20260511);
  int index = 0;
  for (const char method : std::string("smacwqd"))
    for (const char dist : std::string("ebcauxskEQBMC")) {
      // Transposed, with gaps, with weights other than 1, each in turn.
      const int transpose = index % 2, gaps = index / 2 % 2, weighted = index / 4 % 2;
      index++;
      Matrix table =
          lopper_test::RandomMatrix(transpose ? 9 : 7, transpose ? 7 : 9, rng, gaps ? 0.15 : 0.0);
      std::vector<double> w(9, 1.0);
      if (weighted)
        for (double& x : w) x = 0.5 + (rng() % 4) * 0.5;
      Resampling s{table, w, transpose, dist, method, {0.5, 1.0, 1.4}, 5, 17 + index};
      const std::vector<Node> tree = TreeOf(s.m, s.w, transpose, dist, method);
      ASSERT_FALSE(tree.empty());
      const std::vector<int> expected = ReferenceCounts(s, tree);
      EXPECT_EQ(Counts(s, tree, 0, s.nresamples()), expected)
          << method << dist << " transpose " << transpose << " gaps " << gaps << " weighted "
          << weighted;
    }
}

// A random tree over n elements: random pairs joined until one is left.
std::vector<Node> RandomTree(int n, std::mt19937& rng) {
  std::vector<int> refs(n);
  for (int e = 0; e < n; e++) refs[e] = e;
  std::vector<Node> tree;
  while (refs.size() > 1) {
    const std::size_t a = rng() % refs.size();
    const int left = refs[a];
    refs.erase(refs.begin() + a);
    const std::size_t b = rng() % refs.size();
    tree.push_back({left, refs[b], 0.0});
    refs[b] = -static_cast<int>(tree.size());
  }
  return tree;
}

TEST(Bootstrap, AnyTreeIsMatchedRecordByRecord) {
  // Trees unlike the resamples' leave most of their clusters unmatched and
  // put the matches anywhere in the tree.
  std::mt19937 rng(4242);
  for (const int n : {2, 3, 5, 12, 30}) {
    Resampling s{lopper_test::RandomMatrix(n, 6, rng, 0.0),
                 std::vector<double>(6, 1.0),
                 0,
                 'e',
                 'a',
                 {0.7, 1.3},
                 6,
                 n};
    for (int k = 0; k < 4; k++) {
      const std::vector<Node> tree = k == 0 ? TreeOf(s.m, s.w, 0, 'e', 'a') : RandomTree(n, rng);
      EXPECT_EQ(Counts(s, tree, 0, s.nresamples()), ReferenceCounts(s, tree)) << n << " " << k;
    }
  }
}

TEST(Bootstrap, TwoDistantGroupsSurviveEveryResample) {
  // Elements 0-2 near 0 and 3-5 near 100 on every value: whatever is
  // drawn, each group and the root are clusters. Within a group each value
  // brings a different pair close, so that the pairs are clusters only
  // sometimes.
  Matrix m({{0, 0, 1.1},
            {0.1, 1, 0},
            {1, 1.1, 1},
            {100, 100, 101.1},
            {100.1, 101, 100},
            {101, 101.1, 101}});
  Resampling s{m, {1, 1, 1}, 0, 'e', 'a', {0.5, 1.0, 2.0}, 40, 9};
  const std::vector<Node> tree = TreeOf(s.m, s.w, 0, 'e', 'a');
  const std::vector<Members> clusters = ClustersOf(6, tree.data());
  const std::vector<int> counts = Counts(s, tree, 0, s.nresamples());
  ASSERT_EQ(counts.size(), 15u);
  for (int scale = 0; scale < 3; scale++)
    for (int r = 0; r < 5; r++) {
      const int c = counts[scale * 5 + r];
      if (clusters[r].size() >= 3)
        EXPECT_EQ(c, 40) << scale << " " << r;
      else
        EXPECT_LT(c, 40) << scale << " " << r;
    }
  std::vector<double> effective(3, -1);
  std::vector<int> more(counts);
  EXPECT_EQ(
      lopper::bootstrapcounts(6, 3, m.data(), m.mask(), s.w.data(), 0, 'e', 'a', tree.data(), 3,
                              s.scales.data(), 40, 9, 0, 120, more.data(), effective.data()),
      120);
  for (std::size_t k = 0; k < counts.size(); k++) EXPECT_EQ(more[k], 2 * counts[k]) << "added";
  // 0.5 * 3 = 1.5 draws 1.
  EXPECT_EQ(effective, (std::vector<double>{1.0 / 3, 1.0, 2.0}));
}

TEST(Bootstrap, SameCountsForAnyThreadsAndAnySplitIntoRanges) {
  std::mt19937 rng(777);
  for (const char dist : {'e', 'c', 's'}) {
    // Large enough for every thread to take resamples; ranks of elements
    // with gaps are measured pair by pair, too slowly for a test.
    Resampling s{lopper_test::RandomMatrix(80, 120, rng, dist == 's' ? 0.0 : 0.05),
                 std::vector<double>(120, 1.0),
                 0,
                 dist,
                 dist == 's' ? 's' : 'a',
                 {0.6, 1.0, 1.4},
                 12,
                 31};
    const std::vector<Node> tree = TreeOf(s.m, s.w, 0, s.dist, s.method);
    lopper::setrandomseed(3, 4);
    lopper::setthreads(1);
    const std::vector<int> whole = Counts(s, tree, 0, 36);
    int seed1, seed2;
    lopper::getrandomseed(&seed1, &seed2);
    EXPECT_EQ(seed1, 3) << "the caller's generator moved";
    EXPECT_EQ(seed2, 4) << "the caller's generator moved";
    for (const int threads : {2, 4}) {
      lopper::setthreads(threads);
      EXPECT_EQ(Counts(s, tree, 0, 36), whole) << dist << " threads " << threads;
      std::vector<int> parts(whole.size(), 0);
      for (const auto& range : {std::pair<int, int>{0, 5}, {5, 5}, {5, 23}, {23, 36}}) {
        const std::vector<int> part = Counts(s, tree, range.first, range.second);
        for (std::size_t k = 0; k < part.size(); k++) parts[k] += part[k];
      }
      EXPECT_EQ(parts, whole) << dist << " split, threads " << threads;
    }
    lopper::setthreads(0);
    // Neither all nor none: the counts tell the resamples apart.
    EXPECT_NE(
        std::count(whole.begin(), whole.end(), 0) + std::count(whole.begin(), whole.end(), 12),
        static_cast<long>(whole.size()));
  }
}

TEST(Bootstrap, DrawsDependOnSeedAndResampleOnly) {
  std::vector<int> a(50), b(50), c(50);
  lopper::detail::bootstrapdraws(5, 7, 50, 70, a.data());
  lopper::setrandomseed(11, 12);
  lopper::detail::bootstrapdraws(5, 7, 50, 70, b.data());
  EXPECT_EQ(a, b);
  EXPECT_EQ(std::accumulate(a.begin(), a.end(), 0), 70);
  lopper::detail::bootstrapdraws(5, 8, 50, 70, c.data());
  EXPECT_NE(a, c) << "resample";
  lopper::detail::bootstrapdraws(6, 7, 50, 70, c.data());
  EXPECT_NE(a, c) << "seed";
  // Every value is drawn about as often: 50 values, 20000 draws of each
  // expected 400 times, a chi-square of 49 degrees of freedom below its
  // 0.999 quantile (85.4).
  std::vector<int> total(50, 0);
  for (int q = 0; q < 200; q++) {
    lopper::detail::bootstrapdraws(3, q, 50, 100, c.data());
    for (int j = 0; j < 50; j++) total[j] += c[j];
  }
  double chi2 = 0;
  for (const int t : total) chi2 += (t - 400.0) * (t - 400.0) / 400.0;
  EXPECT_LT(chi2, 85.4);
}

TEST(Bootstrap, EffectiveScalesArePvclustsWholeDraws) {
  Matrix m({{0, 1, 2, 3}, {1, 0, 3, 2}, {5, 3, 0, 1}});
  const std::vector<double> w(4, 1.0);
  const std::vector<Node> tree{{0, 1, 1}, {-1, 2, 2}};
  // 4 values: 0.625 * 4 = 2.5 draws 2, 0.875 * 4 = 3.5 draws 3 (pvclust's
  // floor; R's round would give 4).
  const std::vector<double> scales{0.625, 0.875, 0.3, 1.0, 10.0};
  std::vector<double> effective(5, -1);
  std::vector<int> counts(10, 0);
  ASSERT_EQ(lopper::bootstrapcounts(3, 4, m.data(), m.mask(), w.data(), 0, 'e', 's', tree.data(), 5,
                                    scales.data(), 3, 1, 0, 15, counts.data(), effective.data()),
            15);
  EXPECT_EQ(effective, (std::vector<double>{0.5, 0.75, 0.25, 1.0, 10.0}));
  for (int s = 0; s < 5; s++) EXPECT_EQ(counts[s * 2 + 1], 3) << "the root is in every tree";
}

TEST(Bootstrap, BadArgumentsAndFailedResamplesLeaveTheOutputs) {
  Matrix good({{0, 1, 2, 3}, {1, 0, 3, 2}, {5, 3, 0, 1}, {2, 2, 2, 9}});
  Matrix bad({{NAN, NAN, NAN, NAN}, {1, 0, 3, 2}, {5, 3, 0, 1}, {2, 2, 2, 9}});
  const std::vector<double> w(4, 1.0);
  const std::vector<Node> tree{{0, 1, 1}, {2, 3, 1}, {-1, -2, 2}};
  const std::vector<Node> twice{{0, 1, 1}, {0, 3, 1}, {-1, -2, 2}};
  const std::vector<Node> later{{0, 1, 1}, {-3, 3, 1}, {-1, 2, 2}};
  struct Call {
    Matrix* m;
    const double* w;
    char method;
    const Node* tree;
    std::vector<double> scales;
    int nboot, first, last;
    bool counts;
  };
  const Call base{&good, w.data(), 'a', tree.data(), {1.0, 2.0}, 3, 0, 6, true};
  const std::vector<std::pair<std::string, std::function<void(Call&)>>> cases{
      {"method", [](Call& c) { c.method = 'x'; }},
      {"repeated child", [&](Call& c) { c.tree = twice.data(); }},
      {"record before its child", [&](Call& c) { c.tree = later.data(); }},
      {"null tree", [](Call& c) { c.tree = nullptr; }},
      {"scale drawing nothing", [](Call& c) { c.scales[1] = 0.125; }},
      {"negative scale", [](Call& c) { c.scales[0] = -1; }},
      {"NaN scale", [](Call& c) { c.scales[0] = NAN; }},
      {"scale past INT_MAX", [](Call& c) { c.scales[0] = 1e9; }},
      {"no scales", [](Call& c) { c.scales.clear(); }},
      {"nboot 0", [](Call& c) { c.nboot = c.last = 0; }},
      {"first < 0", [](Call& c) { c.first = -1; }},
      {"last < first",
       [](Call& c) {
         c.first = 4;
         c.last = 3;
       }},
      {"last past the run", [](Call& c) { c.last = 7; }},
      {"null weight", [](Call& c) { c.w = nullptr; }},
      {"null counts", [](Call& c) { c.counts = false; }},
      {"value not finite", [&](Call& c) { c.m = &bad; }},
  };
  for (const auto& [name, change] : cases) {
    Call c = base;
    change(c);
    std::vector<int> counts(6, 7);
    std::vector<double> effective(2, -3);
    const int r = lopper::bootstrapcounts(
        4, 4, c.m->data(), c.m->mask(), c.w, 0, 'e', c.method, c.tree,
        static_cast<int>(c.scales.size()), c.scales.empty() ? nullptr : c.scales.data(), c.nboot, 5,
        c.first, c.last, c.counts ? counts.data() : nullptr, effective.data());
    EXPECT_EQ(r, -1) << name;
    EXPECT_EQ(counts, std::vector<int>(6, 7)) << name;
    EXPECT_EQ(effective, std::vector<double>(2, -3)) << name;
  }
  std::vector<int> counts(6, 0);
  EXPECT_EQ(
      lopper::bootstrapcounts(4, 4, good.data(), good.mask(), w.data(), 0, 'e', 'a', tree.data(), 2,
                              base.scales.data(), 3, 5, 2, 2, counts.data(), nullptr),
      0)
      << "an empty range";
}

struct Call {
  std::string step;
  long done, total;
};

void Record(const char* step, long done, long total, void* calls) {
  static_cast<std::vector<Call>*>(calls)->push_back({step, done, total});
}

TEST(Bootstrap, ReportsResamplesOnlyRisingToTheTotal) {
  std::mt19937 rng(99);
  // Large enough for three threads to take resamples.
  Resampling s{lopper_test::RandomMatrix(60, 200, rng, 0.0),
               std::vector<double>(200, 1.0),
               0,
               'e',
               'a',
               {1.0},
               40,
               3};
  const std::vector<Node> tree = TreeOf(s.m, s.w, 0, 'e', 'a');
  for (const int threads : {1, 3}) {
    lopper::setthreads(threads);
    std::vector<Call> calls;
    lopper::setprogress(Record, &calls);
    Counts(s, tree, 0, 40);
    lopper::setprogress(nullptr, nullptr);
    ASSERT_FALSE(calls.empty());
    for (std::size_t k = 0; k < calls.size(); k++) {
      EXPECT_EQ(calls[k].step, "bootstrap");
      EXPECT_EQ(calls[k].total, 40);
      if (k) {
        EXPECT_GT(calls[k].done, calls[k - 1].done);
      }
    }
    EXPECT_EQ(calls.back().done, 40) << threads;
  }
  lopper::setthreads(0);
}

}  // namespace
