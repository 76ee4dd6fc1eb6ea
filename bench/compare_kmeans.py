#!/usr/bin/python3
"""Times kcluster k-means ('a', squared Euclidean 'e') against scikit-learn's
KMeans(algorithm='lloyd') on the same data: N x 20 normal values around 10
planted centres (seed 1), k = 10, 10 passes / n_init 10. Runs alternate,
lopper then the peer, each a process of its own timing only the clustering
call; prints each run's seconds and within-cluster sum of squared errors
(lopper's error is a mean over the 20 columns, so it is multiplied by 20 to
match sklearn's inertia), then the medians and the ratio lopper / peer.
    bench/compare_kmeans.py [--peer-threads T] [--runs R] [BUILD_DIR] [SIZES...]
                                        (default: build 20000 5000, R 3)
Needs python3-numpy and python3-sklearn. lopper is one thread; sklearn runs
with T threads (default: all cores). lopper starts each pass from a random
partition and stops when no element moves; sklearn starts from k-means++
and stops at its default tolerance. OpenBLAS settings in the environment
(OPENBLAS_CORETYPE) change sklearn's speed; the BLAS it loaded is printed
(Debian's numpy without recommends runs on the reference libblas3)."""
import os
import statistics
import subprocess
import sys
import tempfile

import numpy as np

K, NPASS, COLUMNS = 10, 10, 20

PEER = """
import sys, time
import numpy as np
from sklearn.cluster import KMeans
from threadpoolctl import threadpool_limits
path, n, m, k, ninit, seed, threads = sys.argv[1:8]
x = np.fromfile(path, dtype=np.float64).reshape(int(n), int(m))
model = KMeans(n_clusters=int(k), n_init=int(ninit), algorithm="lloyd", random_state=int(seed))
with threadpool_limits(None if threads == "all" else int(threads)):
    start = time.perf_counter()
    model.fit(x)
    seconds = time.perf_counter() - start
print(seconds, repr(model.inertia_))
"""

KERNEL = """
import os, numpy, sklearn.cluster
maps = open("/proc/self/maps").read().split()
print(" ".join(sorted({os.path.realpath(w) for w in maps if os.path.basename(w).startswith(("libblas", "libopenblas", "libmkl", "libblis"))})))
"""


def planted(n, rng):
    centres = rng.normal(scale=2.0, size=(K, COLUMNS))
    return centres[rng.integers(K, size=n)] + rng.normal(size=(n, COLUMNS))


def main():
    args = sys.argv[1:]
    threads, runs = "all", 3
    while args and args[0].startswith("--"):
        if args[0] == "--peer-threads":
            threads = args[1]
        elif args[0] == "--runs":
            runs = int(args[1])
        else:
            sys.exit(__doc__)
        args = args[2:]
    build = args[0] if args else "build"
    sizes = [int(s) for s in args[1:]] or [20000, 5000]
    exe = os.path.join(build, "lopper_bench_numeric")
    kernel = subprocess.run([sys.executable, "-c", KERNEL], check=True, capture_output=True,
                            text=True).stdout.strip()
    print(f"k {K}, {NPASS} passes / n_init {NPASS}, {COLUMNS} columns; sklearn threads {threads},"
          f" BLAS {kernel}")
    print(f"{'n':>6} {'run':>3} {'lopper s':>9} {'sklearn s':>9} {'lopper SSE':>14} {'sklearn SSE':>14}")
    for n in sizes:
        x = planted(n, np.random.default_rng(1))
        ours, theirs = [], []
        with tempfile.NamedTemporaryFile(suffix=".bin") as f:
            x.tofile(f.name)
            for run in range(1, runs + 1):
                out = subprocess.run([exe, "kmeans", f.name, str(n), str(COLUMNS), str(K), str(NPASS),
                                      str(run)], check=True, capture_output=True, text=True).stdout
                ours.append([float(v) for v in out.split()])
                out = subprocess.run([sys.executable, "-c", PEER, f.name, str(n), str(COLUMNS), str(K),
                                      str(NPASS), str(run), threads], check=True, capture_output=True,
                                     text=True).stdout
                theirs.append([float(v) for v in out.split()])
                print(f"{n:>6} {run:>3} {ours[-1][0]:9.3f} {theirs[-1][0]:9.3f} {ours[-1][1]:14.2f}"
                      f" {theirs[-1][1]:14.2f}", flush=True)
        a = statistics.median(t for t, _ in ours)
        b = statistics.median(t for t, _ in theirs)
        print(f"{n:>6} median {a:.3f} s / {b:.3f} s, ratio lopper/sklearn {a / b:.2f};"
              f" best SSE {min(e for _, e in ours):.2f} / {min(e for _, e in theirs):.2f}", flush=True)


if __name__ == "__main__":
    main()
