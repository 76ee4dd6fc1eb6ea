"""Multiscale bootstrap support of a tree's merges and consensus clustering,
on one machine or spread over the workers of a Dask cluster.

Each resample is drawn from a generator seeded by (seed, resample number)
alone, so the counts of blocks of resample numbers add up to those of the
whole run: a run spread over Dask workers gives the single-machine result
bit for bit.
"""
import os
import secrets
import socket
from typing import NamedTuple

import numpy as np

from . import _lopper

# pvclust's default scales, seq(0.5, 1.4, by = 0.1), computed as R's seq
# computes them (0.5 + 2 * 0.1 is 0.7000000000000001), which the resample
# sizes floor(r * n) can tell apart.
PVCLUST_SCALES = tuple(0.5 + i * 0.1 for i in range(10))

# Blocks of resample numbers per worker: a few, so that a slow worker
# holds up the run by less than a whole share.
BLOCKS_PER_WORKER = 4

INSTALL_DISTRIBUTED = ("client= spreads the resamples over a Dask cluster and needs Dask's "
                       "distributed package: apt install python3-distributed (Debian) or "
                       "pip install distributed")


class Bootstrap(NamedTuple):
    """The result of bootstrap(); the arrays have one entry per row of Z."""
    Z: np.ndarray
    bp: np.ndarray
    au: np.ndarray
    si: np.ndarray
    se_bp: np.ndarray
    se_au: np.ndarray
    se_si: np.ndarray
    v: np.ndarray
    c: np.ndarray
    pchi: np.ndarray
    counts: np.ndarray
    scales: np.ndarray
    nboot: int
    seed: int


class Consensus(NamedTuple):
    """One k of consensus(): the n x n consensus matrix, its CDF at 0.01,
    0.02, ..., 1 and the area under it, the relative change of that area
    from the previous k (the area itself for the first), the final clusters
    (labels 1 ... k by first element), each cluster's consensus and each
    element's consensus with each cluster (n x k)."""
    k: int
    consensus: np.ndarray
    cdf: np.ndarray
    area: float
    delta: float
    clusters: np.ndarray
    cluster_consensus: np.ndarray
    item_consensus: np.ndarray


def _draw_seed(seed):
    if seed is None:
        return secrets.randbelow(2**31 - 1)
    return int(seed)


def _blocks(total, nblocks):
    """[first, last) ranges splitting 0 ... total-1 into nblocks near-equal runs."""
    edges = [total * b // nblocks for b in range(nblocks + 1)]
    return [(a, b) for a, b in zip(edges, edges[1:]) if b > a]


def _process():
    """Which process this is, among those of every host."""
    return socket.gethostname(), os.getpid()


def _in_worker_threads(client_process):
    """In a Dask worker process other than the client's, one library thread
    per call: the worker's own threads run that many blocks at once."""
    if _process() != tuple(client_process):
        _lopper._set_threads(1)


def bootstrap_block(first, last, data, Z, method, distance, transpose, scales, nboot, seed,
                    client_process):
    """(the bootstrap counts of resamples [first, last),), as a Dask task."""
    _in_worker_threads(client_process)
    return _lopper._bootstrap_counts(data, Z, method, distance, transpose, scales, nboot, seed,
                                     first, last)[:1]


def consensus_block(first, last, data, k, method, distance, transpose, npass, pitem, pfeature,
                    seed, client_process):
    """The consensus counts of resamples [first, last), as a Dask task."""
    _in_worker_threads(client_process)
    return _lopper._consensus_counts(data, k, method, distance, transpose, npass, pitem,
                                     pfeature, seed, first, last)


def _spread(client, block, data, total, arguments):
    """The arrays block returns for resamples 0 ... total-1, from the client's
    workers, summed in block order; the data sent to every worker once."""
    try:
        import distributed
    except ImportError as e:
        raise ImportError(INSTALL_DISTRIBUTED) from e
    if not isinstance(client, distributed.Client):
        raise TypeError(f"client must be a distributed.Client, not {type(client).__name__}")
    nworkers = max(1, len(client.scheduler_info()["workers"]))
    ranges = _blocks(total, BLOCKS_PER_WORKER * nworkers)
    # A key of its own: a key from the data's hash could still be on its
    # way out from a previous run of the same data.
    shared = client.scatter(data, broadcast=True, hash=False)
    futures = client.map(block, [a for a, _ in ranges], [b for _, b in ranges], data=shared,
                         client_process=_process(), pure=False, **arguments)
    results = client.gather(futures)
    summed = [np.array(part, copy=True) for part in results[0]]
    for result in results[1:]:
        for total_part, part in zip(summed, result):
            total_part += part
    return summed


def bootstrap(data, method="average", distance="pearson", transpose=False, nboot=1000,
              scales=None, seed=None, client=None):
    """Multiscale bootstrap support of each merge of the tree of `data`, as R's
    pvclust (Suzuki and Shimodaira 2006): nboot resamples of the values at each
    scale (the resample's size over the number of values; None: pvclust's
    0.5, 0.6, ..., 1.4), each clustered as the data, counting the merges whose
    cluster the resample's tree also holds; AU, BP and SI p-values fitted from
    those counts.

    data, method, distance and transpose as for linkage (the values of an
    element are resampled: its columns, or its rows with transpose=True).
    seed: 0 ... 2**31-1; None draws one, kept in the result so that a run
    can be repeated. client: a distributed.Client; the resamples are then
    spread over its workers in blocks, giving the same result bit for bit.
    Scales that give one resample size (few values) are kept once, the
    first of them, as pvclust keeps unique sizes.

    Returns a Bootstrap: Z (the linkage matrix of the data's tree, as
    linkage gives), bp, au, si, se_bp, se_au, se_si, v, c, pchi (one value
    per row of Z), counts (scales x rows of Z), scales (effective: each
    resample size over the number of values), nboot and seed.
    """
    data = np.asanyarray(data)  # one object to send, a masked array kept as such
    seed = _draw_seed(seed)
    scales = np.asarray(PVCLUST_SCALES if scales is None else scales, dtype=float)
    Z = _lopper.linkage(data, method=method, distance=distance, transpose=transpose)
    arguments = dict(Z=Z, method=method, distance=distance, transpose=transpose, scales=scales,
                     nboot=nboot, seed=seed)
    # The effective scales follow from the data's shape alone: a call of no
    # resamples gives them (and checks the arguments before any is sent).
    # Scales of one resample size are kept once, the first, as pvclust keeps
    # unique sizes: the fit needs distinct scales.
    effective = _lopper._bootstrap_counts(data, first=0, last=0, **arguments)[1]
    kept = np.sort(np.unique(effective, return_index=True)[1])
    arguments["scales"], effective = scales[kept], effective[kept]
    total = kept.size * nboot
    if client is None:
        counts = _lopper._bootstrap_counts(data, first=0, last=total, **arguments)[0]
    else:
        counts = _spread(client, bootstrap_block, data, total, arguments)[0]
    fit = _lopper._multiscale_fit(effective, counts, nboot)
    return Bootstrap(Z=Z, counts=counts, scales=effective, nboot=nboot, seed=seed,
                     **{name: fit[name] for name in
                        ("bp", "au", "si", "se_bp", "se_au", "se_si", "v", "c", "pchi")})


def consensus(data, k=range(2, 7), reps=1000, method="average", distance="pearson",
              transpose=False, pitem=0.8, pfeature=1.0, npass=1, seed=None, client=None):
    """Consensus clustering (Monti et al. 2003), as Bioconductor's
    ConsensusClusterPlus: reps resamples of floor(pitem * n) elements and
    floor(pfeature * values) values, without replacement, each clustered
    into each k by `method` (a linkage, whose tree is cut, or 'kmeans',
    'kmedians', 'kmedoids', with npass starts); the consensus of two elements
    is the share of the resamples holding both that put them together.

    k: an int or numbers of clusters. seed and client as for bootstrap.
    Returns a dict of Consensus by k, in the order given.
    """
    data = np.asanyarray(data)  # one object to send, a masked array kept as such
    seed = _draw_seed(seed)
    ks = [int(k)] if np.ndim(k) == 0 else [int(x) for x in k]
    if reps < 1:
        raise ValueError(f"reps: must be at least 1, not {reps}")
    arguments = dict(k=ks, method=method, distance=distance, transpose=transpose, npass=npass,
                     pitem=pitem, pfeature=pfeature, seed=seed)
    if client is None:
        together, sampled = _lopper._consensus_counts(data, first=0, last=reps, **arguments)
    else:
        _lopper._consensus_counts(data, first=0, last=0, **arguments)
        together, sampled = _spread(client, consensus_block, data, reps, arguments)
    per_k, delta = _lopper._consensus_finish(ks, together, sampled)
    return {one["k"]: Consensus(delta=float(d), **one) for one, d in zip(per_k, delta)}
