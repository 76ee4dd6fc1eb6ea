// Replaced global operator new whose k-th call can be made to fail, so that
// the std::bad_alloc paths of the code under test run.
#include <cstdlib>
#include <new>

#include "test_util.h"

namespace {
long countdown = 0;
}

void lopper_test::FailNthNew(long k) { countdown = k; }
long lopper_test::PendingNewFailure() { return countdown; }

void* operator new(std::size_t size) {
  if (countdown > 0 && --countdown == 0) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
