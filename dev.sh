#!/usr/bin/env bash
# Sets up what lopper needs on Debian 12, builds it in ./build, then
#   ./dev.sh example   cuts the bundled example tree
#   ./dev.sh test      runs the whole test suite
#   ./dev.sh test-sanitize   the same under AddressSanitizer and
#                      UndefinedBehaviorSanitizer, built in ./build-asan
#   ./dev.sh test-tsan the same under ThreadSanitizer, built in ./build-tsan
#   ./dev.sh build     only builds
set -euo pipefail
cd "$(dirname "$0")"

packages=(g++ make cmake libboost-program-options-dev libboost-regex-dev libgtest-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "dev.sh: installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

mode=${1:-build}
build=build
flags=(-DCMAKE_BUILD_TYPE=Release)
case "$mode" in
  test-sanitize)
    build=build-asan
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOPPER_SANITIZE=ON) ;;
  test-tsan)
    build=build-tsan
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOPPER_SANITIZE_THREAD=ON) ;;
esac
cmake -S . -B "$build" "${flags[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"

case "$mode" in
  example) ./build/lopper -N examples/fruit.nex -L 3 -O build/fruit.clu ;;
  test | test-sanitize | test-tsan) ctest --test-dir "$build" --output-on-failure -j"$(nproc)" ;;
  build) ;;
  *) echo "usage: ./dev.sh [example|test|test-sanitize|test-tsan|build]" >&2; exit 2 ;;
esac
