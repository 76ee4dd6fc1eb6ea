#!/usr/bin/env python3
"""Times opening lopper-cluster's --html page in headless Chromium against
R drawing the same heatmap and row dendrogram to a PNG.
    bench/compare_page_load.py BUILD_DIR [ROWS COLUMNS]   (default: 20000 200)
Needs BUILD_DIR/lopper-cluster, chromium, chromedriver, python3-selenium,
and Rscript (r-base-core); run it with /usr/bin/python3, Debian's.

The table: ROWS profiles of COLUMNS values in 12 planted clusters (normal
centres, unit noise), about 1% of the values missing, written with 4
decimals (seed printed). lopper-cluster clusters it once (-m average
-d euclidean -k 12) into the page and SciPy's linkage matrix. The page's
time runs from driver.get until window.lopper.ready, a fresh browser of
1200x800 per run. R reads the table and the linkage into an hclust (the
children of each merge put so that R's heatmap, which draws its first leaf
at the bottom, shows the page's rows top to bottom), then only
png(); heatmap(x, Rowv = as.dendrogram(h), Colv = NA, scale = "none");
dev.off() is timed, to a 1200x800 PNG, and whether R's rows come in the
page's order is checked. Medians of 3 runs each, and the ratio page / R.
The goals: a page at most about 3 times the gzipped table
(gzip's level 6), ready within 3 s."""
import gzip
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SEED, RUNS, CLUSTERS, MISSING = 1, 3, 12, 0.01
LOAD_GOAL, SIZE_GOAL = 3.0, 3.0

PEER = r"""
a <- commandArgs(TRUE)
x <- as.matrix(read.delim(a[1], row.names = 1, check.names = FALSE))
z <- unname(as.matrix(read.table(a[2])))
page <- scan(a[3], integer(), quiet = TRUE) + 1L       # the page's rows, top to bottom
n <- nrow(x)
m <- matrix(as.integer(ifelse(z[, 1:2] < n, -z[, 1:2] - 1, z[, 1:2] - n + 1)), ncol = 2)
pos <- integer(n); pos[rev(page)] <- seq_len(n)  # heatmap's rows, bottom to top
first <- numeric(n - 1)
for (i in seq_len(n - 1)) {                 # the child holding the lower rows first
  p <- ifelse(m[i, ] < 0, pos[pmax(-m[i, ], 1)], first[pmax(m[i, ], 1)])
  if (p[2] < p[1]) m[i, ] <- m[i, 2:1]
  first[i] <- min(p)
}
h <- structure(list(merge = m, height = z[, 3], order = rev(page), labels = rownames(x),
                    method = "average", dist.method = "euclidean"), class = "hclust")
same <- identical(order.dendrogram(as.dendrogram(h)), h$order)
draw <- function() {
  png(a[4], width = 1200, height = 800)
  heatmap(x, Rowv = as.dendrogram(h), Colv = NA, scale = "none")
  dev.off()
}
seconds <- replicate(as.integer(a[5]), system.time(draw())[["elapsed"]])
cat(same, seconds, "\n")
"""


def need():
    """Stops with a message when a tool the bench drives is missing."""
    missing = [tool for tool in ("chromium", "chromedriver", "Rscript") if not shutil.which(tool)]
    try:
        import selenium  # noqa: F401
    except ImportError:
        missing.append("python3-selenium (in /usr/bin/python3)")
    if missing:
        sys.exit("compare_page_load.py: missing " + ", ".join(missing) +
                 " (apt-get install chromium chromium-driver python3-selenium r-base-core)")


def write_table(path, rows, columns):
    """Planted clusters, ~1% missing (NA), 4 decimals; returns the number missing."""
    rng = random.Random(SEED)
    centres = [[rng.gauss(0, 2) for _ in range(columns)] for _ in range(CLUSTERS)]
    nmissing = 0
    with open(path, "w") as f:
        f.write("gene\t" + "\t".join(f"s{j}" for j in range(columns)) + "\n")
        for i in range(rows):
            centre = centres[rng.randrange(CLUSTERS)]
            cells = ["NA" if rng.random() < MISSING else f"{c + rng.gauss(0, 1):.4f}" for c in centre]
            nmissing += cells.count("NA")
            f.write(f"g{i + 1}\t" + "\t".join(cells) + "\n")
    return nmissing


def load_seconds(url):
    """Seconds from driver.get to window.lopper.ready in a fresh browser, and the rows' order."""
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    options = Options()
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1200,800"):
        options.add_argument(arg)
    driver = webdriver.Chrome(options=options)
    try:
        start = time.perf_counter()
        driver.get(url)
        while not driver.execute_script("return !!(window.lopper && window.lopper.ready)"):
            if time.perf_counter() - start > 300:
                sys.exit("compare_page_load.py: the page was not ready within 300 s")
            time.sleep(0.005)
        seconds = time.perf_counter() - start
        return seconds, driver.execute_script("return window.lopper.order")
    finally:
        driver.quit()


def runs_text(times):
    return " ".join(f"{t:.3f}" for t in times)


def main():
    if len(sys.argv) not in (2, 4):
        sys.exit(__doc__)
    need()
    build = sys.argv[1]
    rows, columns = (int(sys.argv[2]), int(sys.argv[3])) if len(sys.argv) == 4 else (20000, 200)
    with tempfile.TemporaryDirectory() as work:
        table, page = os.path.join(work, "t.tsv"), os.path.join(work, "page.html")
        linkage, order = os.path.join(work, "z.txt"), os.path.join(work, "order.txt")
        nmissing = write_table(table, rows, columns)
        with open(table, "rb") as f:
            gzipped = len(gzip.compress(f.read(), compresslevel=6))  # gzip's default level
        start = time.perf_counter()
        subprocess.run([os.path.join(build, "lopper-cluster"), table, "-m", "average",
                        "-d", "euclidean", "-k", str(CLUSTERS), "--html", page,
                        "--linkage", linkage, "--clusters", os.path.join(work, "c.tsv"), "-q"],
                       check=True)
        written = time.perf_counter() - start
        page_bytes = os.path.getsize(page)
        print(f"table {rows} x {columns}, {CLUSTERS} planted clusters, seed {SEED}, "
              f"{nmissing} values missing ({100 * nmissing / (rows * columns):.2f}%): "
              f"{os.path.getsize(table) / 2**20:.2f} MB, gzipped {gzipped / 2**20:.2f} MB")
        print(f"lopper-cluster -m average -d euclidean -k {CLUSTERS} --html --linkage: "
              f"{written:.2f} s; page {page_bytes / 2**20:.2f} MB, page / gzipped table "
              f"{page_bytes / gzipped:.2f} (goal: at most about {SIZE_GOAL:.0f})", flush=True)
        loads = []
        for _ in range(RUNS):
            seconds, rows_order = load_seconds("file://" + page)
            loads.append(seconds)
        with open(order, "w") as f:
            f.write("\n".join(map(str, rows_order)) + "\n")
        ours = statistics.median(loads)
        print(f"page until window.lopper.ready, headless Chromium 1200x800, median of {RUNS}: "
              f"{ours:.3f} s (runs {runs_text(loads)}); goal {LOAD_GOAL:.0f} s: "
              f"{'met' if ours <= LOAD_GOAL else 'missed'}", flush=True)
        r = subprocess.run(["Rscript", "-e", PEER, table, linkage, order,
                            os.path.join(work, "r.png"), str(RUNS)], capture_output=True, text=True)
        if r.returncode != 0:
            sys.exit("compare_page_load.py: R could not draw the heatmap:\n" + r.stderr)
        same, draws = r.stdout.split()[0] == "TRUE", [float(t) for t in r.stdout.split()[1:]]
        peer = statistics.median(draws)
        print(f"R heatmap(x, Rowv = as.dendrogram(h), Colv = NA, scale = \"none\") to a "
              f"1200x800 PNG, median of {RUNS}: {peer:.3f} s (runs {runs_text(draws)}); "
              f"rows in the page's order: {same}")
        print(f"lopper page load / R drawing: {ours / peer:.3f}")


if __name__ == "__main__":
    main()
