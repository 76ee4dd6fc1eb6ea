#!/usr/bin/env bash
# Times R's pvclust against lopper-cluster --bootstrap on pvclust's own
# `lung` data (916 genes x 73 samples, 1595 values missing): average
# linkage on correlation distance (1 - r over the pairs present), the
# default scales 0.5 ... 1.4, NBOOT resamples per scale. R runs twice, with
# parallel = FALSE and with parallel = 2L (two worker processes: the
# machine's cores); lopper-cluster uses every core. Prints each elapsed
# time, the ratios, and how far apart the AU and BP of the two tools lie
# per cluster against the spread between R's two runs (their random
# streams differ). Needs Rscript with r-cran-pvclust.
#   bench/compare_bootstrap.sh [BUILD_DIR] [NBOOT] [WORKERS]
#                              (defaults: build, 1000, 2)
set -euo pipefail
here=$(realpath "$(dirname "$0")")
build=$(realpath "${1:-build}")
nboot=${2:-1000}
workers=${3:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

Rscript - "$nboot" "$workers" <<'EOF_R'
suppressPackageStartupMessages(library(pvclust))
args <- as.integer(commandArgs(TRUE))
data(lung)
write.table(lung, "lung.tsv", sep = "\t", quote = FALSE, na = "", col.names = NA)
run <- function(parallel) {
  took <- system.time(p <- pvclust(lung, method.hclust = "average",
                                   method.dist = "correlation", nboot = args[1],
                                   parallel = parallel, iseed = 1, quiet = TRUE))
  list(p = p, seconds = took[["elapsed"]])
}
serial <- run(FALSE)
par <- run(args[2])
write.table(serial$p$edges[, c("au", "bp")], "r_serial.tsv", sep = "\t", quote = FALSE)
write.table(par$p$edges[, c("au", "bp")], "r_parallel.tsv", sep = "\t", quote = FALSE)
members <- function(hc) {  # each merge's samples, sorted, as one key
  m <- hc$merge; sets <- vector("list", nrow(m))
  for (i in seq_len(nrow(m))) sets[[i]] <- sort(c(
    if (m[i, 1] < 0) hc$labels[-m[i, 1]] else sets[[m[i, 1]]],
    if (m[i, 2] < 0) hc$labels[-m[i, 2]] else sets[[m[i, 2]]]))
  sapply(sets, paste, collapse = ",")
}
writeLines(members(serial$p$hclust), "r_clusters.txt")
cat(sprintf("%.3f %.3f\n", serial$seconds, par$seconds), file = "rtime.txt")
EOF_R

start=$(date +%s.%N)
"$build/lopper-cluster" lung.tsv --transpose -m average -d pearson --bootstrap "$nboot" \
  --support support.tsv --linkage linkage.tsv --newick tree.nwk -q
end=$(date +%s.%N)
read -r r_serial r_parallel < rtime.txt
ours=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
echo "lung, average linkage, correlation, nboot $nboot, 10 scales"
echo "R pvclust(parallel = FALSE):     ${r_serial} s"
echo "R pvclust(parallel = ${workers}L):      ${r_parallel} s"
echo "lopper-cluster --bootstrap:      ${ours} s ($(nproc) threads)"
awk -v a="$ours" -v s="$r_serial" -v p="$r_parallel" \
  'BEGIN { printf "lopper / R serial: %.4f   lopper / R parallel: %.4f\n", a / s, a / p }'
python3 "$here/support_agreement.py" .
