#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (in build-fuzz/) and runs each for
# MINUTES minutes from its corpus, with the Nexus dictionary for the command
# target; inputs that add coverage are merged back into tests/fuzz/corpus/.
# Crashes are written to build-fuzz/tests/fuzz/.
#   tests/fuzz/run.sh MINUTES
set -euo pipefail
cd "$(dirname "$0")/../.."
minutes=${1:?usage: tests/fuzz/run.sh MINUTES}
for p in clang libclang-rt-14-dev libboost-regex-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$p" >/dev/null
done
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLOPPER_FUZZ=ON -DLOPPER_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target lopper_fuzz_command lopper_fuzz_roundtrip lopper_fuzz_distance \
  lopper_fuzz_table
fuzz=build-fuzz/tests/fuzz
for target in command roundtrip distance table; do
  dict=()
  [ "$target" = command ] || [ "$target" = parse ] && dict=(-dict=tests/fuzz/nexus.dict)
  work="build-fuzz/corpus-$target"
  mkdir -p "$work"
  echo "== $target, $minutes min"
  "$fuzz/lopper_fuzz_$target" "${dict[@]}" -max_total_time=$((minutes * 60)) -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$fuzz/" "$work" "tests/fuzz/corpus/$target" 2>&1 |
    grep -E 'stat::number_of_executed_units|ERROR|SUMMARY|crash-|Test unit written' || true
  # Keep in the committed corpus only the inputs that add coverage.
  "$fuzz/lopper_fuzz_$target" -merge=1 "tests/fuzz/corpus/$target" "$work" 2>&1 | grep -E 'MERGE-OUTER: [0-9]+ new files' || true
done
