// The library's allocator. Compiled twice: plainly into the installed
// library, and with LOPPER_TEST_HOOKS into the build the tests link,
// where any allocation can be made to fail and live blocks are counted.
// The hooks are atomic there, so that threads allocating at once do not
// race; the installed library has neither their symbols nor their cost.
#include <cstdlib>

#include "cluster_internal.h"

#ifdef LOPPER_TEST_HOOKS
#include <atomic>
#endif

namespace lopper {
namespace detail {

namespace {

#ifdef LOPPER_TEST_HOOKS
std::atomic<long> countdown{0};
std::atomic<bool> fail_after{false};  // keep failing once the k-th failed
std::atomic<long> failures{0};
std::atomic<long> blocks{0};

// Decrements the countdown only while it is positive, so that exactly one
// allocation, among any number of threads, sees it reach zero.
bool ShouldFail() {
  long left = countdown.load();
  while (left > 0 && !countdown.compare_exchange_weak(left, left - 1)) {
  }
  const bool fail = left == 1 || (left == 0 && fail_after.load());
  if (fail) failures++;
  return fail;
}

void Count(const void* block, long change) {
  if (block) blocks += change;
}
#else
constexpr bool ShouldFail() { return false; }
void Count(const void*, long) {}
#endif

}  // namespace

void* allocate(std::size_t bytes) {
  if (ShouldFail()) return nullptr;
  void* block = std::malloc(bytes ? bytes : 1);
  Count(block, 1);
  return block;
}

void* allocate_zeroed(std::size_t count, std::size_t size) {
  if (ShouldFail()) return nullptr;
  void* block = count && size ? std::calloc(count, size) : std::calloc(1, 1);
  Count(block, 1);
  return block;
}

void release(void* block) {
  Count(block, -1);
  std::free(block);
}

#ifdef LOPPER_TEST_HOOKS
void fail_allocation(long k, bool and_after) {
  fail_after = k > 0 && and_after;
  failures = 0;
  countdown = k;
}
long injected_failures() { return failures; }
long live_blocks() { return blocks; }
#endif

}  // namespace detail
}  // namespace lopper
