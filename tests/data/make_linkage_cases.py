#!/usr/bin/python3
"""Writes linkage_cases.txt: random data matrices with gaps, and what SciPy's
hierarchical clustering gives on their distance matrices (merge heights of
single, complete, average, weighted, Ward and median linkage, which SciPy
updates by the same formulas whatever the distances, and fcluster
'maxclust' partitions of the trees without inversions).
The C++ tests read the file; Python is needed only to regenerate it:
    tests/data/make_linkage_cases.py > tests/data/linkage_cases.txt
"""
import sys

import numpy as np
from scipy.cluster.hierarchy import fcluster, linkage

METHODS = {"s": "single", "m": "complete", "a": "average", "q": "weighted", "w": "ward",
           "d": "median"}
# maxclust cuts at a height, which undoes the highest merges only when no
# merge lies below one it contains.
MONOTONE = "smaqw"


def distances(data, mask, weight, dist):
    """Condensed matrix of the library's 'e' (weighted mean squared
    difference) or 'b' (weighted mean absolute difference) over the
    dimensions present in both elements."""
    n = len(data)
    out = []
    for i in range(n):
        for j in range(i + 1, n):
            both = mask[i] & mask[j]
            diff = data[i][both] - data[j][both]
            w = weight[both]
            terms = diff * diff if dist == "e" else np.abs(diff)
            out.append(float(np.sum(w * terms) / np.sum(w)) if w.size else 0.0)
    return np.array(out)


def main():
    out = sys.stdout
    seed = 1000
    for n, ndata, dist in [(2, 3, "e"), (3, 4, "b"), (10, 6, "e"), (57, 12, "b"),
                           (200, 12, "e"), (500, 12, "e"), (500, 8, "b")]:
        while True:
            seed += 1
            rng = np.random.default_rng(seed)
            data = rng.normal(size=(n, ndata))
            mask = rng.random((n, ndata)) > 0.1
            weight = rng.uniform(0.5, 1.5, size=ndata)
            y = distances(data, mask, weight, dist)
            trees = {code: linkage(y, method) for code, method in METHODS.items()}
            # Ties would leave the tree to each program's tie rule.
            if all(len(set(z[:, 2])) == n - 1 for z in trees.values()) and len(set(y)) == len(y):
                break
        out.write(f"case {n} {ndata} {dist} {seed}\n")
        out.write("weight " + " ".join(repr(float(w)) for w in weight) + "\n")
        for i in range(n):
            out.write(" ".join(repr(float(v)) if m else "-" for v, m in zip(data[i], mask[i])) + "\n")
        for code, z in trees.items():
            out.write(f"heights {code} " + " ".join(repr(float(h)) for h in sorted(z[:, 2])) + "\n")
            # maxclust cannot undo the lowest merge, so it never gives more
            # than n - 2 clusters.
            for k in sorted({k for k in (1, 2, 3, 7, n // 2, n - 2) if 1 <= k <= n - 2}
                            if code in MONOTONE else ()):
                labels = fcluster(z, k, "maxclust")
                out.write(f"labels {code} {k} " + " ".join(str(int(l)) for l in labels) + "\n")
    out.write("end\n")


if __name__ == "__main__":
    main()
