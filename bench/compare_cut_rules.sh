#!/usr/bin/env bash
# Times every cut rule of lopper on a random tree of 1,000,000 elements
# against today's cut by nesting (-L 1000) on the same file, best of three
# runs each, and prints each rule's ratio to -L and its peak memory.
#   bench/compare_cut_rules.sh [BUILD_DIR] [N]    (defaults: build, 1000000)
set -euo pipefail
build=${1:-build}
n=${2:-1000000}
[ -x /usr/bin/time ] || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/lopper_make_tree" "$n" 42 random "$work/tree.nex"

# Best wall time of three runs, and the peak memory of the last, of lopper
# with the given cut.
best() {
  local best_time="" t kb
  for _ in 1 2 3; do
    read -r t kb < <(/usr/bin/time -f "%e %M" "$build/lopper" -N "$work/tree.nex" "$@" \
      -O "$work/tree.clu" 2>&1 >/dev/null | tail -1)
    if [ -z "$best_time" ] || awk "BEGIN{exit !($t < $best_time)}"; then best_time=$t; fi
  done
  echo "$best_time $kb"
}

read -r base base_kb < <(best -L 1000)
printf '%-44s %7s s %9s KB\n' "-L 1000 (nesting)" "$base" "$base_kb"
# Heights in the file are 100 x the merges' (join lengths), up to about 100 n / 2.
half=$((n * 100 / 4))
for rule in "-L 1000 --by-height" "--height $half" "--inconsistent 1" "--dynamic" \
  "--dynamic --deep-split 1" "--clade max --threshold $half" "--clade avg --threshold $half" \
  "--clade sum --threshold $half" "--clade single --threshold 100" "--height $half --min-size 5"; do
  # shellcheck disable=SC2086
  read -r t kb < <(best $rule)
  printf '%-44s %7s s %9s KB  %.2fx -L\n' "$rule" "$t" "$kb" "$(awk "BEGIN{print $t / $base}")"
done
