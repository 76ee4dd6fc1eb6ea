# Types of the lopper module; the docstrings say shapes and meanings.
from typing import Any, Dict, Iterable, Literal, NamedTuple, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

ArrayLike = npt.ArrayLike
Distance = Literal["euclidean", "sqeuclidean", "manhattan", "cityblock", "maximum", "chebyshev",
                   "canberra", "meansquare", "meanabsolute", "pearson", "correlation",
                   "abspearson", "uncentered", "cosine", "absuncentered", "spearman", "kendall",
                   "E", "Q", "B", "M", "C", "e", "b", "c", "a", "u", "x", "s", "k"]
Method = Literal["single", "complete", "average", "centroid", "ward", "ward.D2", "weighted",
                 "mcquitty", "median", "s", "m", "a", "c", "w", "q", "d"]
Centre = Literal["mean", "median", "a", "m"]
Floats = npt.NDArray[np.float64]
Ints = npt.NDArray[np.int32]

def distance_matrix(data: ArrayLike, distance: Distance = "pearson",
                    mask: Optional[ArrayLike] = None, weights: Optional[ArrayLike] = None,
                    transpose: bool = False) -> Floats: ...
def linkage(data: Optional[ArrayLike] = None, distances: Optional[ArrayLike] = None,
            method: Method = "average", distance: Distance = "pearson",
            mask: Optional[ArrayLike] = None, weights: Optional[ArrayLike] = None,
            transpose: bool = False, no_matrix: bool = False) -> Floats: ...
def cut(Z: ArrayLike, k: int, min_size: Optional[int] = None) -> Ints: ...
def cut_height(Z: ArrayLike, h: float, min_size: Optional[int] = None) -> Ints: ...
def cut_inconsistent(Z: ArrayLike, t: float, depth: int = 2,
                     min_size: Optional[int] = None) -> Ints: ...
def cut_dynamic(Z: ArrayLike, D: Optional[ArrayLike] = None,
                method: Literal["tree", "hybrid"] = "tree", min_size: int = 20,
                deep_split: Optional[int] = None, cut_height: Optional[float] = None,
                pam: bool = True) -> Ints: ...
def cut_clade(Z: ArrayLike, t: float, rule: Literal["max", "avg", "sum", "single"] = "max",
              min_size: Optional[int] = None) -> Ints: ...
def kcluster(data: ArrayLike, k: int, method: Centre = "mean", npass: int = 10,
             seed: Optional[int] = None, distance: Distance = "pearson",
             mask: Optional[ArrayLike] = None, weights: Optional[ArrayLike] = None,
             transpose: bool = False,
             init: Literal["kmeans++", "random"] = "kmeans++") -> Tuple[Ints, float, int]: ...
def kmedoids(distances: ArrayLike, k: int, npass: int = 10,
             seed: Optional[int] = None) -> Tuple[Ints, float, int]: ...
def som(data: ArrayLike, grid: Tuple[int, int], inittau: float = 0.02, niter: int = 100000,
        seed: Optional[int] = None, distance: Distance = "pearson",
        mask: Optional[ArrayLike] = None, weights: Optional[ArrayLike] = None,
        transpose: bool = False) -> Tuple[Ints, Floats]: ...
def svd(a: ArrayLike) -> Tuple[Floats, Floats, Floats]: ...

class Bootstrap(NamedTuple):
    Z: Floats
    bp: Floats
    au: Floats
    si: Floats
    se_bp: Floats
    se_au: Floats
    se_si: Floats
    v: Floats
    c: Floats
    pchi: Floats
    counts: Ints
    scales: Floats
    nboot: int
    seed: int

class Consensus(NamedTuple):
    k: int
    consensus: Floats
    cdf: Floats
    area: float
    delta: float
    clusters: Ints
    cluster_consensus: Floats
    item_consensus: Floats

# client: a distributed.Client (Dask), typed loosely so that Dask is optional.
def bootstrap(data: ArrayLike, method: Method = "average", distance: Distance = "pearson",
              transpose: bool = False, nboot: int = 1000, scales: Optional[ArrayLike] = None,
              seed: Optional[int] = None, client: Any = None) -> Bootstrap: ...
def consensus(data: ArrayLike, k: Union[int, Iterable[int]] = ..., reps: int = 1000,
              method: Union[Method, Literal["kmeans", "kmedians", "kmedoids"]] = "average",
              distance: Distance = "pearson", transpose: bool = False, pitem: float = 0.8,
              pfeature: float = 1.0, npass: int = 1, seed: Optional[int] = None,
              client: Any = None) -> Dict[int, Consensus]: ...

__all__: list[str]
