#!/usr/bin/env bash
# Times lopper -L 1000 against wc -l on the same random tree of 1,000,000
# elements (a 57 MB Nexus file), each the best of RUNS runs taken in turns,
# and prints the ratio: wc -l stands for the cost of reading the file once,
# so the ratio holds on a busy or a quiet machine alike. With a second
# lopper (REF_LOPPER, e.g. a build of an older commit), times it in the same
# turns, prints its ratios too and checks that both print the same bytes.
#   bench/compare_cut_wc.sh [BUILD_DIR] [RUNS] [REF_LOPPER]
#                                            (defaults: build, 5, none)
set -euo pipefail
build=${1:-build}
runs=${2:-5}
ref=${3:-}
[ -x /usr/bin/time ] || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null
lopper=$(realpath "$build/lopper")
[ -n "$ref" ] && ref=$(realpath "$ref")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/lopper_make_tree" 1000000 42 random "$work/million.nex"
mkdir "$work/new" "$work/ref"

# Seconds taken by the command, to the microsecond.
seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  awk -v us=$(((end - start) / 1000)) 'BEGIN { printf "%.6f", us / 1e6 }'
}
best() { sort -g | head -1; }

wc_times=() new_times=() ref_times=()
for ((i = 0; i < runs; i++)); do
  wc_times+=("$(seconds wc -l "$work/million.nex")")
  new_times+=("$(cd "$work/new" && seconds "$lopper" -N ../million.nex -L 1000 -O out.clu)")
  [ -n "$ref" ] && ref_times+=("$(cd "$work/ref" && seconds "$ref" -N ../million.nex -L 1000 -O out.clu)")
done
wc_best=$(printf '%s\n' "${wc_times[@]}" | best)
new_best=$(printf '%s\n' "${new_times[@]}" | best)
peak=$( (cd "$work/new" && /usr/bin/time -f %M "$lopper" -N ../million.nex -L 1000 -O out.clu >out.txt) 2>&1)
echo "wc -l:           ${wc_best} s (best of $runs)"
echo "lopper -L 1000:  ${new_best} s (best of $runs), ${peak} KB peak"
awk -v a="$new_best" -v b="$wc_best" 'BEGIN { printf "lopper / wc -l:  %.0fx\n", a / b }'
if [ -n "$ref" ]; then
  ref_best=$(printf '%s\n' "${ref_times[@]}" | best)
  ref_peak=$( (cd "$work/ref" && /usr/bin/time -f %M "$ref" -N ../million.nex -L 1000 -O out.clu >out.txt) 2>&1)
  echo "reference lopper: ${ref_best} s (best of $runs), ${ref_peak} KB peak"
  awk -v a="$ref_best" -v b="$wc_best" -v c="$new_best" \
    'BEGIN { printf "reference / wc -l: %.0fx; lopper / reference: %.2f\n", a / b, c / a }'
  cmp "$work/new/out.txt" "$work/ref/out.txt" && cmp "$work/new/out.clu" "$work/ref/out.clu" &&
    echo "standard output and cluster file: identical"
fi
