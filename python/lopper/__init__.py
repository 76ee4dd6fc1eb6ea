"""Clustering of measurement tables: lopper's C++ library on NumPy arrays.

distance_matrix, linkage, cut, cut_height, cut_inconsistent, cut_dynamic,
cut_clade, kcluster, kmedoids, som, svd;
see each function's docstring and help(lopper._lopper) for the conventions
shared by all of them.
"""
from ._lopper import (cut, cut_clade, cut_dynamic, cut_height, cut_inconsistent,
                      distance_matrix, kcluster, kmedoids, linkage, som, svd)

__all__ = ["distance_matrix", "linkage", "cut", "cut_height", "cut_inconsistent", "cut_dynamic",
           "cut_clade", "kcluster", "kmedoids", "som", "svd"]
