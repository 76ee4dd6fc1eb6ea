// Allocation-failure sweep: for each routine that allocates, fail the k-th
// allocation (k = 1, 2, ...) through the library's allocator and through
// operator new, once failing only the k-th and once the k-th and all after,
// until a call completes without a failure; every try gives the routine's
// failure result with its outputs as they were, the call without a failure
// gives exactly the unpressured result, for every distance code the routine
// takes, and no block is left.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "cluster_internal.h"
#include "matrix.h"
#include "test_util.h"

namespace {

using lopper_test::Lower;
using lopper_test::Matrix;
using Ids = std::vector<int>;

enum class Outcome { kFull, kFailure, kWrong };

// Switches the armed failure on just before the routine and off just after.
class Arm {
 public:
  Arm(bool in_new, long k, bool and_after) : in_new_(in_new), k_(k), and_after_(and_after) {}
  void on() const {
    if (in_new_)
      lopper_test::FailNthNew(k_, and_after_);
    else
      lopper::detail::fail_allocation(k_, and_after_);
  }
  long off() const {
    const long fired =
        in_new_ ? lopper_test::InjectedNewFailures() : lopper::detail::injected_failures();
    lopper_test::FailNthNew(0);
    lopper::detail::fail_allocation(0);
    return fired;
  }

 private:
  bool in_new_;
  long k_;
  bool and_after_;
};

struct Row {
  std::string routine;
  long allocations[2] = {0, 0};  // library allocator, operator new
  long tries = 0, failures = 0;
};

// run(arm) prepares inputs, calls arm.on() and the routine, arm.off(), and
// judges the outputs. needs_storage: the routine allocates, so that some
// try must fail.
Row Sweep(const std::string& routine, const std::function<Outcome(const Arm&, long&)>& run,
          bool needs_storage = true) {
  Row row{routine};
  const long before = lopper::detail::live_blocks();
  for (const bool in_new : {false, true})
    for (const bool and_after : {false, true})
      for (long k = 1;; k++) {
        long fired = 0;
        const Outcome outcome = run(Arm(in_new, k, and_after), fired);
        EXPECT_EQ(lopper::detail::live_blocks(), before) << routine << " k " << k;
        if (fired == 0) {
          EXPECT_EQ(outcome, Outcome::kFull) << routine;
          row.allocations[in_new] = k - 1;
          break;
        }
        row.tries++;
        EXPECT_NE(outcome, Outcome::kWrong) << routine << (in_new ? " new" : " malloc") << " k "
                                            << k << (and_after ? " and after" : "");
        row.failures += outcome == Outcome::kFailure;
        if (k > 10000) {
          ADD_FAILURE() << routine << ": no end";
          break;
        }
      }
  // Only a thread that cannot be started is worked around (left out).
  if (needs_storage) {
    EXPECT_GT(row.failures, 0) << routine << ": never failed";
  }
  return row;
}

void FreeMatrix(double** m, int n) {
  if (!m) return;
  for (int i = 1; i < n; i++) lopper::detail::release(m[i]);
  lopper::detail::release(m);
}

Matrix Data() {
  return Matrix(
      {{1, 2, 3, 4}, {2, 1, 0, 5}, {9, 9, 8, 7}, {0, 3, 3, 1}, {5, 5, 5, 5}, {2, 8, 1, 0}},
      {{1, 1, 1, 1}, {1, 0, 1, 1}, {1, 1, 1, 1}, {0, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 0, 1}});
}

TEST(AllocationSweep, EveryRoutineFailsCleanly) {
  Matrix m = Data();
  const std::vector<double> w{1, 0.5, 2, 1};
  std::vector<Row> rows;

  const std::string dists = "ebcauxsk";
  for (const char dist : dists) {
    double** ref = lopper::distancematrix(6, 4, m.data(), m.mask(), w.data(), dist, 0);
    const Lower expected(ref, 6);
    FreeMatrix(ref, 6);
    rows.push_back(Sweep(std::string("distancematrix ") + dist, [&](const Arm& arm, long& fired) {
      arm.on();
      double** d = lopper::distancematrix(6, 4, m.data(), m.mask(), w.data(), dist, 0);
      fired = arm.off();
      if (!d) return Outcome::kFailure;
      const bool same = Lower(d, 6).rows() == expected.rows();
      FreeMatrix(d, 6);
      return same ? Outcome::kFull : Outcome::kWrong;
    }));
  }

  for (const char dist : dists) {
    auto call = [&] {
      return lopper::calculate_weights(6, 4, m.data(), m.mask(), w.data(), 0, dist, 0.5, 1);
    };
    double* ref = call();
    const std::vector<double> expected(ref, ref + 6);
    lopper::detail::release(ref);
    rows.push_back(
        Sweep(std::string("calculate_weights ") + dist, [&](const Arm& arm, long& fired) {
          arm.on();
          double* r = call();
          fired = arm.off();
          if (!r) return Outcome::kFailure;
          const bool same = std::vector<double>(r, r + 6) == expected;
          lopper::detail::release(r);
          return same ? Outcome::kFull : Outcome::kWrong;
        }));
  }

  for (const char method : std::string("amsxv"))
    for (const char dist : dists) {
      const Ids g1{0, 1, 2}, g2{3, 4};
      auto call = [&] {
        return lopper::clusterdistance(6, 4, m.data(), m.mask(), w.data(), 3, 2, g1.data(),
                                       g2.data(), dist, method, 0);
      };
      const double expected = call();
      rows.push_back(Sweep(
          std::string("clusterdistance ") + method + dist,
          [&](const Arm& arm, long& fired) {
            arm.on();
            const double d = call();
            fired = arm.off();
            return d == -1.0 ? Outcome::kFailure : d == expected ? Outcome::kFull : Outcome::kWrong;
          },
          // Only centroids and ranks take storage.
          method == 'a' || method == 'm' || dist == 's'));
    }

  double** built = lopper::distancematrix(6, 4, m.data(), m.mask(), w.data(), 'e', 0);
  const Lower matrix(built, 6);
  FreeMatrix(built, 6);
  for (const char method : {'s', 'm', 'a', 'c'})
    for (const bool with_matrix : {false, true})
      for (const char dist : with_matrix&& method != 'c' ? std::string("e") : dists) {
        Lower d0(matrix);
        lopper::Node* ref = lopper::treecluster(6, 4, m.data(), m.mask(), w.data(), 0, dist, method,
                                                with_matrix ? d0.data() : nullptr);
        const std::vector<lopper::Node> expected(ref, ref + 5);
        lopper::detail::release(ref);
        rows.push_back(Sweep(
            std::string("treecluster ") + method + dist + (with_matrix ? " matrix" : ""),
            [&](const Arm& arm, long& fired) {
              Lower d(matrix);
              arm.on();
              lopper::Node* t = lopper::treecluster(6, 4, m.data(), m.mask(), w.data(), 0, dist,
                                                    method, with_matrix ? d.data() : nullptr);
              fired = arm.off();
              if (!t) return d.rows() == matrix.rows() ? Outcome::kFailure : Outcome::kWrong;
              bool same = true;
              for (int k = 0; k < 5; k++)
                same = same && t[k].left == expected[k].left && t[k].right == expected[k].right &&
                       t[k].distance == expected[k].distance;
              lopper::detail::release(t);
              return same ? Outcome::kFull : Outcome::kWrong;
            }));
      }

  const std::vector<lopper::Node> tree{{2, 3, 0}, {0, 1, 0}, {-2, -1, 0}};
  rows.push_back(Sweep("cuttree", [&](const Arm& arm, long& fired) {
    Ids ids(4, -9);
    arm.on();
    lopper::cuttree(4, tree.data(), 2, ids.data());
    fired = arm.off();
    return ids == Ids{0, 0, 1, 1} ? Outcome::kFull
           : ids == Ids(4, -1)    ? Outcome::kFailure
                                  : Outcome::kWrong;
  }));

  for (const char method : {'a', 'm'})
    for (const int npass : {0, 1, 3})
      for (const char dist : dists) {
        auto once = [&](const Arm* arm, long* fired, Ids& ids, double& error) {
          ids = Ids{0, 1, 0, 1, 0, 1};
          error = -5;
          int ifound = -9;
          lopper::setrandomseed(7, 8);
          if (arm) arm->on();
          lopper::kcluster(2, 6, 4, m.data(), m.mask(), w.data(), 0, npass, method, dist,
                           ids.data(), &error, &ifound);
          if (arm) *fired = arm->off();
          return ifound;
        };
        Ids expected_ids;
        double expected_error;
        const int expected_found = once(nullptr, nullptr, expected_ids, expected_error);
        rows.push_back(Sweep(
            std::string("kcluster ") + method + dist + " npass " + std::to_string(npass),
            [&](const Arm& arm, long& fired) {
              Ids ids;
              double error;
              const int ifound = once(&arm, &fired, ids, error);
              if (ifound == -1) return error == -5 ? Outcome::kFailure : Outcome::kWrong;
              return ifound == expected_found && ids == expected_ids && error == expected_error
                         ? Outcome::kFull
                         : Outcome::kWrong;
            }));
      }

  {
    struct Centroids {
      Matrix c = Matrix(std::vector<std::vector<double>>(2, std::vector<double>(4, -6.0)));
      int ok = -9;
      bool operator==(Centroids& o) {
        for (int k = 0; k < 2; k++)
          for (int d = 0; d < 4; d++)
            if (c.data()[k][d] != o.c.data()[k][d] || c.mask()[k][d] != o.c.mask()[k][d])
              return false;
        return ok == o.ok;
      }
    };
    auto once = [&](const Arm* arm, long* fired) {
      Centroids got;
      const Ids ids{0, 1, 0, 1, 0, 1};
      if (arm) arm->on();
      got.ok = lopper::getclustercentroids(2, 6, 4, m.data(), m.mask(), ids.data(), got.c.data(),
                                           got.c.mask(), 0, 'm');
      if (arm) *fired = arm->off();
      return got;
    };
    Centroids expected = once(nullptr, nullptr), untouched;
    untouched.ok = 0;
    rows.push_back(Sweep("getclustercentroids m", [&](const Arm& arm, long& fired) {
      Centroids got = once(&arm, &fired);
      return got == expected    ? Outcome::kFull
             : got == untouched ? Outcome::kFailure
                                : Outcome::kWrong;
    }));
  }

  for (const int npass : {0, 1, 3}) {
    auto once = [&](const Arm* arm, long* fired, Ids& ids, double& error) {
      Lower d(matrix);
      ids = Ids{0, 1, 0, 1, 0, 1};
      error = -5;
      int ifound = -9;
      lopper::setrandomseed(7, 8);
      if (arm) arm->on();
      lopper::kmedoids(2, 6, d.data(), npass, ids.data(), &error, &ifound);
      if (arm) *fired = arm->off();
      return ifound;
    };
    Ids expected_ids;
    double expected_error;
    const int expected_found = once(nullptr, nullptr, expected_ids, expected_error);
    rows.push_back(Sweep("kmedoids npass " + std::to_string(npass), [&](const Arm& arm,
                                                                        long& fired) {
      Ids ids;
      double error;
      const int ifound = once(&arm, &fired, ids, error);
      if (ifound == -1)
        return error == -5 && ids == Ids{0, 1, 0, 1, 0, 1} ? Outcome::kFailure : Outcome::kWrong;
      return ifound == expected_found && ids == expected_ids && error == expected_error
                 ? Outcome::kFull
                 : Outcome::kWrong;
    }));
  }

  {
    Lower d(matrix);
    const Ids ids{4, 9, 4, 9, 2, 9};
    const double expected = lopper::silhouette(6, d.data(), ids.data());
    rows.push_back(Sweep("silhouette", [&](const Arm& arm, long& fired) {
      arm.on();
      const double s = lopper::silhouette(6, d.data(), ids.data());
      fired = arm.off();
      return s == -2.0 ? Outcome::kFailure : s == expected ? Outcome::kFull : Outcome::kWrong;
    }));
  }

  {
    const double scales[] = {0.5, 0.75, 1, 1.25};
    const int counts[] = {212, 340, 455, 561};
    lopper::BootstrapSupport expected{};
    lopper::multiscalefit(4, scales, counts, 1000, &expected);
    rows.push_back(Sweep("multiscalefit", [&](const Arm& arm, long& fired) {
      lopper::BootstrapSupport s{};
      s.used = -5;
      arm.on();
      const int status = lopper::multiscalefit(4, scales, counts, 1000, &s);
      fired = arm.off();
      if (status == -1) return s.used == -5 ? Outcome::kFailure : Outcome::kWrong;
      const bool same = status == 0 && s.au == expected.au && s.bp == expected.bp &&
                        s.si == expected.si && s.se_au == expected.se_au &&
                        s.se_bp == expected.se_bp && s.se_si == expected.se_si &&
                        s.v == expected.v && s.c == expected.c && s.pchi == expected.pchi &&
                        s.used == expected.used;
      return same ? Outcome::kFull : Outcome::kWrong;
    }));
  }

  for (const char algorithm : std::string("apk")) {
    const int ks[] = {2, 3};
    auto once = [&](const Arm* arm, long* fired, Ids& together, Ids& sampled) {
      if (arm) arm->on();
      const int got =
          lopper::consensuscounts(6, 4, m.data(), m.mask(), w.data(), 0, 'e', algorithm, 2, 2, ks,
                                  0.8, 0.75, 5, 0, 6, together.data(), sampled.data());
      if (arm) *fired = arm->off();
      return got;
    };
    Ids full_together(30, 1), full_sampled(15, 1);
    once(nullptr, nullptr, full_together, full_sampled);
    rows.push_back(
        Sweep(std::string("consensuscounts ") + algorithm, [&](const Arm& arm, long& fired) {
          Ids together(30, 1), sampled(15, 1);
          const int got = once(&arm, &fired, together, sampled);
          if (got == -1)
            return together == Ids(30, 1) && sampled == Ids(15, 1) ? Outcome::kFailure
                                                                   : Outcome::kWrong;
          return together == full_together && sampled == full_sampled ? Outcome::kFull
                                                                      : Outcome::kWrong;
        }));
  }

  {
    const std::vector<double> consensus{0.9, 0.1, 0.2, 0.0, 0.1, 1.0};
    Ids full(4);
    lopper::consensusclusters(4, consensus.data(), 2, full.data());
    rows.push_back(Sweep("consensusclusters", [&](const Arm& arm, long& fired) {
      Ids ids(4, 7);
      arm.on();
      const int got = lopper::consensusclusters(4, consensus.data(), 2, ids.data());
      fired = arm.off();
      if (got == -1) return ids == Ids(4, -1) ? Outcome::kFailure : Outcome::kWrong;
      return ids == full ? Outcome::kFull : Outcome::kWrong;
    }));
    const Ids parts{0, 0, 1, 1};
    rows.push_back(Sweep("clusterconsensus", [&](const Arm& arm, long& fired) {
      std::vector<double> cluster(2, 5.0), item(8, 5.0);
      arm.on();
      const int got = lopper::clusterconsensus(4, consensus.data(), 2, parts.data(), cluster.data(),
                                               item.data());
      fired = arm.off();
      if (got == 0)
        return cluster == std::vector<double>(2, 5.0) ? Outcome::kFailure : Outcome::kWrong;
      return cluster == std::vector<double>{0.9, 1.0} ? Outcome::kFull : Outcome::kWrong;
    }));
  }

  for (const bool with_cells : {false, true})
    for (const char dist : dists) {
      struct Map {
        std::vector<double> values = std::vector<double>(2 * 2 * 4, -8.0);
        Ids ids = Ids(12, -4);
      };
      auto once = [&](const Arm* arm, long* fired) {
        Map map;
        std::vector<double*> cellrows{&map.values[0], &map.values[4], &map.values[8],
                                      &map.values[12]};
        std::vector<double**> grid{&cellrows[0], &cellrows[2]};
        lopper::setrandomseed(7, 8);
        if (arm) arm->on();
        lopper::somcluster(6, 4, m.data(), m.mask(), w.data(), 0, 2, 2, 0.02, 20, dist,
                           with_cells ? grid.data() : nullptr,
                           reinterpret_cast<int(*)[2]>(map.ids.data()));
        if (arm) *fired = arm->off();
        return map;
      };
      const Map expected = once(nullptr, nullptr);
      rows.push_back(Sweep(std::string("somcluster ") + dist + (with_cells ? " celldata" : ""),
                           [&](const Arm& arm, long& fired) {
                             const Map got = once(&arm, &fired);
                             if (got.ids == Ids(12, -1) && got.values == Map().values)
                               return Outcome::kFailure;
                             return got.ids == expected.ids && got.values == expected.values
                                        ? Outcome::kFull
                                        : Outcome::kWrong;
                           }));
    }

  {
    struct Decomposition {
      std::vector<std::vector<double>> a{{1, 2}, {3, 4}, {5, 7}};
      std::vector<std::vector<double>> v = std::vector<std::vector<double>>(2, {9.0, 9.0});
      std::vector<double> w = std::vector<double>(2, 9.0);
      int ierr = 5;
      bool operator==(const Decomposition& o) const {
        return a == o.a && v == o.v && w == o.w && ierr == o.ierr;
      }
    };
    auto once = [&](const Arm* arm, long* fired) {
      Decomposition got;
      std::vector<double*> pa{got.a[0].data(), got.a[1].data(), got.a[2].data()},
          pv{got.v[0].data(), got.v[1].data()};
      if (arm) arm->on();
      lopper::svd(3, 2, pa.data(), got.w.data(), pv.data(), &got.ierr);
      if (arm) *fired = arm->off();
      return got;
    };
    const Decomposition expected = once(nullptr, nullptr);
    Decomposition untouched;
    untouched.ierr = -1;
    EXPECT_EQ(expected.ierr, 0);
    rows.push_back(Sweep("svd", [&](const Arm& arm, long& fired) {
      const Decomposition got = once(&arm, &fired);
      return got == expected    ? Outcome::kFull
             : got == untouched ? Outcome::kFailure
                                : Outcome::kWrong;
    }));
  }

  for (const char method : {'s', 'a', 'c'})
    for (const char dist : std::string("ecs"))
      for (const int transpose : {0, 1}) {
        const int n = transpose ? 4 : 6;
        const std::vector<double> wt = transpose ? std::vector<double>(6, 1.0) : w;
        lopper::Node* grown = lopper::treecluster(6, 4, m.data(), m.mask(), wt.data(), transpose,
                                                  dist, method, nullptr);
        const std::vector<lopper::Node> tree_of(grown, grown + n - 1);
        lopper::detail::release(grown);
        const std::vector<double> scales{0.75, 1.5};
        auto call = [&](int counts[]) {
          return lopper::bootstrapcounts(6, 4, m.data(), m.mask(), wt.data(), transpose, dist,
                                         method, tree_of.data(), 2, scales.data(), 2, 3, 0, 4,
                                         counts, nullptr);
        };
        Ids expected(2 * (n - 1), 0);
        EXPECT_EQ(call(expected.data()), 4);
        rows.push_back(Sweep(
            std::string("bootstrapcounts ") + method + dist + (transpose ? " transposed" : ""),
            [&](const Arm& arm, long& fired) {
              Ids counts(2 * (n - 1), 0);
              arm.on();
              const int r = call(counts.data());
              fired = arm.off();
              if (r == -1)
                return counts == Ids(2 * (n - 1), 0) ? Outcome::kFailure : Outcome::kWrong;
              return counts == expected ? Outcome::kFull : Outcome::kWrong;
            }));
      }

  rows.push_back(Sweep("spearman scratch", [&](const Arm& arm, long& fired) {
    double d = -1;
    arm.on();
    try {
      lopper::detail::Measure measure('s', 4);
      d = measure(m.data(), m.data(), m.mask(), m.mask(), w.data(), 0, 2, 0);
    } catch (const std::bad_alloc&) {
    }
    fired = arm.off();
    const double full =
        lopper::detail::spearman(4, m.data(), m.data(), m.mask(), m.mask(), w.data(), 0, 2, 0);
    return d == full ? Outcome::kFull : d == -1 ? Outcome::kFailure : Outcome::kWrong;
  }));

  std::printf("%-28s %8s %8s %6s %9s\n", "routine", "malloc", "new", "tries", "failures");
  for (const Row& r : rows)
    std::printf("%-28s %8ld %8ld %6ld %9ld\n", r.routine.c_str(), r.allocations[0],
                r.allocations[1], r.tries, r.failures);
}

}  // namespace
