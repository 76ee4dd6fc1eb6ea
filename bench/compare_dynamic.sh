#!/usr/bin/env bash
# Times R's dynamicTreeCut::cutreeDynamic(method = "hybrid") against
# lopper's cuttree_hybrid on the same N-element table (planted groups of
# unequal sizes and spreads in ten dimensions, small integers so that both
# sides' Euclidean distances are equal bit for bit) and the same
# average-linkage tree, which R builds once. Only the cut is timed: R's
# system.time around cutreeDynamic, lopper_bench_dynamic's best of three
# around cuttree_hybrid. Prints both times, the ratio, and whether the
# labels agree. Needs Rscript with r-cran-dynamictreecut, and some 10 GB of
# memory at N = 20,000 (R's distance matrix, full, and its copies).
#   bench/compare_dynamic.sh [BUILD_DIR] [N] [DEEPSPLIT] [MINSIZE] [PAMSTAGE]
#                            (defaults: build, 20000, 1, 20, 1: R's defaults)
set -euo pipefail
build=${1:-build}
n=${2:-20000}
deep=${3:-1}
minsize=${4:-20}
pam=${5:-1}
bench=$(realpath "$build/lopper_bench_dynamic")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

Rscript - "$n" "$deep" "$minsize" "$pam" <<'EOF'
suppressPackageStartupMessages(library(dynamicTreeCut))
args <- as.integer(commandArgs(TRUE))
n <- args[1]
set.seed(20240613)
ngroups <- 40
sizes <- as.vector(rmultinom(1, round(0.9 * n), rexp(ngroups)))
centres <- matrix(runif(ngroups * 10, -10, 10), ngroups, 10)
x <- do.call(rbind, lapply(seq_len(ngroups), function(g)
  sweep(matrix(rnorm(sizes[g] * 10, sd = runif(1, 0.3, 1.5)), sizes[g], 10), 2,
        centres[g, ], "+")))
x <- rbind(x, matrix(runif((n - nrow(x)) * 10, -12, 12), n - nrow(x), 10))
x <- round(32 * x)
write.table(x, "data.txt", row.names = FALSE, col.names = FALSE)
tree <- hclust(dist(x), method = "average")
write.table(cbind(tree$merge, sprintf("%.17g", tree$height)), "tree.txt", quote = FALSE,
            row.names = FALSE, col.names = FALSE)
dm <- as.matrix(dist(x))
invisible(gc())
took <- system.time(labels <- cutreeDynamic(tree, method = "hybrid", distM = dm,
                                            deepSplit = args[2], minClusterSize = args[3],
                                            pamStage = args[4] != 0, verbose = 0))
cat(labels, "\n", file = "labels.txt")
cat(sprintf("%.3f\n", took[["elapsed"]]), file = "rtime.txt")
EOF

r_time=$(cat rtime.txt)
read -r ours nclusters agreement < <("$bench" data.txt tree.txt labels.txt "$deep" "$minsize" "$pam" || true)
echo "n $n, deepSplit $deep, minClusterSize $minsize, pamStage $pam: $nclusters clusters"
echo "R cutreeDynamic(method = \"hybrid\"): ${r_time} s"
echo "lopper cuttree_hybrid:              ${ours} s (best of 3), labels ${agreement}"
awk -v a="$ours" -v b="$r_time" 'BEGIN { printf "lopper / R: %.4f\n", a / b }'
