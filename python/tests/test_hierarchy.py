"""distance_matrix, linkage and the cuts, against lopper-cluster and SciPy."""
import io

import numpy as np
import pytest

import lopper
from conftest import by_first, peer, profiles


def _ranks(x):
    return np.argsort(np.argsort(x, axis=1), axis=1).astype(float)


# lopper's measure, and the same from SciPy's pdist: 'e' and 'b' are means
# over the dimensions, the correlations 1 - r.
MEASURES = [
    ("meansquare", lambda pdist, x: pdist(x, "sqeuclidean") / x.shape[1]),
    ("euclidean", lambda pdist, x: pdist(x, "euclidean")),
    ("Q", lambda pdist, x: pdist(x, "sqeuclidean")),
    ("cityblock", lambda pdist, x: pdist(x, "cityblock")),
    ("chebyshev", lambda pdist, x: pdist(x, "chebyshev")),
    ("cosine", lambda pdist, x: pdist(x, "cosine")),
    ("b", lambda pdist, x: pdist(x, "cityblock") / x.shape[1]),
    ("pearson", lambda pdist, x: pdist(x, "correlation")),
    ("abspearson", lambda pdist, x: 1 - np.abs(1 - pdist(x, "correlation"))),
    ("uncentered", lambda pdist, x: pdist(x, "cosine")),
    ("spearman", lambda pdist, x: pdist(_ranks(x), "correlation")),
]


@pytest.mark.parametrize("distance, expected", MEASURES)
def test_distance_matrix_is_scipys_condensed_form(distance, expected):
    spatial = peer("scipy.spatial.distance")
    x = profiles(25, 7)
    d = lopper.distance_matrix(x, distance)
    np.testing.assert_allclose(d, expected(spatial.pdist, x), rtol=1e-10, atol=1e-12)
    assert spatial.squareform(d).shape == (25, 25)


@pytest.mark.parametrize("method", ["single", "complete", "average"])
def test_linkage_heights_and_partitions_match_scipy(method):
    hierarchy = peer("scipy.cluster.hierarchy")
    spatial = peer("scipy.spatial.distance")
    x = profiles(40, 5)
    z = lopper.linkage(x, method=method, distance="meansquare")
    theirs = hierarchy.linkage(spatial.pdist(x, "sqeuclidean") / 5, method)
    assert hierarchy.is_valid_linkage(z, throw=True)
    assert sorted(hierarchy.dendrogram(z, no_plot=True)["leaves"]) == list(range(40))
    np.testing.assert_allclose(np.sort(z[:, 2]), np.sort(theirs[:, 2]), rtol=1e-12)
    for k in range(1, 8):
        expected = by_first(hierarchy.fcluster(theirs, k, "maxclust"))
        assert (by_first(hierarchy.fcluster(z, k, "maxclust")) == expected).all()
        assert (lopper.cut(z, k) == expected).all()
    for h in (z[10, 2] + z[11, 2]) / 2, (z[30, 2] + z[31, 2]) / 2:
        assert (lopper.cut_height(z, h) == by_first(hierarchy.fcluster(theirs, h, "distance"))).all()
    for depth in 1, 2, 3:
        for t in np.unique(hierarchy.inconsistent(theirs, depth)[:, 3])[::7] - 1e-9:
            expected = by_first(hierarchy.fcluster(theirs, t, "inconsistent", depth))
            assert (lopper.cut_inconsistent(z, t, depth) == expected).all(), (depth, t)


@pytest.mark.parametrize("method, distance", [("s", "pearson"), ("complete", "cityblock"),
                                              ("average", "spearman"), ("centroid", "e")])
def test_linkage_and_cuts_are_lopper_clusters(tmp_path, lopper_cluster, method, distance):
    x = profiles(30, 6, seed=2, gaps=0.1)
    z = lopper.linkage(x, method=method, distance=distance)
    h = float(np.median(z[:, 2]))
    cuts, files = lopper_cluster(tmp_path, x, "-m", method, "-d", distance, "-k", "4",
                                 "--height", repr(h), "--linkage", "{Z}", files=["Z"])
    assert np.array_equal(z, np.loadtxt(io.StringIO(files["Z"])))
    assert (lopper.cut(z, 4) == cuts[:, 0]).all()
    assert (lopper.cut_height(z, h) == cuts[:, 1]).all()


@pytest.mark.parametrize("method", ["single", "complete", "average"])
def test_linkage_from_data_condensed_or_square_distances_agree(method):
    x = profiles(20, 4)
    d = lopper.distance_matrix(x, "meanabsolute")
    square = np.zeros((20, 20))
    square[np.triu_indices(20, 1)] = d
    square += square.T
    kept = d.copy(), square.copy()
    z = lopper.linkage(x, method=method, distance="b")
    assert np.array_equal(lopper.linkage(distances=d, method=method), z)
    assert np.array_equal(lopper.linkage(distances=square, method=method), z)
    assert np.array_equal(d, kept[0]) and np.array_equal(square, kept[1])  # merging works on a copy


def test_min_size_and_clade_cuts_follow_the_height_cut():
    """Ultrametric trees: a clade's largest leaf distance is twice its
    height, so the max-clade cut at t is the height cut at t / 2; min_size
    leaves the smaller clusters out as 0 and keeps the order of the rest."""
    rng = np.random.default_rng(7)
    x = np.repeat(rng.normal(scale=3, size=(5, 4)), [2, 9, 1, 12, 6], axis=0)
    x += rng.normal(size=x.shape)
    Z = lopper.linkage(x, method="average", distance="euclidean")
    for t in np.quantile(Z[:, 2], [0.2, 0.5, 0.8]) * 2 + 1e-9:
        by_height = lopper.cut_height(Z, t / 2)
        assert np.array_equal(lopper.cut_clade(Z, t, "max"), by_height)
        sizes = np.bincount(by_height)
        kept = sizes[by_height] >= 5
        expected = np.zeros_like(by_height)
        expected[kept] = by_first(by_height[kept])
        assert np.array_equal(lopper.cut_height(Z, t / 2, min_size=5), expected)
    with pytest.raises(ValueError, match="rule"):
        lopper.cut_clade(Z, 1.0, "median")
    with pytest.raises(ValueError, match="deep_split"):
        lopper.cut_dynamic(Z, deep_split=2)
    with pytest.raises(ValueError, match="D"):
        lopper.cut_dynamic(Z, method="hybrid")
