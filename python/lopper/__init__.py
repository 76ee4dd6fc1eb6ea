"""Clustering of measurement tables: lopper's C++ library on NumPy arrays.

distance_matrix, linkage, cut, cut_height, cut_inconsistent, cut_dynamic,
cut_clade, kcluster, kmedoids, som, svd; bootstrap and consensus, which
resample on one machine or over a Dask cluster (lopper.resampling);
see each function's docstring and help(lopper._lopper) for the conventions
shared by all of them.
"""
from ._lopper import (cut, cut_clade, cut_dynamic, cut_height, cut_inconsistent,
                      distance_matrix, kcluster, kmedoids, linkage, som, svd)
from .resampling import bootstrap, consensus

__all__ = ["distance_matrix", "linkage", "cut", "cut_height", "cut_inconsistent", "cut_dynamic",
           "cut_clade", "kcluster", "kmedoids", "som", "svd", "bootstrap", "consensus"]
