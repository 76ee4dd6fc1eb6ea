#!/usr/bin/python3
"""Times lopper's svd against numpy.linalg.svd on the same matrices
(1,000 x 200, 2,000 x 200 and 2,000 x 500, normal, seed 1; best of three
each) and prints
the ratio, then times somcluster (10,000 x 50, 10 x 10 grid, 100,000 steps).
    bench/compare_svd.py [BUILD_DIR]      (default: build)
numpy runs with whatever BLAS and threads it has; lopper's svd is one thread,
working on column-major copies of its matrices."""
import os
import subprocess
import sys
import tempfile
import time

import numpy as np


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    exe = os.path.join(build, "lopper_bench_numeric")
    rng = np.random.default_rng(1)
    print(f"{'matrix':>12} {'lopper s':>9} {'numpy s':>9} {'ratio':>7}")
    for m, n in [(1000, 200), (2000, 200), (2000, 500)]:
        a = rng.normal(size=(m, n))
        with tempfile.NamedTemporaryFile(suffix=".bin") as f:
            a.tofile(f.name)
            ours = float(subprocess.run([exe, "svd", f.name, str(m), str(n)], check=True,
                                        capture_output=True, text=True).stdout)
        best = float("inf")
        for _ in range(3):
            start = time.perf_counter()
            np.linalg.svd(a, full_matrices=False)
            best = min(best, time.perf_counter() - start)
        print(f"{m:>6} x {n:<4} {ours:9.3f} {best:9.3f} {ours / best:7.2f}", flush=True)
    som = float(subprocess.run([exe, "som"], check=True, capture_output=True, text=True).stdout)
    print(f"somcluster 10000 x 50, 10 x 10 grid, 100000 iterations: {som:.3f} s")


if __name__ == "__main__":
    main()
