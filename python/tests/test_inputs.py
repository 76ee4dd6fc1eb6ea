"""How the module takes its arguments: missing values, conversions, errors, threads."""
import concurrent.futures

import numpy as np
import pytest

import lopper
from conftest import profiles

CALLS = {
    "distance_matrix": lambda x, **kw: lopper.distance_matrix(x, "pearson", **kw),
    "linkage": lambda x, **kw: lopper.linkage(x, method="centroid", distance="e", **kw),
    "average": lambda x, **kw: lopper.linkage(x, distance="kendall", **kw),
    "kmeans": lambda x, **kw: lopper.kcluster(x, 3, seed=4, distance="b", **kw)[0],
    "kmedians": lambda x, **kw: lopper.kcluster(x, 3, method="median", seed=4, **kw)[0],
    "som": lambda x, **kw: lopper.som(x, (2, 2), niter=200, seed=4, **kw)[1],
}


@pytest.mark.parametrize("name", CALLS)
def test_nan_masked_array_and_mask_give_the_same_result(name):
    call = CALLS[name]
    x = profiles(20, 5, seed=10, gaps=0.15)
    gaps = np.isnan(x)
    filled = np.where(gaps, 1e6, x)
    expected = call(x)
    assert np.array_equal(call(filled, mask=(~gaps).astype(int)), expected)
    assert np.array_equal(call(np.ma.masked_array(filled, mask=gaps)), expected)
    assert np.array_equal(call(x.T, transpose=True), expected)
    assert not np.array_equal(call(filled), expected)  # the filler would have counted


X = profiles(10, 3)
Z = lopper.linkage(X)
EMPTY = np.vstack([X[:3], np.full((1, 3), np.nan), X[3:]])  # element 3 has no value
APART = np.vstack([[1.0, np.nan, np.nan], X[1:4], [np.nan, np.nan, 2.0]])  # 0 and 4 share none
BAD = [
    (lambda: lopper.linkage(EMPTY), ValueError, "data: element 3 has no value"),
    (lambda: lopper.linkage(APART, method="single"), ValueError,
     "data: elements 0 and 4 have no dimension where both have a value"),
    (lambda: lopper.distance_matrix(APART), ValueError, "data: elements 0 and 4 have no"),
    (lambda: lopper.kcluster(EMPTY, 2), ValueError, "data: element 3 has no value"),
    (lambda: lopper.som(EMPTY, (2, 1)), ValueError, "data: element 3 has no value"),
    # (call, exception, what the message names)
    (lambda: lopper.linkage(np.float64(1.0)), ValueError, "data: must be 2-D"),
    (lambda: lopper.linkage(X[0]), ValueError, "data: must be 2-D"),
    (lambda: lopper.linkage(X[None]), ValueError, "data: must be 2-D"),
    (lambda: lopper.linkage(np.zeros((0, 3))), ValueError, "data: has shape (0, 3)"),
    (lambda: lopper.linkage(np.zeros((4, 0))), ValueError, "data: has shape (4, 0)"),
    (lambda: lopper.linkage(X[:1]), ValueError, "at least 2 elements"),
    (lambda: lopper.linkage(X.astype(object)), ValueError, "data: has dtype object"),
    (lambda: lopper.linkage(X + 1j), ValueError, "data: has dtype complex128"),
    (lambda: lopper.linkage([["a", "b"], ["c", "d"]]), ValueError, "data: has dtype <U1"),
    (lambda: lopper.linkage([[1, 2], [3]]), ValueError, "data: is not an array of numbers"),
    (lambda: lopper.linkage(np.where(X > 1, np.inf, X)), ValueError, "data: the value at row"),
    (lambda: lopper.linkage(X * 1e100), ValueError, "within +-1e+60"),
    (lambda: lopper.linkage(X, method="ward.D"), ValueError, "method: 'ward.D' is not"),
    (lambda: lopper.linkage(X, method="median", distance="e"), ValueError,
     "method: 'median' needs distance='euclidean'"),
    (lambda: lopper.linkage(X, method="q", no_matrix=True), ValueError,
     "no_matrix: method 'q' needs the distance matrix"),
    (lambda: lopper.linkage(distances=[1.0], method="s", no_matrix=True), ValueError,
     "no_matrix: builds the tree from data"),
    (lambda: lopper.linkage(np.where(X > 1, np.nan, X), method="ward", distance="euclidean",
                            no_matrix=True), ValueError, "data: has missing values"),
    (lambda: lopper.linkage(X, distance="q"), ValueError, "distance: 'q' is not"),
    (lambda: lopper.linkage(), ValueError, "either data or distances"),
    (lambda: lopper.linkage(X, distances=[1.0]), ValueError, "either data or distances"),
    (lambda: lopper.linkage(distances=[1.0], method="c"), ValueError, "centroid linkage needs"),
    (lambda: lopper.linkage(distances=np.ones(4)), ValueError, "not n(n-1)/2"),
    (lambda: lopper.linkage(distances=np.ones((3, 4))), ValueError, "square matrix"),
    (lambda: lopper.linkage(distances=np.arange(9.0).reshape(3, 3)), ValueError, "not symmetric"),
    (lambda: lopper.linkage(distances=[1.0, np.nan, 2.0]), ValueError, "distances: entry 1 is nan"),
    (lambda: lopper.linkage(X, mask=np.ones((3, 10))), ValueError, "mask: has shape (3, 10)"),
    (lambda: lopper.linkage(X, weights=[1, 2]), ValueError, "weights: has shape (2,)"),
    (lambda: lopper.linkage(X, weights=[1, np.nan, 1]), ValueError, "weights: weight 1 is nan"),
    (lambda: lopper.kcluster(X, 0), ValueError, "k: must be from 1"),
    (lambda: lopper.kcluster(X, 11), ValueError, "k: must be from 1"),
    (lambda: lopper.kcluster(X, 2.5), TypeError, "incompatible function arguments"),
    (lambda: lopper.kcluster(X, 2, npass=0), ValueError, "npass: must be at least 1"),
    (lambda: lopper.kcluster(X, 2, seed=-1), ValueError, "seed: must be from 0"),
    (lambda: lopper.kcluster(X, 2, method="mode"), ValueError, "method: 'mode' is not"),
    (lambda: lopper.kcluster(X, 2, init="forgy"), ValueError, "init: 'forgy' is not"),
    (lambda: lopper.kmedoids(lopper.distance_matrix(X), 11), ValueError, "k: must be from 1"),
    (lambda: lopper.som(X, (0, 2)), ValueError, "grid: both sides"),
    (lambda: lopper.som(X, (2, 2), inittau=0.0), ValueError, "inittau: must be finite"),
    (lambda: lopper.cut(Z[:, :3], 2), ValueError, "Z: must be a linkage matrix"),
    (lambda: lopper.cut(np.vstack([Z[1:], Z[:1]]), 2), ValueError, "Z: row 0 column"),
    (lambda: lopper.cut(np.vstack([Z[:1], Z[:-1]]), 2), ValueError, "merged a second time"),
    (lambda: lopper.cut(Z, 0), ValueError, "k: must be from 1"),
    (lambda: lopper.cut_height(Z, np.nan), ValueError, "h: is NaN"),
    (lambda: lopper.cut_inconsistent(Z, 1.0, 0), ValueError, "depth: must be at least 1"),
    (lambda: lopper.svd(X.T), ValueError, "a: has fewer rows than columns"),
    (lambda: lopper.svd(np.full((3, 2), np.nan)), ValueError, "a: entry 0 is nan"),
]


@pytest.mark.parametrize("call, error, message", BAD, ids=[b[2] for b in BAD])
def test_bad_arguments_raise_naming_the_argument(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert message in str(raised.value)


def test_c_contiguous_float64_is_read_in_place_and_other_input_converted_once():
    last_call = getattr(lopper._lopper, "_last_call", None)
    if last_call is None:
        pytest.skip("a module built without LOPPER_PYTHON_LAST_CALL (pip's) records no calls")
    x = np.round(profiles(12, 4) * 8) / 8  # the same in float32
    expected = lopper.linkage(x)
    assert last_call()["data"] == x.ctypes.data
    for other in (np.asfortranarray(x), x.astype(np.float32),
                  np.ascontiguousarray(np.repeat(x, 2, axis=1))[:, ::2], x.tolist()):
        assert np.array_equal(lopper.linkage(other), expected)
        address = last_call()["data"]
        assert address != 0 and address != getattr(other, "ctypes", x.ctypes).data
    ints = np.arange(40).reshape(10, 4) % 7
    assert np.array_equal(lopper.linkage(ints), lopper.linkage(ints.astype(float)))


def test_four_threads_at_once_give_the_single_threads_results():
    data = [profiles(300, 20, seed=s, gaps=0.02) for s in range(4)]
    alone = [lopper.linkage(x, method="average") for x in data]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        together = list(pool.map(lambda x: lopper.linkage(x, method="average"), data * 2))
    assert all(np.array_equal(z, alone[i % 4]) for i, z in enumerate(together))
