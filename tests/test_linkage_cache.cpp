// The cached closest-pair search against the plain scan: byte-identical
// trees for maximum, average and centroid linkage on families of matrices
// with and without ties.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "linkage.h"
#include "matrix.h"

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
  void merged(const double* const*, int, int, int) {}
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
        for (const char method : {'m', 'a', 'c'}) {
          Lower fast(matrix), reference(matrix);
          std::vector<Node> a(n - 1), b(n - 1);
          lopper::detail::Status sa, sb;
          if (method == 'c') {
            sa = lopper::detail::pclcluster(n, m.ncolumns(), m.data(), m.mask(), w.data(),
                                            fast.data(), dist, 0, a.data());
            sb = lopper::detail::CentroidLinkage<Scan>(
                n, m.ncolumns(), m.data(), m.mask(), w.data(), reference.data(), dist, 0, b.data());
          } else {
            sa = method == 'm' ? lopper::detail::pmlcluster(n, fast.data(), a.data())
                               : lopper::detail::palcluster(n, fast.data(), a.data());
            sb =
                lopper::detail::PairwiseLinkage<Scan>(n, reference.data(), method == 'a', b.data());
          }
          EXPECT_TRUE(sa == sb && Same(a.data(), b.data(), n))
              << "seed " << seed << " " << Name(family) << " n " << n << " dist " << dist
              << " method " << method;
        }
      }
    }
}

}  // namespace
