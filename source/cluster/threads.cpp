// How many threads the library's routines may use.
#include <atomic>
#include <chrono>
#include <thread>

#include "cluster_internal.h"

namespace lopper {

namespace {

// 0: the default, one per core.
std::atomic<int> requested{0};

// Operations a thread must have to do for its start-up to pay.
constexpr double kOperationsPerThread = 2e6;

// How long a crew's helper yields for the next step before it sleeps.
constexpr std::chrono::microseconds kYieldFor{1000};

// The calling thread's Nested scopes: whether one made it alone, whether
// one lives.
thread_local bool alone = false;
thread_local bool quiet = false;

}  // namespace

void setthreads(int n) { requested.store(n < 1 ? 0 : n, std::memory_order_relaxed); }

int getthreads() {
  const int n = requested.load(std::memory_order_relaxed);
  if (n > 0) return n;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? static_cast<int>(cores) : 1;
}

namespace detail {

Nested::Nested(bool alone_now) : was_alone_(alone), was_quiet_(quiet) {
  alone = alone || alone_now;
  quiet = true;
}

Nested::~Nested() {
  alone = was_alone_;
  quiet = was_quiet_;
}

bool quietthread() { return quiet; }

int threadsfor(double operations) {
  if (alone) return 1;
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
  stop_.store(true);
  wake();
  for (std::thread& helper : helpers_) helper.join();
}

void Crew::serve(int t) {
  for (unsigned seen = 0;;) {
    if (!await(seen)) return;
    seen = round_.load(std::memory_order_acquire);
    call_(context_, t);
    pending_.fetch_sub(1, std::memory_order_release);
  }
}

bool Crew::await(unsigned seen) {
  const auto passed = [&] { return round_.load() != seen || stop_.load(); };
  const auto until = std::chrono::steady_clock::now() + kYieldFor;
  while (!passed() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  if (!passed()) {
    // Counted before round_ is read again: a runner that then moves round_
    // on finds the count and wakes us, or we find the new round.
    std::unique_lock<std::mutex> lock(sleep_mutex_);
    sleepers_.fetch_add(1);
    woken_.wait(lock, passed);
    sleepers_.fetch_sub(1);
  }
  return !stop_.load() || round_.load() != seen;
}

void Crew::wake() {
  if (sleepers_.load() == 0) return;
  const std::lock_guard<std::mutex> lock(sleep_mutex_);
  woken_.notify_all();
}

}  // namespace detail

}  // namespace lopper
