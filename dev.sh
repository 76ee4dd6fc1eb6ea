#!/usr/bin/env bash
# Sets up what lopper needs on Debian 12, builds it in ./build, then
#   ./dev.sh example   cuts the bundled example tree
#   ./dev.sh test      runs the whole test suite
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

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"

case "${1:-build}" in
  example) ./build/lopper -N examples/fruit.nex -L 3 -O build/fruit.clu ;;
  test) ctest --test-dir build --output-on-failure -j"$(nproc)" ;;
  build) ;;
  *) echo "usage: ./dev.sh [example|test|build]" >&2; exit 2 ;;
esac
