"""bootstrap and consensus: on one machine and over a Dask LocalCluster, against
SciPy's trees, lopper-cluster and hand-worked values."""
import sys

import numpy as np
import pytest

import lopper
from conftest import by_first, peer, profiles

SEED = 20240611  # every random choice of this file


def blobs(sizes=(6, 5, 7), ndata=8, seed=SEED):
    """Groups of elements far apart, each around its own random profile, so
    that every resample of them clusters into the groups."""
    rng = np.random.default_rng(seed)
    centres = rng.normal(scale=10, size=(len(sizes), ndata))
    return np.vstack([c + rng.normal(scale=0.1, size=(s, ndata)) for c, s in zip(centres, sizes)])


def same_bits(a, b):
    a, b = np.asarray(a), np.asarray(b)
    return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()


def bootstrap_run(client=None, seed=SEED, **options):
    x = profiles(14, 9, seed=2, gaps=0.05)
    return lopper.bootstrap(x, nboot=23, scales=[0.6, 0.9, 1.0, 1.3], seed=seed, client=client,
                            **options)


def consensus_run(client=None, seed=SEED, method="average"):
    return lopper.consensus(profiles(17, 6, seed=3), k=[2, 3, 4], reps=37, method=method,
                            distance="euclidean", seed=seed, client=client)


def consensus_fields(result):
    return [getattr(c, f) for c in result.values() for f in c._fields]


@pytest.fixture(scope="module")
def client():
    distributed = peer("distributed")
    with distributed.LocalCluster(n_workers=3, processes=True, threads_per_worker=1,
                                  dashboard_address=None) as cluster:
        with distributed.Client(cluster) as dask_client:
            yield dask_client


@pytest.mark.parametrize("method", ["average", "single", "centroid"])
def test_bootstrap_over_dask_is_the_single_machine_result_bit_for_bit(client, method):
    alone = bootstrap_run(method=method)
    spread = bootstrap_run(client, method=method)
    assert all(same_bits(a, b) for a, b in zip(alone, spread))


@pytest.mark.parametrize("method", ["average", "kmeans", "kmedoids"])
def test_consensus_over_dask_is_the_single_machine_result_bit_for_bit(client, method):
    alone = consensus_run(method=method)
    spread = consensus_run(client, method=method)
    assert list(alone) == list(spread) == [2, 3, 4]
    assert all(same_bits(a, b) for a, b in
               zip(consensus_fields(alone), consensus_fields(spread)))


def test_a_seed_repeats_a_run_and_another_seed_changes_it():
    first = bootstrap_run()
    assert all(same_bits(a, b) for a, b in zip(first, bootstrap_run()))
    assert not same_bits(first.counts, bootstrap_run(seed=SEED + 1).counts)
    drawn = bootstrap_run(seed=None)
    assert all(same_bits(a, b) for a, b in zip(drawn, bootstrap_run(seed=drawn.seed)))
    assert drawn.seed != bootstrap_run(seed=None).seed  # equal once in 2**31
    # Every resample's tree holds the cluster of all elements.
    assert (first.counts[:, -1] == first.nboot).all()
    assert ((first.counts >= 0) & (first.counts <= first.nboot)).all()
    one = consensus_fields(consensus_run(seed=5))
    assert all(same_bits(a, b) for a, b in zip(one, consensus_fields(consensus_run(seed=5))))
    assert not same_bits(one[1], consensus_fields(consensus_run(seed=6))[1])


def test_scales_of_one_resample_size_are_kept_once():
    x = profiles(9, 5, seed=4)  # 5 values: 0.8 and 0.9 of them both draw 4
    repeated = lopper.bootstrap(x, nboot=12, scales=[0.8, 0.9, 0.6, 1.0, 1.2], seed=2)
    distinct = lopper.bootstrap(x, nboot=12, scales=[0.8, 0.6, 1.0, 1.2], seed=2)
    assert (repeated.scales == [0.8, 0.6, 1.0, 1.2]).all()
    assert all(same_bits(a, b) for a, b in zip(repeated, distinct))


def test_transposed_data_give_the_same_bootstrap():
    x = profiles(14, 9, seed=2, gaps=0.05)
    rows = lopper.bootstrap(x, nboot=11, scales=[0.7, 1.0, 1.2], seed=3)
    columns = lopper.bootstrap(x.T.copy(), transpose=True, nboot=11, scales=[0.7, 1.0, 1.2],
                               seed=3)
    assert all(same_bits(a, b) for a, b in zip(rows, columns))


@pytest.mark.parametrize("method", ["single", "average", "complete"])
def test_the_tree_is_scipys_on_the_same_distances(method):
    hierarchy = peer("scipy.cluster.hierarchy")
    x = profiles(14, 9, seed=2)
    result = lopper.bootstrap(x, method=method, distance="euclidean", nboot=2, seed=1)
    expected = hierarchy.linkage(lopper.distance_matrix(x, "euclidean"), method)
    assert (result.Z[:, [0, 1, 3]] == expected[:, [0, 1, 3]]).all()
    np.testing.assert_allclose(result.Z[:, 2], expected[:, 2], rtol=1e-13)


def test_bootstrap_is_lopper_clusters_with_the_same_seed(tmp_path, lopper_cluster):
    x = profiles(16, 10, seed=8, gaps=0.05)
    result = lopper.bootstrap(x, method="average", distance="euclidean", nboot=40, seed=9)
    _, files = lopper_cluster(tmp_path, x, "-m", "average", "-d", "euclidean", "--bootstrap",
                              "40", "--seed", "9", "--support", "{support}", files=["support"])
    lines = [line.split("\t") for line in files["support"].splitlines()]
    table = {name: [row[i] for row in lines[1:]] for i, name in enumerate(lines[0])}
    for name in ("bp", "au", "se.bp", "se.au", "v", "c", "pchi"):
        mine = getattr(result, name.replace(".", "_"))
        assert (np.array(table[name], dtype=float) == mine).all(), name
    assert (np.array(table["height"], dtype=float) == result.Z[:, 2]).all()


def test_consensus_is_lopper_clusters_with_the_same_seed(tmp_path, lopper_cluster):
    x = profiles(18, 8, seed=10, gaps=0.05)
    result = lopper.consensus(x, k=[2, 3], reps=30, method="average", distance="euclidean",
                              seed=11)
    clusters, _ = lopper_cluster(tmp_path, x, "-m", "average", "-d", "euclidean", "-k", "2,3",
                                 "--consensus", "30", "--seed", "11")
    for column, k in [(2, 2), (3, 3)]:  # after the plain k=2 and k=3 cuts
        assert (clusters[:, column] == result[k].clusters).all(), k


def test_consensus_of_planted_groups_is_worked_by_hand():
    sizes = (6, 5, 7)
    planted = np.repeat([1, 2, 3], sizes)
    n = planted.size
    result = lopper.consensus(blobs(sizes), k=[3, 2], reps=30, distance="euclidean", seed=4)
    three = result[3]
    together = planted[:, None] == planted[None, :]
    assert (three.consensus == together).all()
    assert (three.clusters == planted).all()
    assert (three.cluster_consensus == 1).all()
    assert (three.item_consensus == np.eye(3)[planted - 1]).all()
    # Pairs apart are 0, in the CDF from the first break on; those together 1.
    pairs_apart = (n * (n - 1) // 2 - sum(s * (s - 1) // 2 for s in sizes)) / (n * (n - 1) // 2)
    np.testing.assert_allclose(three.cdf, [pairs_apart] * 99 + [1], rtol=1e-15)
    np.testing.assert_allclose(three.area, pairs_apart * 0.99 + 0.01, rtol=1e-12)
    two = result[2]
    assert three.delta == pytest.approx((three.area - two.area) / two.area, rel=1e-12)
    assert two.delta == two.area
    assert len(set(zip(by_first(two.clusters), planted))) == 3  # two groups joined whole


def test_final_clusters_are_cut_as_the_module_cuts_the_consensus_tree():
    # Consensus values tie often, and SciPy breaks ties its own way: the
    # module's linkage on the same matrix is the comparison that holds.
    result = lopper.consensus(profiles(20, 6, seed=11), k=[2, 3, 4, 5], reps=25, seed=12)
    for k, c in result.items():
        assert (c.consensus == c.consensus.T).all() and (np.diag(c.consensus) == 1).all()
        tree = lopper.linkage(distances=1 - c.consensus, method="average")
        assert (lopper.cut(tree, k) == c.clusters).all(), k


def test_a_client_without_distributed_says_how_to_install_it(monkeypatch):
    monkeypatch.setitem(sys.modules, "distributed", None)
    for run in (lambda: bootstrap_run(client=object()),
                lambda: consensus_run(client=object())):
        with pytest.raises(ImportError, match="apt install python3-distributed.*pip install "
                                              "distributed"):
            run()
