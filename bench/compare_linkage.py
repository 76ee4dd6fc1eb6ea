#!/usr/bin/python3
"""Times treecluster against fastcluster and SciPy's linkage on one data set
(n profiles of 20 normal values, seed 1) whose condensed squared Euclidean
matrix is computed once by lopper and handed to all three; prints seconds,
peak memory and the ratios, then single linkage from the data alone.
    bench/compare_linkage.py [BUILD_DIR] [SIZES...]   (default: build 2000 5000 10000 20000)
Needs python3-numpy, python3-scipy and python3-fastcluster. Each run is a
process of its own, so peak memory (ru_maxrss) is that run's alone; for
lopper it includes the matrix, built in place. SciPy's and fastcluster's
centroid linkage assume Euclidean input, so that row compares time only."""
import os
import subprocess
import sys
import tempfile

PEER = """
import resource, sys, time
import numpy as np
y = np.fromfile(sys.argv[1], dtype=np.float64)
if sys.argv[2] == "fastcluster":
    import fastcluster
    run = fastcluster.linkage
else:
    from scipy.cluster.hierarchy import linkage as run
start = time.perf_counter()
run(y, sys.argv[3])
print(time.perf_counter() - start, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
"""

METHODS = [("s", "single"), ("m", "complete"), ("a", "average"), ("c", "centroid")]


def peer(path, which, method):
    out = subprocess.run([sys.executable, "-c", PEER, path, which, method], check=True,
                         capture_output=True, text=True).stdout.split()
    return float(out[0]), int(out[1])


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    sizes = [int(s) for s in sys.argv[2:]] or [2000, 5000, 10000, 20000]
    exe = os.path.join(build, "lopper_bench_numeric")
    print(f"{'m':>2} {'n':>6} {'lopper s':>9} {'fastcl s':>9} {'scipy s':>9} {'/fastcl':>8} {'/scipy':>7}"
          f" {'lopper MB':>10} {'matrix MB':>10} {'fastcl MB':>10} {'scipy MB':>9}")
    for n in sizes:
        with tempfile.NamedTemporaryFile(suffix=".bin") as f:
            subprocess.run([exe, "dump", str(n), f.name], check=True)
            for code, name in METHODS:
                out = subprocess.run([exe, "linkage", str(n), code], check=True, capture_output=True,
                                     text=True).stdout.split()
                ours, ours_kb, matrix_kb = float(out[0]), int(out[1]), int(out[2])
                fast, fast_kb = peer(f.name, "fastcluster", name)
                scipy, scipy_kb = peer(f.name, "scipy", name)
                print(f"{code:>2} {n:>6} {ours:9.3f} {fast:9.3f} {scipy:9.3f} {ours / fast:8.2f} {ours / scipy:7.2f}"
                      f" {ours_kb / 1024:10.0f} {matrix_kb / 1024:10.0f} {fast_kb / 1024:10.0f}"
                      f" {scipy_kb / 1024:9.0f}", flush=True)
    out = subprocess.run([exe, "linkage", "50000", "s-data"], check=True, capture_output=True, text=True).stdout.split()
    print(f"single linkage from the data, n = 50000: {float(out[0]):.1f} s, peak {int(out[1]) / 1024:.0f} MB")


if __name__ == "__main__":
    main()
