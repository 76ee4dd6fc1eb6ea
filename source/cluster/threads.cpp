// How many threads the library's routines may use.
#include <atomic>
#include <thread>

#include "cluster_internal.h"

namespace lopper {

namespace {

// 0: the default, one per core.
std::atomic<int> requested{0};

// Operations a thread must have to do for its start-up to pay.
constexpr double kOperationsPerThread = 2e6;

}  // namespace

void setthreads(int n) { requested.store(n < 1 ? 0 : n, std::memory_order_relaxed); }

int getthreads() {
  const int n = requested.load(std::memory_order_relaxed);
  if (n > 0) return n;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? static_cast<int>(cores) : 1;
}

namespace detail {

int threadsfor(double operations) {
  const double worth = operations / kOperationsPerThread;
  const int most = getthreads();
  return worth >= most ? most : worth >= 1 ? static_cast<int>(worth) : 1;
}

}  // namespace detail

}  // namespace lopper
