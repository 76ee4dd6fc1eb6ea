#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "cluster.h"
#include "test_util.h"

namespace {

using Rows = std::vector<std::vector<double>>;

struct Decomposition {
  Rows u, v;
  std::vector<double> w;
  int ierr;
};

std::vector<double*> Pointers(Rows& rows) {
  std::vector<double*> p;
  for (auto& r : rows) p.push_back(r.data());
  return p;
}

Decomposition Svd(const Rows& a) {
  const int m = static_cast<int>(a.size()), n = static_cast<int>(a[0].size());
  Decomposition d{a, Rows(n, std::vector<double>(n, -3.0)), std::vector<double>(n, -3.0), -9};
  auto u = Pointers(d.u), v = Pointers(d.v);
  lopper::svd(m, n, u.data(), d.w.data(), v.data(), &d.ierr);
  return d;
}

// The values are worked by hand; the signs of u and v are characterisation:
// pinned from lopper's own output (any sign pair is a decomposition), so
// that a change of the convention shows.
TEST(Svd, DiagonalZeroAndSingleColumnCharacterised) {
  const Decomposition diag = Svd({{3, 0, 0}, {0, -2, 0}, {0, 0, 0.5}});
  EXPECT_EQ(diag.ierr, 0);
  const double du[] = {-1, -1, -1}, dv[] = {-1, 1, -1}, dw[] = {3, 2, 0.5};
  for (int i = 0; i < 3; i++) {
    EXPECT_DOUBLE_EQ(diag.w[i], dw[i]) << i;
    for (int j = 0; j < 3; j++) {
      EXPECT_DOUBLE_EQ(diag.u[i][j], i == j ? du[i] : 0.0) << i << j;
      EXPECT_DOUBLE_EQ(diag.v[i][j], i == j ? dv[i] : 0.0) << i << j;
    }
  }
  const Decomposition zero = Svd(Rows(4, std::vector<double>(3, 0.0)));
  EXPECT_EQ(zero.ierr, 0);
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 3; j++) {
      EXPECT_EQ(zero.u[i][j], i == j ? 1.0 : 0.0);
      if (i < 3) {
        EXPECT_EQ(zero.v[i][j], i == j ? 1.0 : 0.0);
      }
    }
  for (const double first : {3.0, 0.0, -3.0}) {
    const Decomposition column = Svd({{first}, {4}});
    EXPECT_DOUBLE_EQ(column.w[0], std::hypot(first, 4.0));
    EXPECT_EQ(column.v[0][0], first >= 0 ? -1.0 : 1.0) << first;
  }
}

TEST(Svd, ShapesOutsideTheContractTouchNothing) {
  Rows a{{1, 2, 3}, {4, 5, 6}};
  const Rows before = a;
  Rows v(3, std::vector<double>(3, 7.0));
  std::vector<double> w(3, 7.0);
  auto pu = Pointers(a), pv = Pointers(v);
  for (const auto& [m, n] : {std::pair<int, int>{2, 3}, {0, 0}, {2, 0}, {-1, 1}}) {
    int ierr = 9;
    lopper::svd(m, n, pu.data(), w.data(), pv.data(), &ierr);
    EXPECT_EQ(ierr, -2) << m << "x" << n;
  }
  lopper_test::FailNthNew(1);
  int ierr = 9;
  lopper::svd(2, 2, pu.data(), w.data(), pv.data(), &ierr);
  lopper_test::FailNthNew(0);
  EXPECT_EQ(ierr, -1);
  EXPECT_EQ(a, before);
  EXPECT_EQ(w, std::vector<double>(3, 7.0));
  EXPECT_EQ(v, Rows(3, std::vector<double>(3, 7.0)));
}

struct Case {
  std::string name;
  Rows a;
  std::vector<double> values;
};

std::vector<Case> ReadCases() {
  std::ifstream in(LOPPER_TEST_DATA "/svd_cases.txt");
  std::vector<Case> cases;
  std::string word;
  while (in >> word && word == "case") {
    int m, n;
    Case c;
    in >> m >> n;
    std::getline(in, c.name);
    c.a.assign(m, std::vector<double>(n));
    for (auto& row : c.a)
      for (double& x : row) in >> x;
    in >> word;
    c.values.resize(n);
    for (double& x : c.values) in >> x;
    cases.push_back(c);
  }
  return cases;
}

// U diag(w) V^T gives A back, U and V have orthonormal columns, and the
// sorted values agree with numpy.
TEST(Svd, AgreesWithNumpyAndReconstructs) {
  const std::vector<Case> cases = ReadCases();
  ASSERT_EQ(cases.size(), 14u);
  for (const Case& c : cases) {
    const int m = static_cast<int>(c.a.size()), n = static_cast<int>(c.a[0].size());
    const Decomposition d = Svd(c.a);
    EXPECT_EQ(d.ierr, 0) << c.name;
    double amax = 0;
    for (const auto& row : c.a)
      for (const double x : row) amax = std::max(amax, std::fabs(x));
    for (int i = 0; i < m; i++)
      for (int j = 0; j < n; j++) {
        double x = 0;
        for (int k = 0; k < n; k++) x += d.u[i][k] * d.w[k] * d.v[j][k];
        EXPECT_NEAR(x, c.a[i][j], 1e-12 * amax) << c.name << " " << i << "," << j;
      }
    for (int p = 0; p < n; p++)
      for (int q = 0; q < n; q++) {
        double uu = 0, vv = 0;
        for (int i = 0; i < m; i++) uu += d.u[i][p] * d.u[i][q];
        for (int i = 0; i < n; i++) vv += d.v[i][p] * d.v[i][q];
        EXPECT_NEAR(uu, p == q, 1e-12) << c.name << " U " << p << "," << q;
        EXPECT_NEAR(vv, p == q, 1e-12) << c.name << " V " << p << "," << q;
      }
    std::vector<double> w = d.w;
    std::sort(w.rbegin(), w.rend());
    for (int k = 0; k < n; k++) {
      EXPECT_GE(w[k], 0.0);
      EXPECT_NEAR(w[k], c.values[k], 1e-12 * c.values[0]) << c.name << " value " << k;
    }
  }
}

}  // namespace
