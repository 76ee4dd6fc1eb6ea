# Writes dynamic_hybrid_cases.txt: R's dynamicTreeCut::cutreeDynamic(method =
# "hybrid") labels on average-linkage trees of real and planted data (and
# one single-linkage tree), for test_dynamic_hybrid.cpp.
#
#   Rscript tests/data/make_dynamic_hybrid_cases.R > tests/data/dynamic_hybrid_cases.txt
#
# Needs r-cran-dynamictreecut and r-bioc-all. Every data set is a matrix of
# small integers (rounded z-scores times 32, or the data's own integers), and
# the distances are Euclidean: each square and each sum of squares is then an
# integer below 2^53, exact in double in any order, and each distance the
# correctly rounded square root, so the test's distances are R's bit for bit.
# The trees' heights are written with 17 significant digits, which read back
# as the same doubles.
suppressPackageStartupMessages({
  library(dynamicTreeCut)
  library(ALL)
})

zscores <- function(x) round(32 * scale(x))

sets <- list()

# ALL: the 150 genes of largest variance across the 128 samples, each gene's
# profile standardised, so that Euclidean distance orders pairs as 1 - cor.
data(ALL)
e <- exprs(ALL)
top <- order(apply(e, 1, var), decreasing = TRUE)[1:150]
sets$all_genes <- t(zscores(t(e[top, ])))

# 251 quakes: 250 merges, so the reference merge is R's round(12.5), 12.
sets$quakes <- zscores(as.matrix(quakes[1:251, c("lat", "long", "depth", "mag")]))
sets$faithful <- zscores(as.matrix(faithful))
# iris in tenths of a centimetre: many equal distances, so runs of equal heights.
sets$iris <- round(10 * as.matrix(iris[, 1:4]))

# Planted: six Gaussian groups of unequal sizes and spreads in five
# dimensions, and uniform noise.
set.seed(20240611)
sizes <- c(70, 45, 30, 25, 15, 10)
spread <- c(1, 0.6, 1.4, 0.8, 0.5, 1)
centres <- matrix(runif(6 * 5, -8, 8), 6, 5)
planted <- do.call(rbind, lapply(1:6, function(g)
  sweep(matrix(rnorm(sizes[g] * 5, sd = spread[g]), sizes[g], 5), 2, centres[g, ], "+")))
planted <- rbind(planted, matrix(runif(25 * 5, -10, 10), 25, 5))
sets$planted <- round(32 * planted)

# Two pairs that join each other below the reference height (the fifth of
# the 100 merges), the rest on a grid far off: with a cut just above that
# height, the pairs pass every test but the split height.
grid <- as.matrix(expand.grid(100 + 50 * (0:9), 100 + 50 * (0:9)))[1:97, ]
sets$pairs_and_grid <- rbind(c(0, 0), c(10, 0), c(0, 14), c(10, 14), grid)

# The planted data by single linkage: chained merges lie far below the mean
# distances, so clusters' spreads, not the cut, decide some of the PAM stage.
sets$planted_single <- sets$planted
linkage <- c(planted_single = "single")

for (name in names(sets)) {
  x <- sets[[name]]
  storage.mode(x) <- "double"
  d <- dist(x)
  tree <- hclust(d, method = if (name %in% names(linkage)) linkage[[name]] else "average")
  dm <- as.matrix(d)
  cat("set", name, nrow(x), ncol(x), "\n")
  for (i in seq_len(nrow(x))) cat(sprintf("%d", as.integer(x[i, ])), "\n")
  cat("tree\n")
  for (m in seq_along(tree$height))
    cat(tree$merge[m, 1], tree$merge[m, 2], sprintf("%.17g", tree$height[m]), "\n")
  # The default cut, one within the heights, a low one (a small gap, where
  # the split height and, as the PAM distance, the clusters' spreads tell),
  # and one above the highest merge (lowered to it, while the PAM distance
  # keeps the value given).
  h <- tree$height
  cuts <- list(NULL, unname(quantile(h, 0.9)), unname(quantile(h, 0.3)), 1.25 * max(h))
  cutcase <- function(cut, deep, minsize, pam) {
    labels <- cutreeDynamic(tree, cutHeight = cut, minClusterSize = minsize, method = "hybrid",
                            distM = dm, deepSplit = deep, pamStage = pam, verbose = 0)
    cat("case", deep, minsize, as.integer(pam),
        if (is.null(cut)) "NA" else sprintf("%.17g", cut), "\n")
    cat(labels, "\n")
  }
  for (cut in cuts) for (deep in 0:4) for (minsize in c(4, 12)) for (pam in c(FALSE, TRUE))
    cutcase(cut, deep, minsize, pam)
  # Pairs as clusters, under a cut just above the reference height: the gap
  # asked is then small, and merges below the reference height are absorbed
  # for that alone.
  ref <- h[max(1, round(0.05 * length(h)))]
  for (pam in c(FALSE, TRUE)) cutcase(ref + 0.1 * (max(h) - ref), 4, 2, pam)
}
