// What a test does when a peer it compares with (SciPy, R, a browser) is
// missing: skips, saying which, so that ctest reports it skipped; or, where
// the peers are meant to be installed (./dev.sh test, CI), fails.
#ifndef LOPPER_TEST_PEERS_H
#define LOPPER_TEST_PEERS_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace lopper_test {

// Skips the running test with `reason`, or fails it when the environment
// sets LOPPER_REQUIRE_PEERS=1. Either way the caller returns at once:
//   if (!installed) return lopper_test::SkipWithoutPeer("python3-scipy not installed");
inline void SkipWithoutPeer(const std::string& reason) {
  const char* required = std::getenv("LOPPER_REQUIRE_PEERS");
  if (required && std::strcmp(required, "1") == 0) {
    ADD_FAILURE() << reason << " (LOPPER_REQUIRE_PEERS=1: the peers must be installed)";
    return;
  }
  GTEST_SKIP() << reason;
}

}  // namespace lopper_test

#endif
