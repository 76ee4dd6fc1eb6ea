// A fuzz target that aborts on an input starting with '!', for testing the
// replay runner.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0 && data[0] == '!') std::abort();
  return 0;
}
