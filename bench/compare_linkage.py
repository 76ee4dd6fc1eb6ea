#!/usr/bin/python3
"""Times treecluster against fastcluster (and SciPy's linkage) on one data
set, n profiles of 20 normal values (seed 1); prints seconds, peak memory
and the ratios.
    bench/compare_linkage.py [BUILD_DIR] [matrix|data|vector] [SIZES...]
  matrix (default; sizes 2000 5000 10000 20000): the condensed squared
      Euclidean matrix is computed once by lopper and handed to all three;
      single, maximum, average and centroid linkage time the call alone.
  data (sizes 4000 10000): centroid linkage from the profiles, the
      distances included: treecluster 'c' with dist 'e' against
      fastcluster.linkage(X, 'centroid').
  vector (size 100000): single linkage from the profiles without a
      distance matrix: treecluster 's' (SLINK, O(n) memory) against
      fastcluster.linkage_vector(X, 'single', 'sqeuclidean').
Needs python3-numpy, python3-scipy and python3-fastcluster. Each run is a
process of its own, so peak memory (ru_maxrss) is that run's alone; for
lopper it includes the matrix, built in place. SciPy's and fastcluster's
centroid linkage assume Euclidean input, and lopper's 'e' is the mean of
the squared differences (sqeuclidean / 20): the heights differ, so those
rows compare time and memory only."""
import os
import subprocess
import sys
import tempfile

PEER = """
import resource, sys, time
import numpy as np
which, method, mode = sys.argv[2], sys.argv[3], sys.argv[4]
y = np.fromfile(sys.argv[1], dtype=np.float64)
if mode != "matrix":
    y = y.reshape(-1, 20)
if which == "fastcluster":
    import fastcluster
    run = (lambda y, m: fastcluster.linkage_vector(y, m, "sqeuclidean")) if mode == "vector" \\
        else fastcluster.linkage
else:
    from scipy.cluster.hierarchy import linkage as run
start = time.perf_counter()
run(y, method)
print(time.perf_counter() - start, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
"""

METHODS = [("s", "single"), ("m", "complete"), ("a", "average"), ("c", "centroid")]


def peer(path, which, method, mode):
    out = subprocess.run([sys.executable, "-c", PEER, path, which, method, mode], check=True,
                         capture_output=True, text=True).stdout.split()
    return float(out[0]), int(out[1])


def lopper(exe, n, method):
    out = subprocess.run([exe, "linkage", str(n), method], check=True, capture_output=True,
                         text=True).stdout.split()
    return float(out[0]), int(out[1]), int(out[2])


def matrix(exe, sizes):
    print(f"{'m':>2} {'n':>6} {'lopper s':>9} {'fastcl s':>9} {'scipy s':>9} {'/fastcl':>8} {'/scipy':>7}"
          f" {'lopper MB':>10} {'matrix MB':>10} {'fastcl MB':>10} {'scipy MB':>9}")
    for n in sizes:
        with tempfile.NamedTemporaryFile(suffix=".bin") as f:
            subprocess.run([exe, "dump", str(n), f.name], check=True)
            for code, name in METHODS:
                ours, ours_kb, matrix_kb = lopper(exe, n, code)
                fast, fast_kb = peer(f.name, "fastcluster", name, "matrix")
                scipy, scipy_kb = peer(f.name, "scipy", name, "matrix")
                print(f"{code:>2} {n:>6} {ours:9.3f} {fast:9.3f} {scipy:9.3f} {ours / fast:8.2f} {ours / scipy:7.2f}"
                      f" {ours_kb / 1024:10.0f} {matrix_kb / 1024:10.0f} {fast_kb / 1024:10.0f}"
                      f" {scipy_kb / 1024:9.0f}", flush=True)


def from_data(exe, sizes, code, name, mode):
    print(f"{'m':>2} {'n':>7} {'lopper s':>9} {'fastcl s':>9} {'/fastcl':>8} {'lopper MB':>10} {'fastcl MB':>10}")
    for n in sizes:
        with tempfile.NamedTemporaryFile(suffix=".bin") as f:
            subprocess.run([exe, "profiles", str(n), f.name], check=True)
            ours, ours_kb, _ = lopper(exe, n, code + "-data")
            fast, fast_kb = peer(f.name, "fastcluster", name, mode)
            print(f"{code:>2} {n:>7} {ours:9.3f} {fast:9.3f} {ours / fast:8.2f}"
                  f" {ours_kb / 1024:10.0f} {fast_kb / 1024:10.0f}", flush=True)


def main():
    args = sys.argv[1:]
    build = args.pop(0) if args and args[0] not in ("matrix", "data", "vector") else "build"
    mode = args.pop(0) if args and args[0] in ("matrix", "data", "vector") else "matrix"
    sizes = [int(s) for s in args]
    exe = os.path.join(build, "lopper_bench_numeric")
    if mode == "matrix":
        matrix(exe, sizes or [2000, 5000, 10000, 20000])
    elif mode == "data":
        from_data(exe, sizes or [4000, 10000], "c", "centroid", mode)
    else:
        from_data(exe, sizes or [100000], "s", "single", mode)


if __name__ == "__main__":
    main()
