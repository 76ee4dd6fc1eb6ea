// The cached closest-pair search against the plain scan, and the library's
// merges against plain ones: byte-identical trees for maximum, average and
// centroid linkage on families of matrices with and without ties.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cluster.h"
#include "linkage.h"
#include "matrix.h"
#include "test_util.h"

namespace {

using lopper::Node;
using lopper_test::Lower;
using lopper_test::Matrix;

// The reference: every pick a full scan of the active triangle.
struct Scan {
  explicit Scan(int) {}
  void start(const double* const*, int) {}
  double pick(int n, const double* const* d, int* ip, int* jp) const {
    return lopper::detail::find_closest_pair(n, d, ip, jp);
  }
  void changed(const double* const*, int, int, int) {}
  void replaced(const double* const*, int, int, int) {}
};

enum class Family { kContinuous, kSmallIntegers, kDuplicateRows, kOneDimension, kStar };
const char* Name(Family f) {
  switch (f) {
    case Family::kContinuous:
      return "continuous";
    case Family::kSmallIntegers:
      return "small integers";
    case Family::kDuplicateRows:
      return "duplicate rows";
    case Family::kOneDimension:
      return "one dimension";
    default:
      return "star";
  }
}

Matrix Make(Family family, int n, std::mt19937& rng) {
  const int ndata = family == Family::kOneDimension ? 1 : 4;
  std::normal_distribution<double> normal;
  std::vector<std::vector<double>> v(n, std::vector<double>(ndata));
  for (int i = 0; i < n; i++)
    for (int k = 0; k < ndata; k++) {
      switch (family) {
        case Family::kSmallIntegers:
          v[i][k] = static_cast<double>(rng() % 3);
          break;
        case Family::kDuplicateRows:
          v[i][k] = i % 3 == 2 ? v[i - 1][k] : normal(rng);
          break;
        case Family::kOneDimension:
          v[i][k] = static_cast<double>(rng() % 50);
          break;
        case Family::kStar:
          v[i][k] = i == 0 ? 0.0 : (k == i % ndata ? 10.0 + i : 0.0);
          break;
        default:
          v[i][k] = normal(rng);
      }
    }
  return Matrix(v);
}

bool Same(const Node* a, const Node* b, int n) {
  return std::memcmp(a, b, (n - 1) * sizeof(Node)) == 0;
}

TEST(LinkageCache, SameTreesAsTheScan) {
  const unsigned seed = 424242;
  std::mt19937 rng(seed);
  const int sizes[] = {2, 3, 4, 5, 7, 10, 16, 33, 64, 100, 211, 350, 600};
  for (const Family family : {Family::kContinuous, Family::kSmallIntegers, Family::kDuplicateRows,
                              Family::kOneDimension, Family::kStar})
    for (const int n : sizes) {
      Matrix m = Make(family, n, rng);
      const std::vector<double> w(m.ncolumns(), 1.0);
      for (const char dist : {'e', 'b'}) {
        const Lower matrix = lopper_test::DistancesOf(m, w, dist);
        for (const char method : {'m', 'a', 'c', 'w', 'q', 'd'}) {
          Lower fast(matrix), reference(matrix);
          std::vector<Node> a(n - 1), b(n - 1);
          lopper::detail::Status sa, sb;
          if (method == 'c') {
            sa = lopper::detail::pclcluster(n, m.ncolumns(), m.data(), m.mask(), w.data(),
                                            fast.data(), dist, 0, a.data());
            sb = lopper::detail::CentroidLinkage<Scan>(
                n, m.ncolumns(), m.data(), m.mask(), w.data(), reference.data(), dist, 0, b.data());
          } else {
            sa = lopper::detail::pairwisecluster(n, fast.data(), method, a.data());
            sb = lopper::detail::PairwiseLinkage<Scan>(n, reference.data(), method, b.data());
          }
          EXPECT_TRUE(sa == sb && Same(a.data(), b.data(), n))
              << "seed " << seed << " " << Name(family) << " n " << n << " dist " << dist
              << " method " << method;
        }
      }
    }
}

// A linkage of MergeRule (whose formulas the SciPy cases check) as first
// written: a full scan for the closest pair, then its rows and columns
// updated one by one and the last slot moved into the one merged away.
std::vector<Node> PlainPairwise(int n, Lower d, char method) {
  double** m = d.data();
  std::vector<Node> tree(n - 1);
  std::vector<int> id(n), size(n, 1);
  for (int i = 0; i < n; i++) id[i] = i;
  if (lopper::detail::mergessquares(method))
    for (int i = 1; i < n; i++)
      for (int j = 0; j < i; j++) m[i][j] *= m[i][j];
  for (int active = n, k = 0; active > 1; active--, k++) {
    int is, js;
    const double dij = lopper::detail::find_closest_pair(active, m, &is, &js);
    tree[k] = {id[is], id[js], lopper::detail::mergeheight(method, dij)};
    const lopper::detail::MergeRule rule(method, dij, size[is], size[js]);
    for (int x = 0; x < js; x++) m[js][x] = rule(m[is][x], m[js][x], size[x]);
    for (int x = js + 1; x < is; x++) m[x][js] = rule(m[is][x], m[x][js], size[x]);
    for (int x = is + 1; x < active; x++) m[x][js] = rule(m[x][is], m[x][js], size[x]);
    const int last = active - 1;
    for (int x = 0; x < is; x++) m[is][x] = m[last][x];
    for (int x = is + 1; x < last; x++) m[x][is] = m[last][x];
    size[js] += size[is];
    size[is] = size[last];
    id[js] = -(k + 1);
    id[is] = id[last];
  }
  return tree;
}

// Centroid linkage as first written: one separately held profile per
// cluster, merged value by value (a value weighs with its mask count), and
// every distance of the merged cluster measured again by Measure.
std::vector<Node> PlainCentroid(Matrix& data, const std::vector<double>& w, char dist, Lower d) {
  const int n = data.nrows(), ndata = data.ncolumns();
  std::vector<std::vector<double>> value(n);
  std::vector<std::vector<int>> count(n);
  for (int i = 0; i < n; i++) {
    value[i].assign(data.data()[i], data.data()[i] + ndata);
    count[i].assign(data.mask()[i], data.mask()[i] + ndata);
  }
  lopper::detail::Measure measure(dist, ndata);
  double** m = d.data();
  std::vector<Node> tree(n - 1);
  std::vector<int> id(n);
  for (int i = 0; i < n; i++) id[i] = i;
  for (int k = 0, last = n - 1; last > 0; k++, last--) {
    int is, js;
    tree[k] = {0, 0, lopper::detail::find_closest_pair(last + 1, m, &is, &js)};
    tree[k].left = id[js];
    tree[k].right = id[is];
    for (int x = 0; x < ndata; x++) {
      value[js][x] = value[js][x] * count[js][x] + value[is][x] * count[is][x];
      count[js][x] += count[is][x];
      if (count[js][x]) value[js][x] *= 1.0 / count[js][x];
    }
    value[is] = value[last];
    count[is] = count[last];
    for (int x = 0; x < is; x++) m[is][x] = m[last][x];
    for (int x = is + 1; x < last; x++) m[x][is] = m[last][x];
    id[is] = id[last];
    id[js] = -(k + 1);
    std::vector<double*> rows;
    std::vector<int*> masks;
    for (int i = 0; i < last; i++) {
      rows.push_back(value[i].data());
      masks.push_back(count[i].data());
    }
    for (int x = 0; x < last; x++) {
      if (x == js) continue;
      const double v =
          measure(rows.data(), rows.data(), masks.data(), masks.data(), w.data(), js, x, 0);
      (x < js ? m[js][x] : m[x][js]) = v;
    }
  }
  return tree;
}

// Single linkage by SLINK as first written, with branches, over a matrix.
std::vector<Node> PlainSlink(int n, const Lower& matrix) {
  std::vector<int> pointer(n);
  std::vector<double> lambda(n, DBL_MAX), temp(n);
  for (int j = 0; j < n; j++) pointer[j] = j;
  for (int i = 1; i < n; i++) {
    std::copy(matrix.rows()[i].begin(), matrix.rows()[i].end(), temp.begin());
    for (int j = 0; j < i; j++) {
      const int k = pointer[j];
      if (lambda[j] >= temp[j]) {
        if (lambda[j] < temp[k]) temp[k] = lambda[j];
        lambda[j] = temp[j];
        pointer[j] = i;
      } else if (temp[j] < temp[k]) {
        temp[k] = temp[j];
      }
    }
    for (int j = 0; j < i; j++)
      if (pointer[j] != i && lambda[j] >= lambda[pointer[j]]) pointer[j] = i;
  }
  std::vector<Node> tree(n - 1);
  for (int j = 0; j < n - 1; j++) tree[j] = {j, 0, lambda[j]};
  std::stable_sort(tree.begin(), tree.end(),
                   [](const Node& a, const Node& b) { return a.distance < b.distance; });
  std::vector<int> index(n);
  for (int e = 0; e < n; e++) index[e] = e;
  for (int r = 0; r < n - 1; r++) {
    const int j = tree[r].left, k = pointer[j];
    tree[r].left = index[j];
    tree[r].right = index[k];
    index[k] = -(r + 1);
  }
  return tree;
}

TEST(LinkageCache, SameTreesAsThePlainMerges) {
  const unsigned seed = 515151;
  std::mt19937 rng(seed);
  lopper::detail::useplainkernels(false);
  const bool wide = lopper::detail::hasavx2();
  struct Case {
    char dist;
    double missing;
    bool unit;
  } const cases[] = {{'e', 0, true},   {'e', 0.1, true}, {'b', 0, true},     {'b', 0.2, true},
                     {'e', 0, false},  {'c', 0.1, true}, {'x', 0.05, false}, {'E', 0, true},
                     {'Q', 0.1, true}, {'B', 0, true}};
  for (const Case& c : cases)
    for (const Family family :
         {Family::kContinuous, Family::kSmallIntegers, Family::kDuplicateRows, Family::kStar})
      for (const int n : {2, 3, 8, 41, 300}) {
        Matrix m = Make(family, n, rng);
        std::uniform_real_distribution<double> u;
        std::vector<double> w(m.ncolumns(), 1.0);
        if (!c.unit)
          for (double& x : w) x = 0.5 + u(rng);
        for (int i = 0; i < n; i++)
          for (int k = 0; k < m.ncolumns(); k++)
            if (u(rng) < c.missing) m.mask()[i][k] = 0;
        const Lower matrix = lopper_test::DistancesOf(m, w, c.dist);
        const std::string what = "seed " + std::to_string(seed) + " " + Name(family) + " n " +
                                 std::to_string(n) + " dist " + c.dist;
        // Single and centroid linkage measure with the processor's kernels
        // and with the plain ones.
        for (const bool narrow : {false, true}) {
          if (!narrow && !wide) continue;
          lopper::detail::useplainkernels(narrow);
          Node* single = lopper::treecluster(n, m.ncolumns(), m.data(), m.mask(), w.data(), 0,
                                             c.dist, 's', nullptr);
          EXPECT_TRUE(single && Same(single, PlainSlink(n, matrix).data(), n))
              << what << " single, plain kernels " << narrow;
          std::free(single);
          for (const char method : {'m', 'a', 'c', 'w', 'q', 'd'}) {
            Lower given(matrix);
            Node* tree = lopper::treecluster(n, m.ncolumns(), m.data(), m.mask(), w.data(), 0,
                                             c.dist, method, given.data());
            const std::vector<Node> plain = method == 'c' ? PlainCentroid(m, w, c.dist, matrix)
                                                          : PlainPairwise(n, matrix, method);
            EXPECT_TRUE(tree && Same(tree, plain.data(), n))
                << what << " method " << method << ", plain kernels " << narrow;
            std::free(tree);
          }
        }
        lopper::detail::useplainkernels(false);
      }
  if (!wide) GTEST_SKIP() << lopper_test::kNoWideKernels;
}

}  // namespace
