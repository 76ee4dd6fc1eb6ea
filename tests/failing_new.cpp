// Replaced global operator new whose k-th call can be made to fail, so that
// the std::bad_alloc paths of the code under test run.
#include <cstdlib>
#include <new>

#include "test_util.h"

namespace {
long countdown = 0;
bool fail_after = false;
long failures = 0;
}  // namespace

void lopper_test::FailNthNew(long k, bool and_after) {
  countdown = k;
  fail_after = k > 0 && and_after;
  failures = 0;
}
long lopper_test::PendingNewFailure() { return countdown; }
long lopper_test::InjectedNewFailures() { return failures; }

namespace {

bool Fails() {
  if ((countdown > 0 && --countdown == 0) || (fail_after && countdown == 0)) {
    failures++;
    return true;
  }
  return false;
}

void* Allocate(std::size_t size) {
  if (Fails()) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

void* AllocateOrNull(std::size_t size) noexcept {
  if (Fails()) return nullptr;
  return std::malloc(size ? size : 1);
}

}  // namespace

// Every form, so that no block passes between these and the runtime's own.
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
