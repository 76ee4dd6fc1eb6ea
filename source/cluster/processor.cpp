// Which kernels the processor runs. Compiled twice, as allocate.cpp is: in
// the tests' build (LOPPER_TEST_HOOKS) the wide kernels can be switched
// off, so that the plain ones are tested on any machine.
#include <atomic>

#include "cluster_internal.h"

namespace lopper {
namespace detail {

#ifdef LOPPER_TEST_HOOKS
namespace {
std::atomic<bool> plain_only{false};
}  // namespace

void useplainkernels(bool on) { plain_only.store(on); }
#endif

bool hasavx2() {
#ifdef LOPPER_TEST_HOOKS
  if (plain_only.load(std::memory_order_relaxed)) return false;
#endif
#ifdef LOPPER_AVX2
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
#else
  return false;
#endif
}

}  // namespace detail
}  // namespace lopper
