#!/usr/bin/python3
"""lopper.linkage against fastcluster.linkage and SciPy's linkage in one
Python process, and the binding's overhead over the library's own call.
    bench/compare_python.py [BUILD_DIR] [N]      (default: build 10000)
Needs the module built (cmake -DLOPPER_PYTHON=ON, or installed with pip),
python3-numpy, python3-scipy and python3-fastcluster.

1. From the data: the same N x 20 normal array (seed 1) to all three, by
   squared Euclidean distance (lopper's 'euclidean' is that over 20, which
   changes no merge). Seconds (best of 3) and ratios to the peers.
2. From distances: the condensed matrix of lopper_bench_numeric's data set
   (its `dump`), to lopper.linkage and to the C++ program timing treecluster
   on the same matrix (`lopper_bench_numeric linkage N M`). The overhead is
   the Python call's time over the C++ call's; the module's own split (time
   inside library routines, lopper._lopper._last_call() of the CMake-built
   module) is printed beside it, for both paths.
"""
import os
import subprocess
import sys
import tempfile
import time

import numpy as np

METHODS = ["single", "complete", "average"]


def best(call, repeat=3):
    """Smallest wall time of `repeat` calls, and the library's share of that call."""
    import lopper
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        times.append((time.perf_counter() - start, lopper._lopper._last_call()["library_seconds"]))
    return min(times)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    sys.path.insert(0, os.path.join(build, "python"))
    import fastcluster
    import lopper
    from scipy.cluster import hierarchy
    print(f"lopper from {lopper.__file__}")
    x = np.random.default_rng(1).normal(size=(n, 20))
    print(f"\nfrom the data, {n} x 20 (best of 3, seconds)")
    print(f"{'method':>9} {'lopper':>8} {'fastcl':>8} {'scipy':>8} {'/fastcl':>8} {'/scipy':>7}"
          f" {'binding':>8}")
    for method in METHODS:
        ours, library = best(lambda: lopper.linkage(x, method=method, distance="euclidean"))
        fast, _ = best(lambda: fastcluster.linkage(x, method, metric="sqeuclidean"))
        scipy, _ = best(lambda: hierarchy.linkage(x, method, metric="sqeuclidean"))
        print(f"{method:>9} {ours:8.3f} {fast:8.3f} {scipy:8.3f} {ours / fast:8.2f} {ours / scipy:7.2f}"
              f" {100 * (ours - library) / library:7.2f}%", flush=True)

    exe = os.path.join(build, "lopper_bench_numeric")
    with tempfile.NamedTemporaryFile(suffix=".bin") as f:
        subprocess.run([exe, "dump", str(n), f.name], check=True)
        y = np.fromfile(f.name, dtype=np.float64)
    print(f"\nfrom lopper_bench_numeric's condensed matrix, n = {n} (best of 3, seconds)")
    print(f"{'method':>9} {'python':>8} {'C++':>8} {'overhead':>9} {'binding':>8}")
    for method in METHODS:
        ours, library = best(lambda: lopper.linkage(distances=y, method=method))
        cpp = min(float(subprocess.run([exe, "linkage", str(n), method[0] if method != "complete"
                                        else "m"], check=True, capture_output=True,
                                       text=True).stdout.split()[0]) for _ in range(3))
        print(f"{method:>9} {ours:8.3f} {cpp:8.3f} {100 * (ours - cpp) / cpp:8.2f}%"
              f" {100 * (ours - library) / library:7.2f}%", flush=True)


if __name__ == "__main__":
    main()
