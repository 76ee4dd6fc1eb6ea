#!/usr/bin/python3
"""Times treecluster against fastcluster (and SciPy's linkage) on one data
set, n profiles of 20 normal values (seed 1); prints seconds, peak memory
and the ratios.
    bench/compare_linkage.py [BUILD_DIR] [MODE] [SIZES...]
  matrix (default; sizes 2000 5000 10000 20000): the condensed squared
      Euclidean matrix is computed once by lopper and handed to all three;
      single, maximum, average and centroid linkage time the call alone.
  euclidean (size 10000): the same for ward, weighted and median linkage
      on the condensed Euclidean matrix (lopper's 'E').
  data (sizes 4000 10000): centroid linkage from the profiles, the
      distances included: treecluster 'c' with dist 'e' against
      fastcluster.linkage(X, 'centroid').
  ward-data (size 20000): Ward's linkage from the profiles, distances
      included: treecluster 'w' with dist 'E' against
      fastcluster.linkage(X, 'ward').
  vector (size 100000): single linkage from the profiles without a
      distance matrix: treecluster 's' (SLINK, O(n) memory) against
      fastcluster.linkage_vector(X, 'single', 'sqeuclidean').
  ward-vector (size 100000): Ward's linkage without a matrix:
      treeclusterdata 'w' with dist 'E' against
      fastcluster.linkage_vector(X, 'ward').
Needs python3-numpy, python3-scipy and python3-fastcluster. Each run is a
process of its own, so peak memory (ru_maxrss) is that run's alone; for
lopper it includes the matrix, built in place. SciPy's and fastcluster's
centroid linkage assume Euclidean input, and lopper's 'e' is the mean of
the squared differences (sqeuclidean / 20): the heights differ, so the
centroid rows of `matrix` and `data` compare time and memory only; the
ward, weighted and median rows give the peers' trees."""
import os
import subprocess
import sys
import tempfile

PEER = """
import resource, sys, time
import numpy as np
which, method, mode, metric = sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]
y = np.fromfile(sys.argv[1], dtype=np.float64)
if mode != "matrix":
    y = y.reshape(-1, 20)
if which == "fastcluster":
    import fastcluster
    run = (lambda y, m: fastcluster.linkage_vector(y, m, metric)) if mode == "vector" \\
        else fastcluster.linkage
else:
    from scipy.cluster.hierarchy import linkage as run
start = time.perf_counter()
run(y, method)
print(time.perf_counter() - start, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
"""

METHODS = [("s", "single"), ("m", "complete"), ("a", "average"), ("c", "centroid")]
EUCLIDEAN_METHODS = [("w", "ward"), ("q", "weighted"), ("d", "median")]


def peer(path, which, method, mode, metric="euclidean"):
    out = subprocess.run([sys.executable, "-c", PEER, path, which, method, mode, metric],
                         check=True, capture_output=True, text=True).stdout.split()
    return float(out[0]), int(out[1])


def lopper(exe, n, method, dist="e"):
    out = subprocess.run([exe, "linkage", str(n), method, dist], check=True, capture_output=True,
                         text=True).stdout.split()
    return float(out[0]), int(out[1]), int(out[2])


def matrix(exe, sizes, methods=METHODS, dist="e"):
    print(f"{'m':>2} {'n':>6} {'lopper s':>9} {'fastcl s':>9} {'scipy s':>9} {'/fastcl':>8} {'/scipy':>7}"
          f" {'lopper MB':>10} {'matrix MB':>10} {'fastcl MB':>10} {'scipy MB':>9}")
    for n in sizes:
        with tempfile.NamedTemporaryFile(suffix=".bin") as f:
            subprocess.run([exe, "dump", str(n), f.name, dist], check=True)
            for code, name in methods:
                ours, ours_kb, matrix_kb = lopper(exe, n, code, dist)
                fast, fast_kb = peer(f.name, "fastcluster", name, "matrix")
                scipy, scipy_kb = peer(f.name, "scipy", name, "matrix")
                print(f"{code:>2} {n:>6} {ours:9.3f} {fast:9.3f} {scipy:9.3f} {ours / fast:8.2f} {ours / scipy:7.2f}"
                      f" {ours_kb / 1024:10.0f} {matrix_kb / 1024:10.0f} {fast_kb / 1024:10.0f}"
                      f" {scipy_kb / 1024:9.0f}", flush=True)


def from_data(exe, sizes, code, name, mode, dist, metric):
    """lopper's `code` ("c-data", "w-vector", ...) with distance `dist`
    against fastcluster's `name` on the profiles (mode "vector":
    linkage_vector with `metric`)."""
    print(f"{'m':>8} {'n':>7} {'lopper s':>9} {'fastcl s':>9} {'/fastcl':>8} {'lopper MB':>10} {'fastcl MB':>10}")
    for n in sizes:
        with tempfile.NamedTemporaryFile(suffix=".bin") as f:
            subprocess.run([exe, "profiles", str(n), f.name], check=True)
            ours, ours_kb, _ = lopper(exe, n, code, dist)
            fast, fast_kb = peer(f.name, "fastcluster", name, mode, metric)
            print(f"{code:>8} {n:>7} {ours:9.3f} {fast:9.3f} {ours / fast:8.2f}"
                  f" {ours_kb / 1024:10.0f} {fast_kb / 1024:10.0f}", flush=True)


# Each mode of the profiles: lopper's method, its distance code, fastcluster's
# method, how fastcluster runs (linkage or linkage_vector), its metric and
# the default sizes.
FROM_DATA = {
    "data": ("c-data", "e", "centroid", "data", "euclidean", [4000, 10000]),
    "ward-data": ("w-data", "E", "ward", "data", "euclidean", [20000]),
    "vector": ("s-data", "e", "single", "vector", "sqeuclidean", [100000]),
    "ward-vector": ("w-vector", "E", "ward", "vector", "euclidean", [100000]),
}
MODES = ["matrix", "euclidean", *FROM_DATA]


def main():
    args = sys.argv[1:]
    build = args.pop(0) if args and args[0] not in MODES else "build"
    mode = args.pop(0) if args and args[0] in MODES else "matrix"
    sizes = [int(s) for s in args]
    exe = os.path.join(build, "lopper_bench_numeric")
    if mode == "matrix":
        matrix(exe, sizes or [2000, 5000, 10000, 20000])
    elif mode == "euclidean":
        matrix(exe, sizes or [10000], EUCLIDEAN_METHODS, "E")
    else:
        code, dist, name, how, metric, default = FROM_DATA[mode]
        from_data(exe, sizes or default, code, name, how, dist, metric)


if __name__ == "__main__":
    main()
