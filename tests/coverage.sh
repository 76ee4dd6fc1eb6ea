#!/usr/bin/env bash
# Runs the test suite on a coverage build (build-cov/) and prints line and
# branch coverage of source/ with gcovr.
#   tests/coverage.sh
set -euo pipefail
cd "$(dirname "$0")/.."
dpkg-query -W -f='${Status}' gcovr 2>/dev/null | grep -q 'install ok installed' ||
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq gcovr >/dev/null
cmake -S . -B build-cov -DCMAKE_BUILD_TYPE=Debug -DLOPPER_COVERAGE=ON >/dev/null
cmake --build build-cov -j"$(nproc)" >/dev/null
find build-cov -name '*.gcda' -delete
ctest --test-dir build-cov -j"$(nproc)" >/dev/null
gcovr --root . --filter 'source/' --branches --exclude-throw-branches --exclude-unreachable-branches \
  --print-summary build-cov "$@"
