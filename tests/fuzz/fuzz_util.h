// Helpers of the fuzz targets: reading the input as a stream of bytes, and
// failing loudly.
#ifndef LOPPER_FUZZ_UTIL_H
#define LOPPER_FUZZ_UTIL_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace lopper_fuzz {

// The input's bytes in order, then zeros.
struct Bytes {
  const uint8_t* data;
  size_t size, at = 0;
  unsigned next() { return at < size ? data[at++] : 0u; }
};

// A broken property is a crash the fuzzer reports.
inline void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace lopper_fuzz

#endif
