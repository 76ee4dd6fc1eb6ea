#!/usr/bin/env bash
# Times the correlation distances of pvclust's `lung` (916 genes x 73
# samples, 1595 values missing; the samples are the elements) over
# bootstrap resamples of the genes, as pvclust draws them: lopper's
# distancematrix with code c (Pearson over the values present in both) and
# each gene weighted by how often it was drawn, against R's
# cor(use = "pairwise.complete.obs") on the drawn rows. Prints both
# milliseconds per matrix (one thread each), their ratio, and the largest
# difference between the two on the first resample.
#   bench/compare_masked_correlation.sh [BUILD_DIR] [RESAMPLES]  (defaults: build, 200)
set -euo pipefail
build=$(realpath "${1:-build}")
resamples=${2:-200}
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
g++ -O2 -std=c++17 "$here/time_distancematrix.cpp" -I"$build/include" -L"$build" \
  -llopper_cluster -lpthread -o "$work/time_distancematrix"
cd "$work"
OMP_NUM_THREADS=1 Rscript -e "
suppressMessages(library(pvclust)); data(lung)
write.table(lung, 'lung.tsv', sep = '\t', row.names = FALSE, col.names = FALSE, na = 'NA')
set.seed(20240611)
draws <- replicate($resamples, sample(nrow(lung), replace = TRUE), simplify = FALSE)
counts <- t(sapply(draws, function(d) tabulate(d, nrow(lung))))
write.table(counts, 'weights.tsv', sep = '\t', row.names = FALSE, col.names = FALSE)
took <- system.time(for (d in draws) r <- cor(lung[d, ], use = 'pairwise.complete.obs'))
first <- 1 - cor(lung[draws[[1]], ], use = 'pairwise.complete.obs')
writeLines(format(first[lower.tri(first)][order(col(first)[lower.tri(first)])], digits = 17), 'r.txt')
cat(sprintf('%.4f\n', 1000 * took[['elapsed']] / length(draws)), file = 'r_ms.txt')
"
ours=$("$work/time_distancematrix" lung.tsv weights.tsv c lopper.txt)
theirs=$(cat r_ms.txt)
echo "lung, $resamples bootstrap resamples, one thread"
echo "R cor(pairwise.complete.obs): $theirs ms per matrix"
echo "lopper distancematrix 'c':    $ours ms per matrix"
awk -v a="$theirs" -v b="$ours" 'BEGIN { printf "R / lopper: %.1fx\n", a / b }'
# R lists the lower triangle column by column, lopper row by row: sort both
# pairs by (i, j).
paste <(awk -v n=73 'BEGIN { for (j = 0; j < n; j++) for (i = j + 1; i < n; i++) print i, j }' |
  paste -d' ' - r.txt | sort -k1,1n -k2,2n | cut -d' ' -f3) \
  <(awk -v n=73 'BEGIN { for (i = 1; i < n; i++) for (j = 0; j < i; j++) print i, j }' |
    paste -d' ' - lopper.txt | sort -k1,1n -k2,2n | cut -d' ' -f3) |
  awk '{ d = $1 - $2; if (d < 0) d = -d; if (d > most) most = d } END { printf "largest |R - lopper| on resample 1: %.3g\n", most }'
