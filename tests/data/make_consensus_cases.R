# Consensus clustering cases for test_consensus.cpp, from Bioconductor's
# ConsensusClusterPlus (Debian's r-bioc-consensusclusterplus):
#   Rscript tests/data/make_consensus_cases.R   (from the repository root)
# writes tests/data/consensus_planted.tsv (the planted table, items as rows)
# and consensus_iris.tsv (R's iris measurements, flowers as rows) and
# tests/data/consensus_cases.tsv: per case and k, the CDF's area, the
# delta area and the cluster consensus of each final cluster (clusters
# numbered by first item, as cutree), from two seeds, so that the spread
# between R's own runs shows the sampling error.
suppressMessages(library(ConsensusClusterPlus))
set.seed(20240530)
# 45 items in three planted groups of 15 over 40 features: each group's
# profile plus noise; ConsensusClusterPlus clusters columns.
profiles <- matrix(rnorm(3 * 40), nrow = 3)
groups <- rep(1:3, each = 15)
planted <- t(profiles[groups, ] + matrix(rnorm(45 * 40, sd = 0.8), nrow = 45))
colnames(planted) <- sprintf("item%02d", 1:45)
rownames(planted) <- sprintf("f%02d", 1:40)
write.table(cbind(item = colnames(planted), format(t(planted), digits = 17)),
            "tests/data/consensus_planted.tsv", sep = "\t", quote = FALSE, row.names = FALSE)
iris_items <- t(as.matrix(iris[, 1:4]))
colnames(iris_items) <- sprintf("flower%03d", 1:150)
write.table(cbind(item = colnames(iris_items), format(t(iris_items), digits = 17)),
            "tests/data/consensus_iris.tsv", sep = "\t", quote = FALSE, row.names = FALSE)
cases <- list(
  list(name = "planted_hc_pearson", d = planted, alg = "hc", distance = "pearson"),
  list(name = "planted_pam_pearson", d = planted, alg = "pam", distance = "pearson"),
  list(name = "iris_hc_euclidean", d = iris_items, alg = "hc", distance = "euclidean"))
rows <- c()
for (case in cases) {
  for (seed in c(1, 2)) {
    res <- ConsensusClusterPlus(case$d, maxK = 6, reps = 500, pItem = 0.8, pFeature = 1,
                                clusterAlg = case$alg, distance = case$distance,
                                innerLinkage = "average", finalLinkage = "average", seed = seed)
    areas <- sapply(2:6, function(k) {
      v <- res[[k]]$consensusMatrix[lower.tri(res[[k]]$consensusMatrix)]
      h <- hist(v, plot = FALSE, breaks = seq(0, 1, by = 0.01))
      sum(cumsum(h$counts) / sum(h$counts) * diff(h$breaks))
    })
    delta <- c(areas[1], diff(areas) / areas[-length(areas)])
    icl <- calcICL(res)$clusterConsensus
    for (k in 2:6) {
      cc <- icl[icl[, "k"] == k, "clusterConsensus"]
      rows <- c(rows, paste(case$name, seed, k, sprintf("%.6f", areas[k - 1]),
                            sprintf("%.6f", delta[k - 1]),
                            paste(sprintf("%.6f", cc), collapse = ","), sep = "\t"))
    }
  }
}
unlink("Rplots.pdf")
writeLines(c("case\tseed\tk\tarea\tdelta\tcluster_consensus", rows), "tests/data/consensus_cases.tsv")
