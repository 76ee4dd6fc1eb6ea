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

Crew::Crew(int nthreads) {
  try {
    helpers_.reserve(nthreads > 1 ? nthreads - 1 : 0);
    for (int t = 1; t < nthreads; t++) helpers_.emplace_back([this, t] { serve(t); });
  } catch (const std::bad_alloc&) {
  } catch (const std::system_error&) {
  }
}

Crew::~Crew() {
  stop_.store(true, std::memory_order_release);
  for (std::thread& helper : helpers_) helper.join();
}

void Crew::serve(int t) {
  for (unsigned seen = 0;;) {
    unsigned round;
    while ((round = round_.load(std::memory_order_acquire)) == seen)
      if (stop_.load(std::memory_order_acquire))
        return;
      else
        std::this_thread::yield();
    seen = round;
    call_(context_, t);
    pending_.fetch_sub(1, std::memory_order_release);
  }
}

}  // namespace detail

}  // namespace lopper
