// Progress reports: each step's units rise to its total, in the caller's
// thread only, and stop when the report is cleared.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "matrix.h"

namespace {

struct Call {
  std::string step;
  long done, total;
};

void Record(const char* step, long done, long total, void* calls) {
  static_cast<std::vector<Call>*>(calls)->push_back({step, done, total});
}

// The steps reported, each once, after checking that within a step done
// never falls and ends at total.
std::vector<std::string> Steps(const std::vector<Call>& calls) {
  std::vector<std::string> steps;
  for (std::size_t k = 0; k < calls.size(); k++) {
    const bool first = k == 0 || calls[k - 1].step != calls[k].step;
    const bool last = k + 1 == calls.size() || calls[k + 1].step != calls[k].step;
    if (first) steps.push_back(calls[k].step);
    if (!first) {
      EXPECT_GE(calls[k].done, calls[k - 1].done) << calls[k].step;
    }
    if (last) {
      EXPECT_EQ(calls[k].done, calls[k].total) << calls[k].step;
    }
  }
  return steps;
}

TEST(Progress, EachStepRisesToItsTotalInTheCallersThreadOnly) {
  std::mt19937 rng(20261209);
  auto m = lopper_test::RandomMatrix(40, 3, rng, 0.1);
  const std::vector<double> w(3, 1.0);
  const auto tree = [&](char method, char dist) {
    std::free(lopper::treecluster(40, 3, m.data(), m.mask(), w.data(), 0, dist, method, nullptr));
  };
  const std::vector<std::string> both{"distances", "merging"}, merging{"merging"};
  struct Case {
    char method, dist;
    std::vector<std::string> steps;
  } const cases[] = {{'a', 'e', both}, {'m', 'c', both}, {'c', 'e', both}, {'s', 'e', merging}};
  std::vector<Call> calls;
  lopper::setprogress(Record, &calls);
  for (const auto& c : cases) {
    calls.clear();
    tree(c.method, c.dist);
    EXPECT_EQ(Steps(calls), c.steps) << c.method;
  }
  calls.clear();
  std::thread other([&] { tree('a', 'e'); });
  other.join();
  EXPECT_TRUE(calls.empty()) << "another thread's calls were reported";
  lopper::setprogress(nullptr, nullptr);
  tree('a', 'e');
  EXPECT_TRUE(calls.empty()) << "reported after clearing";
}

}  // namespace
