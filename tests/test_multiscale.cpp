// multiscalefit against pvclust 2.2.0 (its reported edges of two small runs
// and its msfit on counts made by hand, written by
// data/make_multiscale_cases.R), the normal quantile against R's qnorm, and
// the bad arguments.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "cluster_internal.h"

namespace {

struct FitCase {
  std::string name;
  int nboot = 0;
  std::vector<double> scales;
  std::vector<int> counts;
  lopper::BootstrapSupport expected{};
};

struct Cases {
  std::vector<FitCase> fits;
  std::vector<std::pair<double, double>> quantiles;  // p, qnorm(p)
};

Cases ReadCases() {
  std::ifstream in(LOPPER_TEST_DATA "/multiscale_cases.txt");
  Cases cases;
  std::string word;
  while (in >> word) {
    if (word == "qnorm") {
      double p, q;
      in >> p >> q;
      cases.quantiles.emplace_back(p, q);
      continue;
    }
    FitCase c;
    int nscales;
    in >> c.name >> c.nboot >> nscales;
    c.scales.resize(nscales);
    c.counts.resize(nscales);
    for (double& r : c.scales) in >> r;
    for (int& k : c.counts) in >> k;
    lopper::BootstrapSupport& e = c.expected;
    in >> e.si >> e.au >> e.bp >> e.se_si >> e.se_au >> e.se_bp >> e.v >> e.c >> e.pchi >> e.used;
    cases.fits.push_back(c);
  }
  return cases;
}

// Relative difference, 0 for two zeros.
double Relative(double got, double expected) {
  if (got == expected) return 0.0;
  return std::fabs(got - expected) / std::max(std::fabs(got), std::fabs(expected));
}

TEST(MultiscaleFit, MatchesPvclust) {
  const Cases cases = ReadCases();
  ASSERT_EQ(cases.fits.size(), 96u);
  double worst = 0.0;
  for (const FitCase& c : cases.fits) {
    lopper::BootstrapSupport got{};
    ASSERT_EQ(lopper::multiscalefit(static_cast<int>(c.scales.size()), c.scales.data(),
                                    c.counts.data(), c.nboot, &got),
              0)
        << c.name;
    const lopper::BootstrapSupport& e = c.expected;
    EXPECT_EQ(got.used, e.used) << c.name;
    const struct {
      const char* field;
      double got, expected;
    } fields[] = {{"si", got.si, e.si},
                  {"au", got.au, e.au},
                  {"bp", got.bp, e.bp},
                  {"se_si", got.se_si, e.se_si},
                  {"se_au", got.se_au, e.se_au},
                  {"se_bp", got.se_bp, e.se_bp},
                  {"v", got.v, e.v},
                  {"c", got.c, e.c},
                  {"pchi", got.pchi, e.pchi}};
    for (const auto& f : fields) {
      const double relative = Relative(f.got, f.expected);
      worst = std::max(worst, relative);
      EXPECT_LE(relative, 1e-9) << c.name << " " << f.field << " " << f.got << " vs " << f.expected;
    }
  }
  std::printf("worst relative difference from pvclust: %.3g\n", worst);
}

TEST(MultiscaleFit, NormalQuantileMatchesR) {
  const Cases cases = ReadCases();
  ASSERT_EQ(cases.quantiles.size(), 21u);
  for (const auto& [p, q] : cases.quantiles)
    EXPECT_LE(Relative(lopper::detail::normalquantile(p), q), 4e-16) << p;
  EXPECT_EQ(lopper::detail::normalquantile(0.0), -HUGE_VAL);
  EXPECT_EQ(lopper::detail::normalquantile(1.0), HUGE_VAL);
  EXPECT_TRUE(std::isnan(lopper::detail::normalquantile(1.5)));
}

TEST(MultiscaleFit, RejectsBadArguments) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct BadCase {
    const char* what;
    std::vector<double> scales;
    std::vector<int> counts;
    int nboot;
  };
  const std::vector<BadCase> bad{
      {"no scales", {}, {}, 100},
      {"no resamples", {0.5, 1, 1.5}, {0, 0, 0}, 0},
      {"zero scale", {0, 1, 1.5}, {10, 20, 30}, 100},
      {"negative scale", {-0.5, 1, 1.5}, {10, 20, 30}, 100},
      {"NaN scale", {0.5, nan, 1.5}, {10, 20, 30}, 100},
      {"infinite scale", {0.5, 1, HUGE_VAL}, {10, 20, 30}, 100},
      {"repeated scale", {0.5, 1, 0.5}, {10, 20, 30}, 100},
      {"negative count", {0.5, 1, 1.5}, {10, -1, 30}, 100},
      {"count above nboot", {0.5, 1, 1.5}, {10, 101, 30}, 100},
  };
  const lopper::BootstrapSupport sentinel{-7, -7, -7, -7, -7, -7, -7, -7, -7, -7};
  for (const BadCase& c : bad) {
    lopper::BootstrapSupport s = sentinel;
    EXPECT_EQ(lopper::multiscalefit(static_cast<int>(c.scales.size()), c.scales.data(),
                                    c.counts.data(), c.nboot, &s),
              -1)
        << c.what;
    EXPECT_EQ(s.au, -7) << c.what;
    EXPECT_EQ(s.used, -7) << c.what;
  }
  const double scales[] = {0.5, 1, 1.5};
  const int counts[] = {10, 20, 30};
  lopper::BootstrapSupport s = sentinel;
  EXPECT_EQ(lopper::multiscalefit(3, nullptr, counts, 100, &s), -1);
  EXPECT_EQ(lopper::multiscalefit(3, scales, nullptr, 100, &s), -1);
  EXPECT_EQ(s.pchi, -7);
  EXPECT_EQ(lopper::multiscalefit(3, scales, counts, 100, nullptr), -1);
}

}  // namespace
