#!/usr/bin/python3
"""Times optimalleaforder against SciPy's optimal_leaf_ordering on the same
tree and matrix: n profiles of 20 normal values (seed 1, the set of
compare_linkage.py), their Euclidean distances, and lopper's average-linkage
tree of them, handed to SciPy as a linkage matrix. Runs alternate, lopper
then SciPy, each a process of its own timing only the reordering; prints
each run's seconds and the sum of distances between neighbouring leaves of
each result, then the medians and the ratio lopper / SciPy.
    bench/compare_leaforder.py [--runs R] [BUILD_DIR] [SIZES...]
                                        (default: build 2000 1000, R 3)
Needs python3-numpy and python3-scipy. Both are one thread."""
import os
import statistics
import subprocess
import sys
import tempfile

PEER = """
import sys, time
import numpy as np
from scipy.cluster.hierarchy import leaves_list, optimal_leaf_ordering
from scipy.spatial.distance import squareform
folder, n = sys.argv[1], int(sys.argv[2])
y = np.fromfile(folder + "/y.bin", dtype=np.float64)
records = np.fromfile(folder + "/tree.bin", dtype=np.float64).reshape(n - 1, 3)
# lopper's references (element r >= 0, record -r-1) as SciPy's cluster ids.
z = np.zeros((n - 1, 4))
size = np.zeros(n - 1)
for r, (left, right, height) in enumerate(records):
    ids = [int(c) if c >= 0 else n - int(c) - 1 for c in (left, right)]
    size[r] = sum(1 if c < n else size[c - n] for c in ids)
    z[r] = ids + [height, size[r]]
start = time.perf_counter()
ordered = optimal_leaf_ordering(z, y)
seconds = time.perf_counter() - start
order = leaves_list(ordered)
d = squareform(y)
print(seconds, repr(float(d[order[:-1], order[1:]].sum())))
"""


def main():
    args = sys.argv[1:]
    runs = 3
    if args[:1] == ["--runs"]:
        runs, args = int(args[1]), args[2:]
    build = args[0] if args else "build"
    sizes = [int(s) for s in args[1:]] or [2000, 1000]
    exe = os.path.join(build, "lopper_bench_numeric")
    print(f"{'n':>6} {'run':>3} {'lopper s':>9} {'scipy s':>9} {'lopper sum':>14} {'scipy sum':>14}")
    for n in sizes:
        ours, theirs = [], []
        with tempfile.TemporaryDirectory() as folder:
            for run in range(1, runs + 1):
                out = subprocess.run([exe, "leaforder", str(n), folder], check=True,
                                     capture_output=True, text=True).stdout
                ours.append([float(v) for v in out.split()])
                out = subprocess.run([sys.executable, "-c", PEER, folder, str(n)], check=True,
                                     capture_output=True, text=True).stdout
                theirs.append([float(v) for v in out.split()])
                print(f"{n:>6} {run:>3} {ours[-1][0]:9.3f} {theirs[-1][0]:9.3f} {ours[-1][1]:14.4f}"
                      f" {theirs[-1][1]:14.4f}", flush=True)
        a = statistics.median(t for t, _ in ours)
        b = statistics.median(t for t, _ in theirs)
        print(f"{n:>6} median {a:.3f} s / {b:.3f} s, ratio lopper/scipy {a / b:.2f}", flush=True)


if __name__ == "__main__":
    main()
