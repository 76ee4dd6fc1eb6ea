#!/usr/bin/env bash
# Times lopper -L 1000 on a random binary tree of 1,000,000 elements.
#   bench/cut_million.sh [BUILD_DIR]     (default: build)
set -euo pipefail
build=${1:-build}
[ -x /usr/bin/time ] || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/lopper_make_tree" 1000000 42 random "$work/million.nex"
/usr/bin/time -f "lopper -L 1000, 1,000,000 elements: %e s wall, %M KB peak" \
  "$build/lopper" -N "$work/million.nex" -L 1000 -O "$work/million.clu" >/dev/null
