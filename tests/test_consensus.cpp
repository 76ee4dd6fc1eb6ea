// Consensus clustering: the counts against a reference that draws each
// resample itself and clusters it with the public routines, their
// independence of threads and of how the resamples are split, the
// finishing arithmetic on hand-worked counts, and the whole method against
// ConsensusClusterPlus's results (tests/data/make_consensus_cases.R).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cluster_internal.h"
#include "matrix.h"

namespace {

using lopper_test::Matrix;
using Ids = std::vector<int>;

Matrix RandomTable(int nrows, int ncolumns, int seed) {
  lopper::setrandomseed(seed, seed + 1);
  std::vector<std::vector<double>> v(nrows, std::vector<double>(ncolumns));
  for (int i = 0; i < nrows; i++)
    for (int j = 0; j < ncolumns; j++) v[i][j] = (i % 3) * 2 + lopper::detail::uniform();
  return Matrix(v);
}

struct Counts {
  Ids together, sampled;
  bool operator==(const Counts& o) const { return together == o.together && sampled == o.sampled; }
  bool operator!=(const Counts& o) const { return !(*this == o); }
};

struct Resampling {
  char algorithm, dist;
  int transpose;
  double pitem, pfeature;
};

// Resample q as the method describes it: its stream, the items drawn,
// then the features, the drawn table clustered by the public routines.
void ReferenceResample(Matrix& m, const std::vector<double>& w, const Resampling& r, const Ids& ks,
                       int seed, int q, Counts& c) {
  const int n = r.transpose ? m.ncolumns() : m.nrows();
  const int ndata = r.transpose ? m.nrows() : m.ncolumns();
  const int nitems = static_cast<int>(std::floor(r.pitem * n));
  const int nfeatures = static_cast<int>(std::floor(r.pfeature * ndata));
  lopper::detail::seedstream(seed, q);
  Ids items(nitems), features(nfeatures);
  lopper::detail::drawsubset(n, nitems, items.data());
  if (nfeatures < ndata)
    lopper::detail::drawsubset(ndata, nfeatures, features.data());
  else
    for (int f = 0; f < ndata; f++) features[f] = f;
  std::vector<std::vector<double>> sub(nitems, std::vector<double>(nfeatures));
  std::vector<double> subw(nfeatures);
  for (int a = 0; a < nitems; a++)
    for (int f = 0; f < nfeatures; f++)
      sub[a][f] = r.transpose ? m.data()[features[f]][items[a]] : m.data()[items[a]][features[f]];
  for (int f = 0; f < nfeatures; f++) subw[f] = w[features[f]];
  Matrix s(sub);
  const int tri = n * (n - 1) / 2;
  for (int a = 0; a < nitems; a++)
    for (int b = 0; b < a; b++) c.sampled[items[a] * (items[a] - 1) / 2 + items[b]]++;
  lopper::Node* tree = nullptr;
  double** dm = nullptr;
  if (r.algorithm == 'a' || r.algorithm == 's')
    tree = lopper::treecluster(nitems, nfeatures, s.data(), s.mask(), subw.data(), 0, r.dist,
                               r.algorithm, nullptr);
  if (r.algorithm == 'p')
    dm = lopper::distancematrix(nitems, nfeatures, s.data(), s.mask(), subw.data(), r.dist, 0);
  for (std::size_t t = 0; t < ks.size(); t++) {
    Ids id(nitems);
    double error;
    int ifound;
    if (tree) lopper::cuttree(nitems, tree, ks[t], id.data());
    if (r.algorithm == 'k')
      lopper::kcluster(ks[t], nitems, nfeatures, s.data(), s.mask(), subw.data(), 0, 3, 'a', r.dist,
                       id.data(), &error, &ifound);
    if (dm) lopper::kmedoids(ks[t], nitems, dm, 3, id.data(), &error, &ifound);
    for (int a = 0; a < nitems; a++)
      for (int b = 0; b < a; b++)
        if (id[a] == id[b]) c.together[t * tri + items[a] * (items[a] - 1) / 2 + items[b]]++;
  }
  std::free(tree);
  for (int i = 1; dm && i < nitems; i++) std::free(dm[i]);
  std::free(dm);
}

Counts Library(Matrix& m, const std::vector<double>& w, const Resampling& r, const Ids& ks,
               int seed, int first, int last, Counts c) {
  EXPECT_EQ(lopper::consensuscounts(m.nrows(), m.ncolumns(), m.data(), m.mask(), w.data(),
                                    r.transpose, r.dist, r.algorithm, 3,
                                    static_cast<int>(ks.size()), ks.data(), r.pitem, r.pfeature,
                                    seed, first, last, c.together.data(), c.sampled.data()),
            last - first);
  return c;
}

Counts Empty(int n, int nks) { return {Ids(nks * n * (n - 1) / 2, 0), Ids(n * (n - 1) / 2, 0)}; }

TEST(Consensus, CountsAreThoseOfEachResampleDrawnAndClusteredAlone) {
  Matrix m = RandomTable(10, 7, 3);
  const std::vector<double> w{1, 2, 1, 0.5, 1, 1, 3};
  const std::vector<double> wt(10, 1.0);
  const Ids ks{2, 3, 4};
  const Resampling runs[] = {{'a', 'c', 0, 0.8, 1.0},
                             {'s', 'e', 0, 0.7, 0.6},
                             {'k', 'e', 0, 0.9, 0.5},
                             {'p', 'b', 0, 0.8, 1.0},
                             {'a', 'e', 1, 0.7, 0.8}};
  for (const Resampling& r : runs) {
    const std::vector<double>& weights = r.transpose ? wt : w;
    const int n = r.transpose ? m.ncolumns() : m.nrows();
    Counts expected = Empty(n, 3);
    for (int q = 2; q < 9; q++) ReferenceResample(m, weights, r, ks, 17, q, expected);
    EXPECT_EQ(Library(m, weights, r, ks, 17, 2, 9, Empty(n, 3)), expected)
        << r.algorithm << " " << r.dist << " transpose " << r.transpose;
  }
}

TEST(Consensus, CountsDependOnNeitherThreadsNorSplitNorTheCallersGenerator) {
  Matrix m = RandomTable(40, 12, 5);
  const std::vector<double> w(12, 1.0);
  const Ids ks{2, 3};
  for (const char algorithm : std::string("akp")) {
    const Resampling r{algorithm, 'e', 0, 0.8, 0.9};
    lopper::setthreads(1);
    lopper::setrandomseed(11, 12);
    const Counts one = Library(m, w, r, ks, 4, 0, 24, Empty(40, 2));
    int s1, s2;
    lopper::getrandomseed(&s1, &s2);
    EXPECT_EQ(s1, 11);
    EXPECT_EQ(s2, 12);
    lopper::setthreads(3);
    EXPECT_EQ(Library(m, w, r, ks, 4, 0, 24, Empty(40, 2)), one) << algorithm;
    const Counts part = Library(m, w, r, ks, 4, 0, 7, Empty(40, 2));
    EXPECT_EQ(Library(m, w, r, ks, 4, 7, 24, part), one) << algorithm;
    lopper::setthreads(0);
    EXPECT_NE(Library(m, w, r, ks, 5, 0, 24, Empty(40, 2)), one) << "the seed plays no part";
  }
}

TEST(Consensus, RejectedCountingLeavesTheCounts) {
  Matrix m = RandomTable(6, 4, 1);
  const std::vector<double> w(4, 1.0);
  struct Case {
    const char* what;
    char algorithm;
    int npass;
    Ids ks;
    double pitem, pfeature;
    int first, last;
  } cases[] = {
      {"pitem 0", 'a', 1, {2}, 0.0, 1.0, 0, 2},
      {"pitem above 1", 'a', 1, {2}, 1.2, 1.0, 0, 2},
      {"pfeature 0", 'a', 1, {2}, 1.0, 0.0, 0, 2},
      {"pfeature NaN", 'a', 1, {2}, 1.0, NAN, 0, 2},
      {"k above items", 'a', 1, {5}, 0.7, 1.0, 0, 2},
      {"k 0", 'k', 1, {0}, 1.0, 1.0, 0, 2},
      {"one item", 'a', 1, {1}, 0.2, 1.0, 0, 2},
      {"algorithm", 'z', 1, {2}, 1.0, 1.0, 0, 2},
      {"npass 0", 'k', 0, {2}, 1.0, 1.0, 0, 2},
      {"range", 'a', 1, {2}, 1.0, 1.0, 3, 2},
  };
  for (const Case& c : cases) {
    Ids together(c.ks.size() * 15, 7), sampled(15, 7);
    EXPECT_EQ(
        lopper::consensuscounts(6, 4, m.data(), m.mask(), w.data(), 0, 'e', c.algorithm, c.npass,
                                static_cast<int>(c.ks.size()), c.ks.data(), c.pitem, c.pfeature, 1,
                                c.first, c.last, together.data(), sampled.data()),
        -1)
        << c.what;
    EXPECT_EQ(together, Ids(together.size(), 7)) << c.what;
    EXPECT_EQ(sampled, Ids(15, 7)) << c.what;
  }
}

// Five elements: {0, 1, 2} and {3, 4}; pair (4, 3) never drawn together.
TEST(Consensus, FinishingArithmeticOnHandWorkedCounts) {
  //                  (1,0) (2,0) (2,1) (3,0) (3,1) (3,2) (4,0) (4,1) (4,2) (4,3)
  const Ids together{4, 3, 2, 1, 0, 0, 0, 1, 0, 0};
  const Ids sampled{4, 4, 4, 4, 4, 4, 4, 4, 4, 0};
  std::vector<double> c(10);
  ASSERT_EQ(lopper::consensusmatrix(5, together.data(), sampled.data(), c.data()), 1);
  const std::vector<double> expected{1, 0.75, 0.5, 0.25, 0, 0, 0, 0.25, 0, 0};
  EXPECT_EQ(c, expected);
  const Ids above{5, 3, 2, 1, 0, 0, 0, 1, 0, 0};
  EXPECT_EQ(lopper::consensusmatrix(5, above.data(), sampled.data(), c.data()), 0);

  // Values 0 (x5), 0.25 (x2), 0.5, 0.75, 1: the CDF is 0.5 up to 0.24,
  // 0.7 from 0.25, 0.8 from 0.5, 0.9 from 0.75, 1 at 1. Area = 0.01 *
  // (24 * 0.5 + 25 * 0.7 + 25 * 0.8 + 25 * 0.9 + 1) = 0.73.
  std::vector<double> cdf(100);
  EXPECT_NEAR(lopper::consensuscdf(5, expected.data(), cdf.data()), 0.73, 1e-12);
  EXPECT_DOUBLE_EQ(cdf[23], 0.5);
  EXPECT_DOUBLE_EQ(cdf[24], 0.7);
  EXPECT_DOUBLE_EQ(cdf[49], 0.8);
  EXPECT_DOUBLE_EQ(cdf[74], 0.9);
  EXPECT_DOUBLE_EQ(cdf[98], 0.9);
  EXPECT_DOUBLE_EQ(cdf[99], 1.0);

  const std::vector<double> area{0.5, 0.6, 0.66};
  std::vector<double> delta(3);
  lopper::consensusdelta(3, area.data(), delta.data());
  EXPECT_DOUBLE_EQ(delta[0], 0.5);
  EXPECT_NEAR(delta[1], 0.2, 1e-15);
  EXPECT_NEAR(delta[2], 0.1, 1e-15);

  // Distances 1 - c, average linkage: {0, 1} join at 0, 2 at (0.25 +
  // 0.5) / 2, then 3 and 4 each at 11/12: three clusters are {0, 1, 2},
  // {3}, {4}, numbered by first element.
  Ids ids(5);
  EXPECT_EQ(lopper::consensusclusters(5, expected.data(), 3, ids.data()), 3);
  EXPECT_EQ(ids, (Ids{0, 0, 0, 1, 2}));
  EXPECT_EQ(lopper::consensusclusters(5, expected.data(), 6, ids.data()), -1);
  EXPECT_EQ(ids, Ids(5, -1));

  const Ids parts{0, 0, 0, 1, 1};
  std::vector<double> cluster(3), item(10);
  ASSERT_EQ(
      lopper::clusterconsensus(5, expected.data(), 2, parts.data(), cluster.data(), item.data()),
      1);
  EXPECT_DOUBLE_EQ(cluster[0], (1 + 0.75 + 0.5) / 3);
  EXPECT_DOUBLE_EQ(cluster[1], 0.0);
  const std::vector<double> items{(1 + 0.75) / 2,     (0.25 + 0) / 2,
                                  (1 + 0.5) / 2,      (0 + 0.25) / 2,
                                  (0.75 + 0.5) / 2,   0,
                                  (0.25 + 0 + 0) / 3, 0,
                                  (0 + 0.25 + 0) / 3, 0};
  for (int p = 0; p < 10; p++) EXPECT_DOUBLE_EQ(item[p], items[p]) << p;
  const Ids alone{0, 0, 0, 1, 2};
  ASSERT_EQ(lopper::clusterconsensus(5, expected.data(), 3, alone.data(), cluster.data(), nullptr),
            1);
  EXPECT_TRUE(std::isnan(cluster[2]));
}

// tests/data/consensus_cases.tsv: case, seed, k, area, delta, cluster
// consensus per cluster.
struct RCase {
  double area[2], delta[2];
  std::vector<double> cluster[2];
};

std::map<std::string, std::map<int, RCase>> ReadRCases() {
  std::ifstream in(LOPPER_TEST_DATA "/consensus_cases.tsv");
  std::map<std::string, std::map<int, RCase>> cases;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, values, value;
    int seed, k;
    double area, delta;
    fields >> name >> seed >> k >> area >> delta >> values;
    RCase& c = cases[name][k];
    c.area[seed - 1] = area;
    c.delta[seed - 1] = delta;
    std::istringstream list(values);
    while (std::getline(list, value, ','))
      c.cluster[seed - 1].push_back(std::strtod(value.c_str(), nullptr));
  }
  return cases;
}

Matrix ReadItems(const std::string& file) {
  std::ifstream in(std::string(LOPPER_TEST_DATA) + "/" + file);
  std::string line, word;
  std::getline(in, line);
  std::vector<std::vector<double>> rows;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::getline(fields, word, '\t');
    rows.emplace_back();
    while (std::getline(fields, word, '\t'))
      rows.back().push_back(std::strtod(word.c_str(), nullptr));
  }
  return Matrix(rows);
}

// Our run's area, delta and cluster consensus per k (2 ... 6), 500
// resamples of 80% of the items, as the R script runs; k-medoids takes
// the best of 10 passes, nearer R's PAM (BUILD and SWAP) than one pass.
std::map<int, RCase> OurRun(Matrix& m, char algorithm, char dist) {
  const int n = m.nrows();
  const long tri = static_cast<long>(n) * (n - 1) / 2;
  const Ids ks{2, 3, 4, 5, 6};
  const std::vector<double> w(m.ncolumns(), 1.0);
  Counts c = Empty(n, 5);
  EXPECT_EQ(lopper::consensuscounts(n, m.ncolumns(), m.data(), m.mask(), w.data(), 0, dist,
                                    algorithm, 10, 5, ks.data(), 0.8, 1.0, 1, 0, 500,
                                    c.together.data(), c.sampled.data()),
            500);
  std::map<int, RCase> ours;
  double area[5], delta[5];
  std::vector<double> consensus(tri), cdf(100);
  std::vector<std::vector<double>> clusters(5);
  for (int t = 0; t < 5; t++) {
    lopper::consensusmatrix(n, &c.together[t * tri], c.sampled.data(), consensus.data());
    area[t] = lopper::consensuscdf(n, consensus.data(), cdf.data());
    Ids ids(n);
    lopper::consensusclusters(n, consensus.data(), ks[t], ids.data());
    clusters[t].resize(ks[t]);
    lopper::clusterconsensus(n, consensus.data(), ks[t], ids.data(), clusters[t].data(), nullptr);
  }
  lopper::consensusdelta(5, area, delta);
  for (int t = 0; t < 5; t++) ours[ks[t]] = {{area[t]}, {delta[t]}, {clusters[t]}};
  return ours;
}

// The k past 2 with the largest delta area, as a user reads the plot.
template <class Delta>
int ChosenK(Delta delta) {
  int best = 3;
  for (int k = 4; k <= 6; k++)
    if (delta(k) > delta(best)) best = k;
  return best;
}

// Sampling differs from R's, so values agree within sampling error: three
// times the spread between R's own runs from two seeds, and at least 0.02.
double Tolerance(double r1, double r2) { return std::max(0.02, 3 * std::fabs(r1 - r2)); }

TEST(ConsensusPeer, AgreesWithConsensusClusterPlusWithinSamplingError) {
  const auto r = ReadRCases();
  ASSERT_EQ(r.size(), 3u);
  const struct {
    const char* name;
    const char* file;
    char algorithm, dist;
    // The ks up to which the final partitions are R's: past the planted
    // groups, which group splits rests on near ties of the consensus.
    int stable;
  } cases[] = {{"planted_hc_pearson", "consensus_planted.tsv", 'a', 'c', 3},
               {"planted_pam_pearson", "consensus_planted.tsv", 'p', 'c', 3},
               {"iris_hc_euclidean", "consensus_iris.tsv", 'a', 'E', 3}};
  for (const auto& c : cases) {
    Matrix m = ReadItems(c.file);
    const auto ours = OurRun(m, c.algorithm, c.dist);
    const auto& theirs = r.at(c.name);
    EXPECT_EQ(ChosenK([&](int k) { return ours.at(k).delta[0]; }),
              ChosenK([&](int k) { return theirs.at(k).delta[0]; }))
        << c.name;
    for (int k = 2; k <= 6; k++) {
      const RCase& t = theirs.at(k);
      EXPECT_NEAR(ours.at(k).area[0], t.area[0], Tolerance(t.area[0], t.area[1]))
          << c.name << " k " << k;
      if (k > c.stable) continue;
      ASSERT_EQ(ours.at(k).cluster[0].size(), t.cluster[0].size());
      for (std::size_t j = 0; j < t.cluster[0].size(); j++)
        EXPECT_NEAR(ours.at(k).cluster[0][j], t.cluster[0][j],
                    Tolerance(t.cluster[0][j], t.cluster[1][j]))
            << c.name << " k " << k << " cluster " << j;
    }
  }
}

}  // namespace
