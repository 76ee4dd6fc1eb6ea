// The routines from several threads at once, each thread on its own data
// with its own seed, give what each call gives alone.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "cluster.h"
#include "cluster_internal.h"
#include "matrix.h"

namespace {

using lopper_test::Matrix;
using Result = std::vector<double>;

constexpr int kThreads = 4;
constexpr int kElements = 120;
constexpr int kData = 6;

// Thread k's data and generator seeds.
Matrix Data(int k) {
  std::mt19937 rng(100 + k);
  return lopper_test::RandomMatrix(kElements, kData, rng, 0.1);
}
int Seed1(int k) { return 1000 + k; }
int Seed2(int k) { return 2000 + k; }

// Rows 1 ... n-1 of a library matrix appended to out, then freed.
void TakeMatrix(double** matrix, int n, Result& out) {
  for (int i = 1; i < n; i++) {
    out.insert(out.end(), matrix[i], matrix[i] + i);
    std::free(matrix[i]);
  }
  std::free(matrix);
}

Result Kcluster(Matrix& m) {
  const std::vector<double> w(kData, 1.0);
  std::vector<int> ids(kElements);
  double error = 0;
  int ifound = 0;
  lopper::kcluster(8, m.nrows(), m.ncolumns(), m.data(), m.mask(), w.data(), 0, 3, 'a', 'e',
                   ids.data(), &error, &ifound);
  Result r(ids.begin(), ids.end());
  r.insert(r.end(), {error, static_cast<double>(ifound)});
  return r;
}

Result Kmedoids(Matrix& m) {
  const std::vector<double> w(kData, 1.0);
  double** distances =
      lopper::distancematrix(m.nrows(), m.ncolumns(), m.data(), m.mask(), w.data(), 'e', 0);
  std::vector<int> ids(kElements);
  double error = 0;
  int ifound = 0;
  lopper::kmedoids(8, kElements, distances, 3, ids.data(), &error, &ifound);
  Result r(ids.begin(), ids.end());
  r.insert(r.end(), {error, static_cast<double>(ifound)});
  TakeMatrix(distances, kElements, r);
  return r;
}

// The map's cells, then each element's cell.
Result Somcluster(Matrix& m) {
  const std::vector<double> w(kData, 1.0);
  std::vector<double> values(3 * 3 * kData, 0.0);
  std::vector<double*> cells(3 * 3);
  std::vector<double**> grid(3);
  for (int c = 0; c < 9; c++) cells[c] = &values[c * kData];
  for (int ix = 0; ix < 3; ix++) grid[ix] = &cells[ix * 3];
  std::vector<int> ids(2 * kElements, -1);
  lopper::somcluster(m.nrows(), m.ncolumns(), m.data(), m.mask(), w.data(), 0, 3, 3, 0.02, 200, 'e',
                     grid.data(), reinterpret_cast<int(*)[2]>(ids.data()));
  Result r(values);
  r.insert(r.end(), ids.begin(), ids.end());
  return r;
}

// The distances of m's rows (unit weights) by dist.
Result Distances(Matrix& m, char dist) {
  const std::vector<double> w(m.ncolumns(), 1.0);
  Result r;
  TakeMatrix(lopper::distancematrix(m.nrows(), m.ncolumns(), m.data(), m.mask(), w.data(), dist, 0),
             m.nrows(), r);
  return r;
}

// The tree of m's rows (unit weights) by dist and method, from a matrix or,
// with data_only, by treeclusterdata.
Result Tree(Matrix& m, char dist, char method, bool data_only = false) {
  const std::vector<double> w(m.ncolumns(), 1.0);
  lopper::Node* tree = data_only ? lopper::treeclusterdata(m.nrows(), m.ncolumns(), m.data(),
                                                           m.mask(), w.data(), 0, dist, method)
                                 : lopper::treecluster(m.nrows(), m.ncolumns(), m.data(), m.mask(),
                                                       w.data(), 0, dist, method, nullptr);
  Result r;
  for (int i = 0; tree && i < m.nrows() - 1; i++)
    r.insert(r.end(), {1.0 * tree[i].left, 1.0 * tree[i].right, tree[i].distance});
  std::free(tree);
  return r;
}

// Thread k seeds its generator, waits until all threads are ready, then runs.
Result Call(Result (*routine)(Matrix&), int k, std::atomic<int>* ready) {
  Matrix m = Data(k);
  lopper::setrandomseed(Seed1(k), Seed2(k));
  if (ready) {
    ++*ready;
    while (*ready < kThreads) std::this_thread::yield();
  }
  return routine(m);
}

TEST(Threads, RoutinesRunAtOnceGiveTheirSingleThreadResults) {
  struct Case {
    const char* name;
    Result (*routine)(Matrix&);
  } const cases[] = {{"kcluster", Kcluster},
                     {"kmedoids", Kmedoids},
                     {"somcluster", Somcluster},
                     {"treecluster", [](Matrix& m) { return Tree(m, 'c', 'a'); }},
                     {"distancematrix 's'", [](Matrix& m) { return Distances(m, 's'); }}};
  for (const auto& c : cases) {
    std::vector<Result> alone(kThreads), together(kThreads);
    for (int k = 0; k < kThreads; k++) alone[k] = Call(c.routine, k, nullptr);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < kThreads; k++)
      threads.emplace_back([&, k] { together[k] = Call(c.routine, k, &ready); });
    for (auto& t : threads) t.join();
    for (int k = 0; k < kThreads; k++) {
      // Each thread's own data and seeds: a call that computed nothing
      // would give every thread the same.
      EXPECT_FALSE(alone[k] == alone[(k + 1) % kThreads]) << c.name << " in thread " << k;
      EXPECT_TRUE(together[k] == alone[k])
          << c.name << " in thread " << k << ", seeds " << Seed1(k) << " " << Seed2(k);
    }
  }
}

// A matrix large enough that the routines below divide their work.
constexpr int kLarge = 1200;
constexpr int kLargeData = 12;

// k-means passes, enough of them for several threads, from the same seeds.
Result Passes(Matrix& m) {
  const std::vector<double> w(kLargeData, 1.0);
  std::vector<int> ids(kLarge);
  double error = 0;
  int ifound = 0;
  lopper::setrandomseed(12, 34);
  lopper::kcluster(8, m.nrows(), m.ncolumns(), m.data(), m.mask(), w.data(), 0, 7, 'a', 'e',
                   ids.data(), &error, &ifound);
  EXPECT_GE(ifound, 1) << "k-means failed";
  Result r(ids.begin(), ids.end());
  r.insert(r.end(), {error, static_cast<double>(ifound)});
  return r;
}

// The library's own threads: any number gives the one-thread result.
TEST(Threads, EveryThreadCountGivesTheOneThreadResult) {
  const unsigned seed = 4711;
  std::mt19937 rng(seed);
  Matrix m = lopper_test::RandomMatrix(kLarge, kLargeData, rng, 0.1);
  const std::function<Result(Matrix&)> cases[] = {
      [](Matrix& x) { return Distances(x, 'e'); },
      [](Matrix& x) { return Distances(x, 'b'); },
      [](Matrix& x) { return Distances(x, 'c'); },
      [](Matrix& x) { return Distances(x, 's'); },
      [](Matrix& x) { return Distances(x, 'k'); },
      [](Matrix& x) { return Tree(x, 'e', 's'); },
      [](Matrix& x) { return Tree(x, 'c', 'a'); },
      [](Matrix& x) { return Tree(x, 'e', 'c'); },
      [](Matrix& x) { return Tree(x, 'b', 's'); },
      [](Matrix& x) { return Tree(x, 'c', 's'); },
      [](Matrix& x) { return Tree(x, 'e', 'm'); },
      [](Matrix& x) { return Tree(x, 'e', 'a'); },
      [](Matrix& x) { return Tree(x, 'b', 'c'); },
      [](Matrix& x) { return Tree(x, 'c', 'c'); },
      [](Matrix& x) { return Tree(x, 'E', 'w'); },
      [](Matrix& x) { return Tree(x, 'E', 'q'); },
      [](Matrix& x) { return Tree(x, 'E', 'd'); },
      [](Matrix& x) { return Tree(x, 'E', 'c', true); },
      [](Matrix& x) { return Tree(x, 'c', 'c', true); },
      Passes,
  };
  const int default_threads = lopper::getthreads();
  EXPECT_GE(default_threads, 1);
  for (std::size_t c = 0; c < std::size(cases); c++) {
    lopper::setthreads(1);
    const Result one = cases[c](m);
    EXPECT_FALSE(one.empty()) << "case " << c;
    for (const int threads : {2, 3, 5}) {
      lopper::setthreads(threads);
      EXPECT_EQ(lopper::getthreads(), threads);
      EXPECT_TRUE(cases[c](m) == one)
          << "case " << c << ", " << threads << " threads, seed " << seed;
    }
  }
  lopper::setthreads(0);
  EXPECT_EQ(lopper::getthreads(), default_threads);
}

// A crew's helpers serve every step, whether they were still yielding for
// it or had fallen asleep after a pause between steps.
TEST(Threads, CrewServesStepsAfterAPause) {
  lopper::detail::Crew crew(3);
  ASSERT_EQ(crew.size(), 3);
  for (const int pause_ms : {0, 0, 20, 0, 20}) {
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    std::atomic<int> served[3] = {};
    auto work = [&](int t) { served[t]++; };
    crew.run(work);
    for (int t = 0; t < 3; t++)
      EXPECT_EQ(served[t].load(), 1) << "pause " << pause_ms << " t " << t;
  }
}

}  // namespace
