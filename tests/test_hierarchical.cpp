#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cluster_internal.h"
#include "matrix.h"
#include "test_util.h"

namespace {

using lopper::Node;
using lopper_test::Lower;
using lopper_test::Matrix;
using Records = std::vector<Node>;
using Values = std::vector<double>;

Records Take(Node* tree, int nelements) {
  Records r;
  if (tree) r.assign(tree, tree + nelements - 1);
  std::free(tree);
  return r;
}

void ExpectRecords(const Records& got, const Records& expected, const std::string& what) {
  ASSERT_EQ(got.size(), expected.size()) << what;
  for (std::size_t k = 0; k < got.size(); k++) {
    EXPECT_EQ(got[k].left, expected[k].left) << what << " record " << k;
    EXPECT_EQ(got[k].right, expected[k].right) << what << " record " << k;
    EXPECT_DOUBLE_EQ(got[k].distance, expected[k].distance) << what << " record " << k;
  }
}

// From a caller's matrix (no data needed for 's', 'm', 'a').
TEST(Treecluster, WorkedExamplesFromAMatrix) {
  const struct Case {
    std::vector<Values> matrix;
    char method;
    Records records;
  } cases[] = {
      {{{}, {0.7}}, 'm', {{1, 0, 0.7}}},
      {{{}, {0.7}}, 'a', {{1, 0, 0.7}}},
      {{{}, {0.7}}, 's', {{0, 1, 0.7}}},
      {{{}, {1}, {1, 1}}, 'm', {{1, 0, 1}, {2, -1, 1}}},
      {{{}, {1}, {3, 2}}, 's', {{0, 1, 1}, {-1, 2, 2}}},
      {{{}, {1}, {3, 2}}, 'm', {{1, 0, 1}, {2, -1, 3}}},
      {{{}, {1}, {3, 2}}, 'a', {{1, 0, 1}, {2, -1, 2.5}}},
      // {0,1} then 2: a plain mean (3); then element 3 against {0,1,2}:
      // weighted 2:1 between 15 and 9, giving 13 (12 if unweighted).
      {{{}, {1}, {2, 4}, {10, 20, 9}}, 'a', {{1, 0, 1}, {2, -1, 3}, {3, -2, 13}}},
      {{{}, {1}, {2, 4}, {10, 20, 9}}, 'm', {{1, 0, 1}, {2, -1, 4}, {3, -2, 20}}},
      {{{}, {1}, {2, 4}, {10, 20, 9}}, 's', {{0, 1, 1}, {-1, 2, 2}, {-2, 3, 9}}},
      // Equal smallest entries: the lowest row, then the lowest column.
      {{{}, {5}, {2, 2}, {2, 1, 1}}, 'm', {{3, 1, 1}, {2, 0, 2}, {-1, -2, 5}}},
  };
  for (const auto& c : cases) {
    Lower d(c.matrix);
    const int n = static_cast<int>(c.matrix.size());
    Matrix dummy(std::vector<Values>(n, Values{0}));
    const Values w{1};
    ExpectRecords(Take(lopper::treecluster(n, 1, dummy.data(), dummy.mask(), w.data(), 0, 'e',
                                           c.method, d.data()),
                       n),
                  c.records, std::string(1, c.method) + " n " + std::to_string(n));
  }
}

// From data: centroid linkage recomputes distances from member means.
TEST(Treecluster, WorkedExamplesFromData) {
  const double missing = 99;  // a value that must be ignored
  const struct Case {
    std::vector<Values> data;
    std::vector<std::vector<int>> mask;
    char method;
    Records records;
  } cases[] = {
      {{{0}, {2}}, {}, 'c', {{0, 1, 4}}},
      {{{0}, {2}}, {}, 's', {{0, 1, 4}}},
      {{{0}, {2}}, {}, 'm', {{1, 0, 4}}},
      {{{0}, {1}, {3}}, {}, 'c', {{0, 1, 1}, {-1, 2, 6.25}}},
      // The second dimension is missing in both merged elements: its count
      // stays 0 and the merged cluster is compared on the first alone.
      {{{0, missing}, {2, missing}, {10, 5}},
       {{1, 0}, {1, 0}, {1, 1}},
       'c',
       {{0, 1, 4}, {-1, 2, 81}}},
      // Element 3 moves into the slot freed by element 1.
      {{{0, 0}, {0, 4}, {6, 0}, {6, 4}}, {}, 'c', {{0, 1, 8}, {3, 2, 8}, {-1, -2, 18}}},
  };
  for (const auto& c : cases) {
    Matrix rows(c.data, c.mask);
    Matrix columns = rows.transposed();
    const Values w(c.data[0].size(), 1.0);
    const int n = rows.nrows();
    for (const int transpose : {0, 1}) {
      Matrix& m = transpose ? columns : rows;
      ExpectRecords(Take(lopper::treecluster(m.nrows(), m.ncolumns(), m.data(), m.mask(), w.data(),
                                             transpose, 'e', c.method, nullptr),
                         n),
                    c.records,
                    std::string(1, c.method) + " transpose " + std::to_string(transpose));
    }
  }
}

TEST(Treecluster, NoTreeForTooFewElementsOrAnotherMethod) {
  Matrix one({{1, 2, 3}});
  const Values w{1, 1, 1};
  const long before = lopper::detail::live_blocks();
  for (const char method : std::string("smacwqdz")) {
    EXPECT_EQ(lopper::treecluster(1, 3, one.data(), one.mask(), w.data(), 0, 'e', method, nullptr),
              nullptr);
    EXPECT_EQ(lopper::treecluster(0, 3, one.data(), one.mask(), w.data(), 0, 'e', method, nullptr),
              nullptr);
    Matrix column = one.transposed();
    EXPECT_EQ(
        lopper::treecluster(3, 1, column.data(), column.mask(), w.data(), 1, 'e', method, nullptr),
        nullptr);
  }
  Matrix three({{1}, {2}, {4}});
  EXPECT_EQ(lopper::treecluster(3, 1, three.data(), three.mask(), w.data(), 0, 'e', 'z', nullptr),
            nullptr);
  EXPECT_EQ(lopper::detail::live_blocks(), before);
  using lopper::detail::Status;
  Lower d(std::vector<Values>(1));
  Node tree[1];
  EXPECT_EQ(lopper::detail::pmlcluster(1, d.data(), tree), Status::kBadArguments);
  EXPECT_EQ(lopper::detail::palcluster(1, d.data(), tree), Status::kBadArguments);
  EXPECT_EQ(
      lopper::detail::pclcluster(1, 1, one.data(), one.mask(), w.data(), d.data(), 'e', 0, tree),
      Status::kBadArguments);
  EXPECT_EQ(
      lopper::detail::pslcluster(1, 1, one.data(), one.mask(), w.data(), d.data(), 'e', 0, tree),
      Status::kBadArguments);
}

// Equal entries, NaN equal to NaN.
bool SameEntries(const Lower& a, const Lower& b) {
  auto same = [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); };
  if (a.rows().size() != b.rows().size()) return false;
  for (std::size_t i = 0; i < a.rows().size(); i++)
    if (!std::equal(a.rows()[i].begin(), a.rows()[i].end(), b.rows()[i].begin(), b.rows()[i].end(),
                    same))
      return false;
  return true;
}

// A NaN or infinite distance, the caller's or one computed, gives no tree
// by any method; a caller's matrix found so is left as it was.
TEST(Treecluster, NonFiniteDistancesGiveNoTree) {
  const double nan = std::nan(""), inf = HUGE_VAL;
  const Values w{1};
  const Matrix calm({{0}, {1}, {3}, {6}});
  const Matrix huge({{0}, {1}, {1e200}, {-1e200}});  // 'e' distances overflow to infinity
  const struct Case {
    const char* catches;
    const Matrix* data;
    std::vector<Values> matrix;  // empty: distances come from the data
    std::string methods;
  } cases[] = {
      // One that checks NaN only.
      {"+inf", &calm, {{}, {1}, {inf, 2}, {4, 5, 6}}, "smacwqd"},
      {"-inf", &calm, {{}, {1}, {-inf, 2}, {4, 5, 6}}, "smacwqd"},
      {"nan", &calm, {{}, {1}, {nan, 2}, {4, 5, 6}}, "smacwqd"},
      // One that checks only the first rows or columns of the matrix.
      {"last entry", &calm, {{}, {1}, {2, 3}, {4, 5, nan}}, "smacwqd"},
      // One that checks only the caller's matrix, not distances it computes
      // (for centroid linkage also those between merged clusters).
      {"computed", &huge, {}, "smacwqd"},
      {"recomputed by centroid", &huge, {{}, {1}, {2, 3}, {4, 5, 6}}, "c"},
  };
  const long before = lopper::detail::live_blocks();
  for (const Case& c : cases)
    for (const char method : c.methods) {
      Matrix m(*c.data);
      Lower d(c.matrix.empty() ? std::vector<Values>(4) : c.matrix);
      const Lower given(d);
      EXPECT_EQ(lopper::treecluster(4, 1, m.data(), m.mask(), w.data(), 0, 'e', method,
                                    c.matrix.empty() ? nullptr : d.data()),
                nullptr)
          << c.catches << " " << method;
      if (c.data == &calm) {
        EXPECT_TRUE(SameEntries(d, given)) << c.catches << " " << method;
      }
    }
  EXPECT_EQ(lopper::detail::live_blocks(), before);
}

// A value that is not finite gives no tree by any method or measure, even
// where single linkage or a caller's matrix never builds one; masked out,
// it takes no part.
TEST(Treecluster, DataThatIsNotFiniteGivesNoTree) {
  const Values w{1, 1};
  for (const double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL})
    for (const char dist : std::string("ebcauxsk"))
      for (const char method : std::string("smacwqd")) {
        Matrix m({{0, 1}, {bad, 2}, {3, 4}, {1, 7}});
        Lower d({{}, {1}, {2, 3}, {4, 5, 6}});
        const Lower before(d);
        EXPECT_EQ(lopper::treecluster(4, 2, m.data(), m.mask(), w.data(), 0, dist, method, nullptr),
                  nullptr)
            << dist << method << bad;
        if (method == 'c') {
          EXPECT_EQ(lopper::treecluster(4, 2, m.data(), m.mask(), w.data(), 0, dist, 'c', d.data()),
                    nullptr);
          EXPECT_EQ(d.rows(), before.rows());
        }
        // A missing value is never read, whatever it holds.
        const std::vector<std::vector<int>> gap{{1, 1}, {0, 1}, {1, 1}, {1, 1}};
        Matrix masked({{0, 1}, {bad, 2}, {3, 4}, {1, 7}}, gap);
        Matrix zero({{0, 1}, {0, 2}, {3, 4}, {1, 7}}, gap);
        const Records tree = Take(lopper::treecluster(4, 2, masked.data(), masked.mask(), w.data(),
                                                      0, dist, method, nullptr),
                                  4);
        EXPECT_EQ(tree.size(), 3u) << dist << method << bad;
        ExpectRecords(tree,
                      Take(lopper::treecluster(4, 2, zero.data(), zero.mask(), w.data(), 0, dist,
                                               method, nullptr),
                           4),
                      std::string(1, dist) + method);
      }
  Matrix m({{0, 1}, {2, 2}, {3, 4}, {1, 7}});
  for (const char method : std::string("smacwqd"))
    EXPECT_NE(
        Take(lopper::treecluster(4, 2, m.data(), m.mask(), w.data(), 0, 'e', method, nullptr), 4)
            .size(),
        0u);
}

// Centroid linkage needs the data even with a matrix; without, no tree and
// the matrix as it was.
TEST(Treecluster, CentroidWithoutDataGivesNoTree) {
  Lower d({{}, {1}, {2, 3}});
  const Lower before(d);
  const Values w{1};
  Matrix m(std::vector<Values>(3, Values{0}));
  EXPECT_EQ(lopper::treecluster(3, 1, nullptr, m.mask(), w.data(), 0, 'e', 'c', d.data()), nullptr);
  EXPECT_EQ(lopper::treecluster(3, 1, m.data(), nullptr, w.data(), 0, 'e', 'c', d.data()), nullptr);
  EXPECT_EQ(lopper::treecluster(3, 1, m.data(), m.mask(), nullptr, 0, 'e', 'c', d.data()), nullptr);
  EXPECT_EQ(d.rows(), before.rows());
  EXPECT_EQ(
      Take(lopper::treecluster(3, 1, nullptr, nullptr, nullptr, 0, 'e', 'a', d.data()), 3).size(),
      2u);
}

TEST(Treecluster, CallersMatrixIsWorkingStorageExceptForSingle) {
  std::mt19937 rng(5);
  Matrix m = lopper_test::RandomMatrix(12, 4, rng, 0.1);
  const Values w(4, 1.0);
  const Lower original = lopper_test::DistancesOf(m, w, 'e');
  for (const char method : std::string("smacwqd")) {
    Lower d(original);
    Take(lopper::treecluster(12, 4, m.data(), m.mask(), w.data(), 0, 'e', method, d.data()), 12);
    if (method == 's') {
      EXPECT_EQ(d.rows(), original.rows());
    } else {
      EXPECT_NE(d.rows(), original.rows()) << method;
    }
  }
}

// Single linkage from a matrix and from data; every method the same in both
// orientations; heights ascending for 's' and non-decreasing for 'm', 'a'.
TEST(Treecluster, SameTreeWhereverTheDistancesComeFrom) {
  const unsigned seed = 8080;
  std::mt19937 rng(seed);
  for (const int n : {2, 3, 9, 40, 120}) {
    for (const char dist : std::string("ebcauxsk")) {
      Matrix rows = lopper_test::RandomMatrix(n, 5, rng, 0.15, dist == 'e' ? 4 : 0);
      Matrix columns = rows.transposed();
      Values w(5);
      for (double& x : w) x = 0.5 + std::uniform_real_distribution<double>()(rng);
      const Lower matrix = lopper_test::DistancesOf(rows, w, dist);
      for (const char method : std::string("smacwqd")) {
        const std::string what = "seed " + std::to_string(seed) + " n " + std::to_string(n) +
                                 " dist " + dist + " method " + method;
        const Records from_rows = Take(
            lopper::treecluster(n, 5, rows.data(), rows.mask(), w.data(), 0, dist, method, nullptr),
            n);
        const Records from_columns = Take(lopper::treecluster(5, n, columns.data(), columns.mask(),
                                                              w.data(), 1, dist, method, nullptr),
                                          n);
        ExpectRecords(from_columns, from_rows, what + " transposed");
        if (method == 's') {
          Lower d(matrix);
          ExpectRecords(Take(lopper::treecluster(n, 5, rows.data(), rows.mask(), w.data(), 0, dist,
                                                 's', d.data()),
                             n),
                        from_rows, what + " from a matrix");
        }
        if (method == 'c' || method == 'd') continue;  // inversions are theirs
        for (std::size_t k = 1; k < from_rows.size(); k++)
          EXPECT_LE(from_rows[k - 1].distance, from_rows[k].distance) << what;
      }
    }
  }
}

// The cases SciPy's linkage gave (tests/data/make_linkage_cases.py).
struct ScipyCase {
  int n = 0, ndata = 0;
  char dist = 'e';
  std::string seed;
  Values weight;
  std::vector<Values> data;
  std::vector<std::vector<int>> mask;
  std::map<char, Values> heights;
  std::map<std::pair<char, int>, std::vector<int>> labels;
};

std::vector<ScipyCase> ReadScipyCases() {
  std::ifstream in(LOPPER_TEST_DATA "/linkage_cases.txt");
  std::vector<ScipyCase> cases;
  std::string word;
  while (in >> word && word != "end") {
    if (word == "case") {
      ScipyCase c;
      in >> c.n >> c.ndata >> c.dist >> c.seed >> word;
      c.weight.resize(c.ndata);
      for (double& w : c.weight) in >> w;
      for (int i = 0; i < c.n; i++) {
        Values row(c.ndata);
        std::vector<int> present(c.ndata);
        for (int j = 0; j < c.ndata; j++) {
          in >> word;
          present[j] = word != "-";
          row[j] = present[j] ? std::stod(word) : 0.0;
        }
        c.data.push_back(row);
        c.mask.push_back(present);
      }
      cases.push_back(c);
    } else if (word == "heights") {
      char method;
      in >> method;
      Values& h = cases.back().heights[method];
      h.resize(cases.back().n - 1);
      for (double& x : h) in >> x;
    } else if (word == "labels") {
      char method;
      int k;
      in >> method >> k;
      std::vector<int>& l = cases.back().labels[{method, k}];
      l.resize(cases.back().n);
      for (int& x : l) in >> x;
    }
  }
  return cases;
}

// Same partition, whatever the numbers: a one-to-one map between labels.
bool SameGrouping(const std::vector<int>& a, const std::vector<int>& b) {
  std::map<int, int> ab, ba;
  for (std::size_t i = 0; i < a.size(); i++)
    if (ab.emplace(a[i], b[i]).first->second != b[i] ||
        ba.emplace(b[i], a[i]).first->second != a[i])
      return false;
  return a.size() == b.size();
}

TEST(Treecluster, AgreesWithScipy) {
  const std::vector<ScipyCase> cases = ReadScipyCases();
  ASSERT_EQ(cases.size(), 7u);
  for (const ScipyCase& c : cases) {
    Matrix m(c.data, c.mask);
    for (const auto& [method, scipy_heights] : c.heights) {
      const std::string what =
          std::string("seed ") + c.seed + " n " + std::to_string(c.n) + " method " + method;
      double** built =
          lopper::distancematrix(c.n, c.ndata, m.data(), m.mask(), c.weight.data(), c.dist, 0);
      ASSERT_NE(built, nullptr);
      Records tree = Take(lopper::treecluster(c.n, c.ndata, m.data(), m.mask(), c.weight.data(), 0,
                                              c.dist, method, built),
                          c.n);
      for (int i = 1; i < c.n; i++) std::free(built[i]);
      std::free(built);
      Values heights;
      for (const Node& r : tree) heights.push_back(r.distance);
      std::sort(heights.begin(), heights.end());
      ASSERT_EQ(heights.size(), scipy_heights.size()) << what;
      for (std::size_t k = 0; k < heights.size(); k++)
        EXPECT_NEAR(heights[k], scipy_heights[k], 1e-12 * std::fabs(scipy_heights[k]))
            << what << " " << k;
      for (const auto& [key, scipy_labels] : c.labels) {
        if (key.first != method) continue;
        std::vector<int> ids(c.n);
        lopper::cuttree(c.n, tree.data(), key.second, ids.data());
        EXPECT_EQ(std::set<int>(scipy_labels.begin(), scipy_labels.end()).size(),
                  static_cast<std::size_t>(key.second));
        EXPECT_TRUE(SameGrouping(ids, scipy_labels)) << what << " k " << key.second;
      }
    }
  }
}

// Builds a tree with the k-th allocation failing, from new or from the
// library's allocator, for k = 1, 2, ... until one is built (released),
// calling check(k) after each null; how many were null. A failure when
// more than `most` were.
template <class Build, class Check>
int NullsUnderShortage(bool in_new, long most, Build build, Check check) {
  for (long k = 1;; k++) {
    if (in_new)
      lopper_test::FailNthNew(k);
    else
      lopper::detail::fail_allocation(k);
    Node* tree = build();
    lopper_test::FailNthNew(0);
    lopper::detail::fail_allocation(0);
    if (tree) {
      lopper::detail::release(tree);
      return static_cast<int>(k - 1);
    }
    check(k);
    if (k >= most) {
      ADD_FAILURE() << "still null after " << k << " failed allocations";
      return static_cast<int>(k);
    }
  }
}

// Every allocation of every method, with and without a caller's matrix: a
// failure gives null, keeps no block and leaves the caller's matrix alone.
TEST(Treecluster, MemoryShortageGivesNullAndChangesNothing) {
  std::mt19937 rng(11);
  Matrix m = lopper_test::RandomMatrix(7, 3, rng, 0.1);
  const Values w(3, 1.0);
  const Lower original = lopper_test::DistancesOf(m, w, 'c');
  const long before = lopper::detail::live_blocks();
  for (const char method : std::string("smacwqd")) {
    for (const bool with_matrix : {false, true}) {
      for (const bool in_new : {false, true}) {
        std::optional<Lower> d(original);  // a fresh copy for every try
        const int failures = NullsUnderShortage(
            in_new, 100,
            [&] {
              return lopper::treecluster(7, 3, m.data(), m.mask(), w.data(), 0, 'c', method,
                                         with_matrix ? d->data() : nullptr);
            },
            [&](long k) {
              EXPECT_EQ(d->rows(), original.rows()) << method << " k " << k;
              EXPECT_EQ(lopper::detail::live_blocks(), before) << method << " k " << k;
              d.emplace(original);
            });
        EXPECT_GE(failures, 1) << method << (in_new ? " new" : " malloc");
      }
    }
  }
}

}  // namespace

namespace {

// Each merge of a tree as the members it joins, by their smallest element,
// with its height: trees that merge the same clusters have the same map,
// however their records are ordered and their children placed.
std::map<std::vector<int>, double> Merges(const Records& tree, int n) {
  std::vector<std::vector<int>> members(tree.size());
  std::map<std::vector<int>, double> merges;
  const auto of = [&](int r) { return r >= 0 ? std::vector<int>{r} : members[-r - 1]; };
  for (std::size_t k = 0; k < tree.size(); k++) {
    std::vector<int> joined = of(tree[k].left), right = of(tree[k].right);
    joined.insert(joined.end(), right.begin(), right.end());
    std::sort(joined.begin(), joined.end());
    members[k] = joined;
    merges[joined] = tree[k].distance;
  }
  EXPECT_EQ(merges.size(), static_cast<std::size_t>(n - 1));
  return merges;
}

}  // namespace

// The tree from the data alone merges what the matrix route merges, at the
// same heights: bit for bit where both measure alike between the same
// profiles (single; centroid by the differences), to rounding where the
// matrix route updates distances (Ward, median); for any thread count, and
// past the sizes at which sweeps are shared and merged-away slots
// compacted.
TEST(TreeclusterData, SameMergesAsTheMatrixRoute) {
  const unsigned seed = 9191;
  std::mt19937 rng(seed);
  const struct Case {
    char method, dist;
    double missing;
    bool unit;
  } cases[] = {{'c', 'E', 0, true},  {'c', 'E', 0.1, true}, {'c', 'e', 0, false},
               {'w', 'E', 0, true},  {'w', 'E', 0, false},  {'d', 'E', 0, true},
               {'s', 'E', 0.1, true}};
  for (const Case& c : cases)
    for (const int n : {2, 3, 17, 300, 2100}) {
      if (n == 2100 && c.dist != 'E') continue;
      Matrix m = lopper_test::RandomMatrix(n, 6, rng, c.missing);
      Values w(6, 1.0);
      if (!c.unit)
        for (double& x : w) x = 0.5 + std::uniform_real_distribution<double>()(rng);
      const std::string what = "seed " + std::to_string(seed) + " method " + c.method + " dist " +
                               c.dist + " n " + std::to_string(n);
      const Records matrix = Take(
          lopper::treecluster(n, 6, m.data(), m.mask(), w.data(), 0, c.dist, c.method, nullptr), n);
      Records data[2];
      for (const int threads : {1, 2}) {
        lopper::setthreads(threads);
        data[threads - 1] = Take(
            lopper::treeclusterdata(n, 6, m.data(), m.mask(), w.data(), 0, c.dist, c.method), n);
      }
      lopper::setthreads(0);
      ASSERT_EQ(data[0].size(), static_cast<std::size_t>(n - 1)) << what;
      ExpectRecords(data[1], data[0], what + " two threads");
      const auto expected = Merges(matrix, n), got = Merges(data[0], n);
      const bool exact = c.method == 's' || c.method == 'c';
      for (const auto& [members, height] : expected) {
        const auto found = got.find(members);
        ASSERT_NE(found, got.end()) << what << " a merge of " << members.size();
        if (exact)
          EXPECT_EQ(found->second, height) << what;
        else
          EXPECT_NEAR(found->second, height, 1e-12 * height) << what;
      }
    }
}

// What has no form without the matrix gives null and keeps nothing.
TEST(TreeclusterData, NullForWhatItCannotBuild) {
  std::mt19937 rng(77);
  Matrix complete = lopper_test::RandomMatrix(5, 3, rng, 0);
  Matrix gaps = lopper_test::RandomMatrix(5, 3, rng, 0.3);
  Matrix bad({{0, 1}, {NAN, 2}, {3, 4}});
  const Values w(3, 1.0);
  const long before = lopper::detail::live_blocks();
  const struct Case {
    const char* what;
    Matrix* data;
    int n;
    char dist, method;
  } cases[] = {{"average", &complete, 5, 'E', 'a'},       {"complete", &complete, 5, 'E', 'm'},
               {"weighted", &complete, 5, 'E', 'q'},      {"ward by 'e'", &complete, 5, 'e', 'w'},
               {"median by 'Q'", &complete, 5, 'Q', 'd'}, {"ward with gaps", &gaps, 5, 'E', 'w'},
               {"one element", &complete, 1, 'E', 'c'},   {"not finite", &bad, 3, 'E', 'c'}};
  for (const Case& c : cases)
    EXPECT_EQ(lopper::treeclusterdata(c.n, c.data->ncolumns(), c.data->data(), c.data->mask(),
                                      w.data(), 0, c.dist, c.method),
              nullptr)
        << c.what;
  EXPECT_EQ(lopper::detail::live_blocks(), before);
}

// Every allocation, from the library's allocator and from new: null, and
// no block kept.
TEST(TreeclusterData, MemoryShortageGivesNull) {
  std::mt19937 rng(12);
  Matrix m = lopper_test::RandomMatrix(9, 3, rng, 0);
  const Values w(3, 1.0);
  const long before = lopper::detail::live_blocks();
  for (const char method : std::string("scwd"))
    for (const bool in_new : {false, true}) {
      const int failures = NullsUnderShortage(
          in_new, 200,
          [&] {
            return lopper::treeclusterdata(9, 3, m.data(), m.mask(), w.data(), 0, 'E', method);
          },
          [&](long k) {
            EXPECT_EQ(lopper::detail::live_blocks(), before) << method << " k " << k;
          });
      EXPECT_GE(failures, 1) << method << (in_new ? " new" : " malloc");
    }
}
