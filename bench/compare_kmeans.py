#!/usr/bin/python3
"""Times kcluster k-means ('a', squared Euclidean 'e') against scikit-learn's
KMeans(algorithm='lloyd') on the same data: N x 20 normal values around 10
planted centres (seed 1), k = 10, 10 passes / n_init 10, for both of
lopper's starts: random partitions (kcluster's own passes) and k-means++
(each pass kmeansplusplus, then kcluster npass 0, as lopper-cluster --init
kmeans++). Runs alternate, lopper random, lopper k-means++, then the peer,
each a process of its own timing only the clustering calls; prints each
run's seconds and within-cluster sum of squared errors (lopper's error is a
mean over the 20 columns, so it is multiplied by 20 to match sklearn's
inertia), then per init the medians, the ratio lopper / peer and the best
objectives with their ratio.
    bench/compare_kmeans.py [--peer-threads T] [--runs R] [BUILD_DIR] [SIZES...]
                                        (default: build 20000 5000, R 3)
Needs python3-numpy and python3-sklearn. lopper runs its random passes in
as many threads as there are cores, the k-means++ passes too (drawn in
pass order, refined one pass per thread); sklearn
runs with T threads (default: all cores). lopper's passes stop when the
total stops falling; sklearn starts from k-means++ and stops at its default
tolerance. OpenBLAS settings in the environment (OPENBLAS_CORETYPE) change
sklearn's speed; the BLAS it loaded is printed (Debian's numpy without
recommends runs on the reference libblas3)."""
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
    centres = rng.normal(scale=3.0, size=(K, COLUMNS))
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
    print(f"{'n':>6} {'run':>3} {'random s':>9} {'k-means++ s':>11} {'sklearn s':>9}"
          f" {'random SSE':>14} {'k-means++ SSE':>14} {'sklearn SSE':>14}")
    inits = ["random", "kmeans++"]
    for n in sizes:
        x = planted(n, np.random.default_rng(1))
        ours = {init: [] for init in inits}
        theirs = []
        with tempfile.NamedTemporaryFile(suffix=".bin") as f:
            x.tofile(f.name)
            for run in range(1, runs + 1):
                for init in inits:
                    out = subprocess.run([exe, "kmeans", f.name, str(n), str(COLUMNS), str(K),
                                          str(NPASS), str(run), init], check=True,
                                         capture_output=True, text=True).stdout
                    ours[init].append([float(v) for v in out.split()])
                out = subprocess.run([sys.executable, "-c", PEER, f.name, str(n), str(COLUMNS), str(K),
                                      str(NPASS), str(run), threads], check=True, capture_output=True,
                                     text=True).stdout
                theirs.append([float(v) for v in out.split()])
                r, p = ours["random"][-1], ours["kmeans++"][-1]
                print(f"{n:>6} {run:>3} {r[0]:9.3f} {p[0]:11.3f} {theirs[-1][0]:9.3f} {r[1]:14.2f}"
                      f" {p[1]:14.2f} {theirs[-1][1]:14.2f}", flush=True)
        b = statistics.median(t for t, _ in theirs)
        best = min(e for _, e in theirs)
        for init in inits:
            a = statistics.median(t for t, _ in ours[init])
            mine = min(e for _, e in ours[init])
            print(f"{n:>6} {init:>8}: median {a:.3f} s / {b:.3f} s, ratio lopper/sklearn {a / b:.2f};"
                  f" best SSE {mine:.2f} / {best:.2f}, ratio {mine / best:.5f}", flush=True)

if __name__ == "__main__":
    main()
