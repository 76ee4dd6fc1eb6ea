"""kcluster, kmedoids, som and svd, against lopper-cluster, scikit-learn and NumPy."""
import numpy as np
import pytest

import lopper
from conftest import by_first, peer, profiles


def blobs(seed=3):
    """Three well-separated groups of 20 points in 4 dimensions."""
    rng = np.random.default_rng(seed)
    centres = np.array([[0, 0, 0, 0], [8, 8, 0, 0], [0, 8, 8, 8]], dtype=float)
    return np.vstack([c + rng.normal(size=(20, 4)) for c in centres])


@pytest.mark.parametrize("method, command", [("mean", "kmeans"), ("median", "kmedians")])
def test_kcluster_is_lopper_clusters_with_the_same_seed(tmp_path, lopper_cluster, method, command):
    x = profiles(40, 5, seed=4, gaps=0.05)
    labels, error, found = lopper.kcluster(x, 4, method=method, seed=7, distance="meanabsolute")
    cuts, files = lopper_cluster(tmp_path, x, "-m", command, "-d", "b", "-k", "4", "--seed", "7",
                                 "--report", "{report}", files=["report"])
    assert (by_first(labels) == cuts[:, 0]).all()
    assert files["report"].splitlines()[1].split("\t") == ["4", repr(error), str(found)]


def test_kmedoids_is_lopper_clusters_with_the_same_seed(tmp_path, lopper_cluster):
    x = profiles(40, 5, seed=5)
    d = lopper.distance_matrix(x, "e")
    medoids, error, found = lopper.kmedoids(d, 3, seed=2)
    square = np.zeros((40, 40))
    square[np.triu_indices(40, 1)] = d
    square += square.T
    in_place = lopper.kmedoids(square, 3, seed=2)
    assert (in_place[0] == medoids).all() and in_place[1:] == (error, found)
    cuts, files = lopper_cluster(tmp_path, x, "-m", "kmedoids", "-d", "e", "-k", "3", "--seed",
                                 "2", "--report", "{report}", files=["report"])
    assert (by_first(medoids) == cuts[:, 0]).all()
    assert files["report"].splitlines()[1].split("\t") == ["3", repr(error), str(found)]
    assert set(medoids[medoids]) == set(medoids)  # each medoid is its own


def test_som_is_lopper_clusters_with_the_same_seed(tmp_path, lopper_cluster):
    """The same cells as lopper-cluster; each element's cell is the one of
    celldata nearest to it (mean squared difference over its values, the
    first in grid order), and every cell has a root mean square of 1."""
    x = profiles(30, 4, seed=6, gaps=0.05)
    cells, celldata = lopper.som(x, (3, 2), niter=500, seed=9, distance="e")
    cuts, _ = lopper_cluster(tmp_path, x, "-m", "som", "-d", "e", "--grid", "3x2", "--iterations",
                             "500", "--seed", "9")
    assert (cells == cuts).all()
    assert celldata.shape == (3, 2, 4)
    np.testing.assert_allclose(np.sqrt((celldata ** 2).mean(axis=2)), 1.0, rtol=1e-12)
    flat = celldata.reshape(6, 4)
    distances = np.nanmean((x[:, None, :] - flat[None, :, :]) ** 2, axis=2)
    nearest = np.argmin(distances, axis=1)
    assert np.array_equal(cells, np.column_stack([nearest // 2, nearest % 2]))
    assert len(np.unique(nearest)) > 1  # trained apart, not one cell for all


def test_kmeans_objective_and_partition_match_sklearn():
    cluster = peer("sklearn.cluster")
    x = blobs()
    labels, error, _ = lopper.kcluster(x, 3, distance="meansquare", npass=20, seed=1)
    theirs = cluster.KMeans(n_clusters=3, n_init=10, random_state=0).fit(x)
    # lopper's distance is the mean over the 4 dimensions: inertia / 4.
    assert error * 4 == pytest.approx(theirs.inertia_, rel=1e-10)
    assert (by_first(labels) == by_first(theirs.labels_)).all()
    centres = np.array([x[labels == c].mean(axis=0) for c in range(3)])
    assert error == pytest.approx(((x - centres[labels]) ** 2).mean(axis=1).sum(), rel=1e-12)


@pytest.mark.parametrize("shape", [(6, 6), (30, 4), (50, 1)])
def test_svd_decomposes(shape):
    a = profiles(*shape, seed=8)
    u, w, v = lopper.svd(a)
    n = shape[1]
    np.testing.assert_allclose(u @ np.diag(w) @ v.T, a, atol=1e-12)
    np.testing.assert_allclose(u.T @ u, np.eye(n), atol=1e-12)
    np.testing.assert_allclose(v.T @ v, np.eye(n), atol=1e-12)
    np.testing.assert_allclose(np.sort(w), np.sort(np.linalg.svd(a, compute_uv=False)), rtol=1e-12)


def test_default_starts_reach_sklearns_objective_on_wine():
    """Random partitions stall on the unscaled wine data (k = 2: 4545746.29
    whatever the seed); k-means++ starts reach scikit-learn's optimum."""
    datasets = peer("sklearn.datasets")
    cluster = peer("sklearn.cluster")
    x = datasets.load_wine().data
    theirs = cluster.KMeans(n_clusters=2, n_init=10, random_state=0).fit(x).inertia_
    for seed in (1, 2, 3):
        _, error, _ = lopper.kcluster(x, 2, distance="sqeuclidean", seed=seed)
        assert error == pytest.approx(theirs, rel=1e-12), f"seed {seed}"
        _, stalled, _ = lopper.kcluster(x, 2, distance="sqeuclidean", seed=seed, init="random")
        assert stalled > theirs * (1 + 1e-6), f"seed {seed}"
