# Writes dynamic_tree_cases.txt: average-linkage hclust trees of real and
# planted data, each with the partitions of R's dynamicTreeCut
# cutreeDynamic(method = "tree") at both deepSplit values, several minimum
# cluster sizes and cut heights (R's default, one within the tree, one above
# it). Run from this directory: Rscript make_dynamic_tree_cases.R
suppressMessages({
  library(dynamicTreeCut)
  library(ALL)
})

# The leaves in the order of a left-first walk of merge: the cut reads the
# tree in hclust's order, which the C++ side rebuilds this way.
walk <- function(merge) {
  out <- integer(0)
  pending <- nrow(merge)
  while (length(pending)) {
    r <- pending[length(pending)]
    pending <- pending[-length(pending)]
    if (r < 0) out <- c(out, -r) else pending <- c(pending, merge[r, 2], merge[r, 1])
  }
  out
}

data(ALL)
genes <- exprs(ALL)
genes <- genes[order(-apply(genes, 1, sd))[1:800], ]
set.seed(20261210)
centres <- matrix(rnorm(6 * 4, sd = 4), 6)
sizes <- c(120, 90, 70, 50, 30, 15)
planted <- centres[rep(1:6, sizes), ] + matrix(rnorm(sum(sizes) * 4), ncol = 4)
planted <- rbind(planted, matrix(runif(25 * 4, -10, 10), ncol = 4))
planted <- round(planted, 1)  # ties among the distances

trees <- list(
  ALL = hclust(as.dist(1 - cor(t(genes))), "average"),
  quakes = hclust(dist(scale(quakes[, c("lat", "long", "depth")])), "average"),
  faithful = hclust(dist(scale(faithful)), "average"),
  planted = hclust(dist(planted), "average"))

out <- file("dynamic_tree_cases.txt", "w")
writeLines(c("# R dynamicTreeCut cutreeDynamic(method = \"tree\"), written by make_dynamic_tree_cases.R",
             paste("# dynamicTreeCut", packageVersion("dynamicTreeCut"), R.version.string),
             "# tree NAME N, then N-1 lines: merge[, 1] merge[, 2] height;",
             "# cut DEEPSPLIT MINSIZE CUTHEIGHT(default: NULL) NCLUSTERS, then R's N labels"), out)
for (name in names(trees)) {
  tree <- trees[[name]]
  stopifnot(identical(as.integer(tree$order), walk(tree$merge)))
  n <- length(tree$order)
  writeLines(sprintf("tree %s %d", name, n), out)
  writeLines(sprintf("%d %d %.17g", tree$merge[, 1], tree$merge[, 2], tree$height), out)
  top <- max(tree$height)
  for (deep in c(FALSE, TRUE)) for (minsize in c(5, 10, 20, 40)) {
    heights <- list(NULL, tree$height[n - 4])
    if (minsize == 20) heights <- c(heights, 2 * top)
    for (h in heights) {
      labels <- cutreeDynamic(tree, cutHeight = h, minClusterSize = minsize, method = "tree",
                              deepSplit = deep)
      stopifnot(!anyNA(labels))
      writeLines(sprintf("cut %d %d %s %d", deep, minsize,
                         if (is.null(h)) "NULL" else sprintf("%.17g", h), max(labels)), out)
      writeLines(paste(labels, collapse = " "), out)
    }
  }
}
close(out)
