"""Ward, weighted, median, average and centroid linkage on Euclidean
distances against SciPy, fastcluster and R's hclust + cutree, on R's
USArrests and iris and a planted data set with gaps; the tree without the
matrix against the tree with it."""
import shutil
import subprocess

import numpy as np
import pytest

import lopper
from conftest import missing, peer

# R's hclust call on d = dist(x) for each of lopper's methods: the median
# and centroid updates of R run on squared distances.
R_CALLS = {
    "ward": 'hclust(d, "ward.D2")',
    "weighted": 'hclust(d, "mcquitty")',
    "median": 'hclust(d^2, "median")',
    "average": 'hclust(d, "average")',
    "centroid": 'hclust(d^2, "centroid")',
}
KS = list(range(2, 9))


def rscript(code):
    exe = shutil.which("Rscript")
    if exe is None:
        missing("Rscript (r-base-core) is not installed; comparison with R skipped")
    return subprocess.run([exe, "-e", code], check=True, capture_output=True, text=True).stdout


def planted_with_gaps():
    """Four groups of 30 in 6 dimensions, one value in ten missing."""
    rng = np.random.default_rng(26)
    x = np.repeat(rng.normal(scale=4, size=(4, 6)), 30, axis=0) + rng.normal(size=(120, 6))
    x[rng.random(x.shape) < 0.1] = np.nan
    return x


@pytest.fixture(scope="session")
def data_sets(tmp_path_factory):
    """R's USArrests and iris's four measurements as R writes them, and the
    planted set with gaps."""
    folder = tmp_path_factory.mktemp("r")
    rscript(f'write.table(USArrests, "{folder}/usarrests.tsv", row.names=FALSE, col.names=FALSE); '
            f'write.table(iris[, 1:4], "{folder}/iris.tsv", row.names=FALSE, col.names=FALSE)')
    return {"usarrests": np.loadtxt(folder / "usarrests.tsv"),
            "iris": np.loadtxt(folder / "iris.tsv"), "gaps": planted_with_gaps()}


def r_cuts(tmp_path, x, methods):
    """R's cutree(hclust(...), k) for each method and k in KS."""
    path = tmp_path / "x.tsv"
    np.savetxt(path, x, fmt="%.17g")  # NaN reads as NA below
    lines = [f'x <- as.matrix(read.table("{path}", na.strings="nan")); d <- dist(x)']
    for m in methods:
        lines.append(f'h <- {R_CALLS[m]}; for (k in {KS[0]}:{KS[-1]}) '
                     f'cat("{m}", cutree(h, k), "\\n")')
    cuts = {}
    for line in rscript("\n".join(lines)).splitlines():
        method, *labels = line.split()
        cuts.setdefault(method, []).append([int(v) for v in labels])
    return {m: np.array(c).T for m, c in cuts.items()}


# iris's values have one decimal, so its distances tie often and each tool
# may merge tied pairs in another order; with the median's update that
# changes later heights, and SciPy and fastcluster differ by 0.26 there.
HEIGHT_CASES = [(name, method) for name in ("usarrests", "iris") for method in R_CALLS
                if (name, method) != ("iris", "median")]


@pytest.mark.parametrize("name, method", HEIGHT_CASES)
def test_heights_are_scipys_and_fastclusters(data_sets, name, method):
    hierarchy = peer("scipy.cluster.hierarchy")
    fastcluster = peer("fastcluster")
    x = data_sets[name]
    z = lopper.linkage(x, method=method, distance="euclidean")
    for theirs in hierarchy.linkage(x, method), fastcluster.linkage(x, method):
        np.testing.assert_allclose(np.sort(z[:, 2]), np.sort(theirs[:, 2]), rtol=1e-10,
                                   atol=1e-12)
        if name == "usarrests":  # no ties: the same merges in the same order
            np.testing.assert_allclose(z, theirs, rtol=1e-10)


@pytest.mark.parametrize("name, methods", [("usarrests", list(R_CALLS)), ("iris", list(R_CALLS)),
                                           ("gaps", ["ward", "weighted", "median", "average"])])
def test_k_cuts_are_r_cutree(tmp_path, lopper_cluster, data_sets, name, methods):
    x = data_sets[name]
    theirs = r_cuts(tmp_path, x, methods)
    for method in methods:
        ours, _ = lopper_cluster(tmp_path, x, "-m", method, "-d", "euclidean",
                                 "-k", ",".join(map(str, KS)))
        assert np.array_equal(ours, theirs[method]), method


@pytest.mark.parametrize("method", ["single", "centroid", "ward", "median"])
def test_no_matrix_is_the_matrix_route(tmp_path, lopper_cluster, data_sets, method):
    x = data_sets["usarrests"]
    distance = "euclidean" if method in ("ward", "median") else "pearson"
    z = lopper.linkage(x, method=method, distance=distance)
    alone = lopper.linkage(x, method=method, distance=distance, no_matrix=True)
    assert np.array_equal(alone[:, :2], z[:, :2])
    np.testing.assert_allclose(alone[:, 2], z[:, 2], rtol=1e-10)
    args = ["-m", method, "-d", distance, "-k", ",".join(map(str, KS))]
    assert np.array_equal(lopper_cluster(tmp_path, x, *args, "--no-matrix")[0],
                          lopper_cluster(tmp_path, x, *args)[0])


# R code that prints the tree h: its merge matrix on one line, its heights
# exactly on the next (read back by r_tree).
R_PRINT_TREE = 'cat(t(h$merge), "\\n"); cat(sprintf("%.17g", h$height), "\\n"); '


def r_tree(lines):
    """The linkage matrix of the tree R_PRINT_TREE printed on lines[0:2]."""
    merge = np.array(lines[0].split(), dtype=int).reshape(-1, 2)
    height = np.array(lines[1].split(), dtype=float)
    n = len(height) + 1
    ids = np.where(merge < 0, -merge - 1, merge + n - 1)
    sizes = np.ones(2 * n - 1)
    for i, (a, b) in enumerate(ids):
        sizes[n + i] = sizes[a] + sizes[b]
    return np.column_stack([ids, height, sizes[n:]]).astype(float)


def r_dynamic(code):
    """The lines R prints running code with dynamicTreeCut loaded."""
    out = rscript('if (!requireNamespace("dynamicTreeCut", quietly=TRUE)) cat("missing\\n") '
                  f'else {{ library(dynamicTreeCut); {code} }}')
    lines = out.splitlines()
    if lines[0] == "missing":
        missing("R's dynamicTreeCut (r-cran-dynamictreecut) is not installed")
    return lines


@pytest.mark.parametrize("name", ["iris", "gaps"])
def test_dynamic_cut_is_r_cutreedynamic(tmp_path, data_sets, name):
    x = np.nan_to_num(data_sets[name])
    path = tmp_path / "x.tsv"
    np.savetxt(path, x, fmt="%.17g")
    cases = [("tree", 0, 10), ("tree", 1, 5), ("hybrid", 1, 10), ("hybrid", 3, 8)]
    calls = "; ".join(
        f'cat(cutreeDynamic(h, minClusterSize={m}, method="{method}", deepSplit={s}, '
        f'distM=as.matrix(d), verbose=0), "\\n")' for method, s, m in cases)
    lines = r_dynamic(f'd <- dist(as.matrix(read.table("{path}"))); h <- hclust(d, "average"); '
                      + R_PRINT_TREE + calls)
    Z = r_tree(lines)
    D = np.sqrt(((x[:, None, :] - x[None, :, :]) ** 2).sum(axis=2))
    for (method, split, size), line in zip(cases, lines[2:]):
        theirs = np.array(line.split(), dtype=int)
        ours = lopper.cut_dynamic(Z, D if method == "hybrid" else None, method=method,
                                  min_size=size, deep_split=split)
        assert np.array_equal(ours, theirs), (method, split, size)


@pytest.mark.parametrize("name", ["usarrests", "iris"])
def test_height_cuts_are_r_cutree_h(data_sets, tmp_path, name):
    """cut_height on R's own tree equals R's cutree(tree, h = H), at heights
    between merges and exactly at one."""
    path = tmp_path / "x.tsv"
    np.savetxt(path, data_sets[name], fmt="%.17g")
    lines = rscript(f'h <- hclust(dist(as.matrix(read.table("{path}"))), "average"); '
                    + R_PRINT_TREE + 'for (q in c(0.5, 0.9, 0.97)) { '
                    'H <- quantile(h$height, q, type=1); cat(sprintf("%.17g", H), cutree(h, h=H), '
                    '"\\n") }').splitlines()
    Z = r_tree(lines)
    for line in lines[2:]:
        height, *labels = line.split()
        assert np.array_equal(lopper.cut_height(Z, float(height)),
                              np.array(labels, dtype=int)), height


@pytest.mark.parametrize("name", ["usarrests", "gaps"])
def test_lopper_cluster_dynamic_is_r_on_the_same_table(tmp_path, lopper_cluster, data_sets, name):
    """lopper-cluster's own tree lists its children otherwise than R's
    hclust; its dynamic cuts still equal hclust + cutreeDynamic's."""
    x = np.nan_to_num(data_sets[name])
    path = tmp_path / "x.tsv"
    np.savetxt(path, x, fmt="%.17g")
    lines = r_dynamic(f'd <- dist(as.matrix(read.table("{path}"))); h <- hclust(d, "average"); '
                      'cat(cutreeDynamic(h, minClusterSize=5, method="tree", verbose=0), "\\n"); '
                      'cat(cutreeDynamic(h, minClusterSize=5, distM=as.matrix(d), verbose=0), "\\n")')
    for method, line in zip(["tree", "hybrid"], lines):
        ours, _ = lopper_cluster(tmp_path, x, "-m", "average", "-d", "euclidean", "--dynamic",
                                 "--dynamic-method", method, "--min-size", "5")
        assert np.array_equal(ours[:, 0], np.array(line.split(), dtype=int)), method


def member_sets(Z):
    """Each row of a linkage matrix as the set of its elements."""
    n = len(Z) + 1
    sets = []
    for a, b in Z[:, :2].astype(int):
        sets.append((sets[a - n] if a >= n else frozenset([a])) |
                    (sets[b - n] if b >= n else frozenset([b])))
    return sets


def test_bootstrap_lies_within_sampling_error_of_pvclust(tmp_path):
    """pvclust on a planted table with gaps (14 items in 3 groups, 80
    features; it clusters columns): lopper's tree is R's, and each merge's
    BP and AU lie within four standard errors of the two runs (their
    resamples differ) of R's, or both runs found it in (nearly) every
    resample or none."""
    rng = np.random.default_rng(30)
    x = np.repeat(rng.normal(size=(3, 80)), [5, 5, 4], axis=0) + 1.3 * rng.normal(size=(14, 80))
    x[rng.random(x.shape) < 0.05] = np.nan
    path = tmp_path / "x.tsv"
    np.savetxt(path, x.T, fmt="%.17g")
    out = rscript('if (!requireNamespace("pvclust", quietly=TRUE)) cat("missing\\n") else {'
                  f'x <- as.matrix(read.table("{path}", na.strings="nan")); '
                  'p <- pvclust::pvclust(x, "average", "correlation", nboot=400, iseed=1, '
                  'quiet=TRUE); h <- p$hclust; ' + R_PRINT_TREE +
                  'for (f in c("au", "bp", "se.au", "se.bp")) cat(p$edges[[f]], "\\n") }')
    lines = out.splitlines()
    if lines[0] == "missing":
        missing("R's pvclust (r-cran-pvclust) is not installed")
    theirs = dict(zip(member_sets(r_tree(lines)),
                      zip(*(np.array(line.split(), dtype=float) for line in lines[2:6]))))
    ours = lopper.bootstrap(x, transpose=False, nboot=400, seed=1)
    sets = member_sets(ours.Z)
    assert set(sets) == set(theirs), "the tree differs from R's"
    for i, members in enumerate(sets):
        au, bp, se_au, se_bp = theirs[members]
        for value, se, r_value, r_se, name in [(ours.au[i], ours.se_au[i], au, se_au, "au"),
                                               (ours.bp[i], ours.se_bp[i], bp, se_bp, "bp")]:
            both_extreme = min(value, r_value) > 0.99 or max(value, r_value) < 0.01
            assert both_extreme or abs(value - r_value) <= 4 * np.hypot(se, r_se), \
                (sorted(members), name, value, r_value, se, r_se)
