#!/usr/bin/python3
"""Times treecluster (lopper_bench_treecluster) against SciPy's linkage and
fastcluster on the same condensed distance matrices and prints the ratios.
    bench/compare_linkage.py [BUILD_DIR] [SIZES...]     (default: build 1000 2000 4000)
Needs python3-numpy, python3-scipy and python3-fastcluster. SciPy and
fastcluster take the matrix as given for every method; their centroid
linkage assumes Euclidean distances, so its row compares time only."""
import json
import os
import subprocess
import sys
import tempfile
import time

import fastcluster
import numpy as np
from scipy.cluster.hierarchy import linkage

METHODS = [("single", "single"), ("maximum", "complete"), ("average", "average"), ("centroid", "centroid")]


def best_seconds(run, repeats):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    sizes = [int(s) for s in sys.argv[2:]] or [1000, 2000, 4000]
    exe = os.path.join(build, "lopper_bench_treecluster")
    print(f"{'method':>9} {'n':>5} {'lopper s':>9} {'scipy s':>9} {'fastcl s':>9} {'/scipy':>7} {'/fastcl':>8}")
    for n in sizes:
        with tempfile.NamedTemporaryFile(suffix=".bin") as f:
            subprocess.run([exe, "--dump", str(n), f.name], check=True)
            y = np.fromfile(f.name, dtype=np.float64)
        repeats = 3 if n <= 2000 else 1
        for ours, theirs in METHODS:
            out = subprocess.run([exe, f"--benchmark_filter=^Treecluster/{ours}/{n}$", "--benchmark_format=json"],
                                 check=True, capture_output=True, text=True).stdout
            lopper_s = json.loads(out)["benchmarks"][0]["real_time"] / 1000.0
            scipy_s = best_seconds(lambda: linkage(y, theirs), repeats)
            fast_s = best_seconds(lambda: fastcluster.linkage(y, theirs), repeats)
            print(f"{ours:>9} {n:>5} {lopper_s:9.3f} {scipy_s:9.3f} {fast_s:9.3f} "
                  f"{lopper_s / scipy_s:7.1f} {lopper_s / fast_s:8.1f}", flush=True)


if __name__ == "__main__":
    main()
