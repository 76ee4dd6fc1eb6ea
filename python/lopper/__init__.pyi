# Types of the lopper module; the docstrings say shapes and meanings.
from typing import Literal, Optional, Tuple, Union

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

__all__: list[str]
