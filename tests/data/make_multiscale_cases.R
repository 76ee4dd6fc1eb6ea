# Writes multiscale_cases.txt: pvclust's multiscale bootstrap fit (pvclust
# 2.2.0) of bootstrap counts, and R's qnorm, for test_multiscale.cpp.
#   Rscript tests/data/make_multiscale_cases.R > tests/data/multiscale_cases.txt
# Lines:
#   fit name nboot nscales scales... counts... si au bp se_si se_au se_bp v c pchi used
#   qnorm p quantile
# The first fits are every merge of two small pvclust runs, as pvclust reports
# them (p$edges from p$count, p$r, p$nboot); the rest are hand-made counts
# given to pvclust's msfit as pvclust.merge gives them (count / nboot).
suppressPackageStartupMessages(library(pvclust))
g <- function(x) sprintf("%.17g", x)
# used: the scales msfit keeps (its `use`, which it returns only after a fit).
fitline <- function(name, nboot, r, counts, e) {
  bp <- counts / nboot
  cat("fit", name, nboot, length(r), g(r), counts,
      g(c(e$si, e$au, e$bp, e$se.si, e$se.au, e$se.bp, e$v, e$c, e$pchi)),
      sum(bp > 0.001 & bp < 1 - 0.001), "\n")
}
run <- function(name, data, nboot, r, seed) {
  p <- pvclust(data, nboot = nboot, r = r, iseed = seed, quiet = TRUE)
  for (i in seq_len(nrow(p$edges)))
    fitline(sprintf("%s.%d", name, i), p$nboot[1], unlist(p$r),
            as.integer(unlist(p$count[i, ])), p$edges[i, ])
}
# 11 values per car: default scales 0.5 ... 1.4 become 5/11 ... 15/11.
run("mtcars", t(mtcars), 100, seq(0.5, 1.4, by = 0.1), 20240611)
# 4 values per state: r = 0.5, 0.75, 1, 1.25 exactly.
run("usarrests", t(USArrests), 1000, c(0.5, 0.75, 1, 1.25), 271828)

direct <- function(name, nboot, r, counts) {
  m <- pvclust:::msfit(counts / nboot, r, nboot)
  e <- list(si = m$p[["si"]], au = m$p[["au"]], bp = m$p[["bp"]], se.si = m$se[["si"]],
            se.au = m$se[["au"]], se.bp = m$se[["bp"]], v = m$coef[["v"]], c = m$coef[["c"]],
            pchi = m$pchi)
  fitline(name, nboot, r, counts, e)
}
r10 <- seq(0.5, 1.4, by = 0.1)
direct("typical", 1000, r10, c(412, 455, 498, 530, 561, 590, 622, 640, 668, 690))
direct("rising", 100, r10, c(5, 12, 20, 31, 40, 52, 60, 66, 75, 79))
direct("zeros_and_all", 1000, r10, c(0, 0, 3, 40, 150, 380, 620, 870, 1000, 1000))
direct("all_nboot", 1000, r10, rep(1000, 10))
direct("all_zero", 100, r10, rep(0, 10))
direct("nearly_zero", 1000, r10, c(0, 0, 0, 0, 2, 3, 5, 8, 11, 15))
direct("nearly_all", 1000, r10, c(985, 990, 992, 995, 996, 997, 998, 998, 999, 1000))
# 1/1000 and 999/1000 sit on the limits and are left out.
direct("on_limits", 1000, r10, c(1, 1, 2, 4, 9, 20, 40, 80, 999, 999))
direct("three_usable", 100, r10, c(0, 0, 0, 0, 0, 0, 0, 10, 30, 50))
direct("two_usable_low", 100, r10, c(0, 0, 0, 0, 0, 0, 0, 0, 30, 70))
direct("two_usable_high", 100, r10, c(100, 100, 100, 100, 100, 100, 100, 100, 30, 70))
direct("half_and_half", 100, c(0.5, 0.75, 1, 1.25), c(0, 0, 100, 100))
direct("one_scale", 1000, 1, 640)
direct("bad_fit", 100, r10, c(90, 10, 85, 15, 80, 20, 75, 25, 70, 30))
direct("tight_scales", 10000, c(0.9, 0.95, 1, 1.05, 1.1), c(3000, 3150, 3300, 3420, 3560))
direct("nboot10000", 10000, c(0.5, 0.75, 1, 1.25), c(9321, 8890, 8312, 7705))

for (p in c(1e-300, 1e-100, 1e-20, 1e-10, 1e-5, 0.001, 0.02425, 0.025, 0.1, 0.3, 0.425,
            0.45, 0.5, 0.55, 0.575, 0.7, 0.9, 0.975, 0.999, 1 - 1e-10, 1 - 1e-16))
  cat("qnorm", g(p), g(qnorm(p)), "\n")
