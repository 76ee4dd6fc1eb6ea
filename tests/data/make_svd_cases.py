#!/usr/bin/python3
"""Writes svd_cases.txt: matrices of several shapes and kinds with their
singular values from numpy.linalg.svd (sorted descending). The C++ tests
read the file; Python is needed only to regenerate it:
    tests/data/make_svd_cases.py > tests/data/svd_cases.txt
"""
import numpy as np


def orthonormal(rng, rows, cols):
    q, _ = np.linalg.qr(rng.normal(size=(rows, cols)))
    return q


def main():
    rng = np.random.default_rng(2026)
    cases = []
    for m, n in [(1, 1), (5, 1), (2, 2), (4, 4), (10, 3), (30, 30), (50, 20), (80, 80)]:
        cases.append((f"normal {m}x{n}", rng.normal(size=(m, n))))
    for m, n, low in [(20, 10, -12), (40, 40, -14)]:
        s = np.logspace(0, low, n)
        cases.append((f"ill-conditioned {m}x{n}", orthonormal(rng, m, n) @ np.diag(s) @ orthonormal(rng, n, n).T))
    for m, n, r in [(15, 8, 3), (12, 12, 1), (9, 6, 5)]:
        cases.append((f"rank {r} {m}x{n}", rng.normal(size=(m, r)) @ rng.normal(size=(r, n))))
    cases.append(("integers 6x4", rng.integers(-3, 4, size=(6, 4)).astype(float)))
    for name, a in cases:
        m, n = a.shape
        print(f"case {m} {n} {name}")
        for row in a:
            print(" ".join(repr(float(x)) for x in row))
        print("values " + " ".join(repr(float(x)) for x in np.linalg.svd(a, compute_uv=False)))
    print("end")


if __name__ == "__main__":
    main()
