#!/usr/bin/python3
"""Times lopper-cluster against numpy.loadtxt + fastcluster.linkage on one
TSV table (n profiles of 20 normal values in 5 planted groups, seed 1):
average linkage on squared Euclidean distances, the whole command against
the whole script, each in a process of its own, alternating, best of
REPEATS. Prints seconds, peak memory, the ratios, and the size of the
distance matrix plus the table that lopper's memory is measured against.
    bench/compare_cluster_command.py [BUILD_DIR] [N] [REPEATS]   (default: build 20000 3)
Needs python3-numpy and python3-fastcluster (Debian's, /usr/bin/python3).
lopper's 'euclidean' is the mean squared difference, fastcluster's
'sqeuclidean' the sum: the trees are the same up to a factor of 20."""
import os
import random
import subprocess
import sys
import tempfile
import time

PEER = """
import sys
import numpy as np, fastcluster
x = np.loadtxt(sys.argv[1], delimiter='\\t', skiprows=1, usecols=range(1, 21))
fastcluster.linkage(x, method='average', metric='sqeuclidean')
"""


def timed(command):
    """Wall seconds of one run of command."""
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def peak_kb(command):
    """Peak resident kilobytes of one run of command, by GNU time."""
    out = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, check=True,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True).stderr
    return int(out.strip().splitlines()[-1])


def write_table(path, n):
    rng = random.Random(1)
    centres = [[rng.gauss(0, 3) for _ in range(20)] for _ in range(5)]
    with open(path, "w") as f:
        f.write("gene\t" + "\t".join(f"s{j + 1}" for j in range(20)) + "\n")
        for i in range(n):
            c = centres[i % 5]
            f.write(f"g{i + 1}\t" + "\t".join(repr(c[j] + rng.gauss(0, 1)) for j in range(20)) + "\n")


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 20000
    repeats = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    with tempfile.TemporaryDirectory() as work:
        table = os.path.join(work, "t.tsv")
        write_table(table, n)
        ours_cmd = [os.path.join(build, "lopper-cluster"), table, "-m", "average", "-d", "euclidean",
                    "-k", "5", "--linkage", os.path.join(work, "z.txt"), "--quiet"]
        peer_cmd = ["/usr/bin/python3", "-c", PEER, table]
        ours, peer = [], []
        for _ in range(repeats):
            ours.append(timed(ours_cmd))
            peer.append(timed(peer_cmd))
        ours_kb, peer_kb = peak_kb(ours_cmd), peak_kb(peer_cmd)
    matrix_mb = n * (n - 1) / 2 * 8 / 2**20
    table_mb = n * 20 * (8 + 4) / 2**20
    print(f"n {n}, 20 columns, average linkage, best of {repeats}")
    print(f"lopper-cluster {min(ours):.3f} s, loadtxt+fastcluster {min(peer):.3f} s, "
          f"ratio {min(ours) / min(peer):.2f}")
    print(f"peak lopper-cluster {ours_kb / 1024:.0f} MB, fastcluster {peer_kb / 1024:.0f} MB; "
          f"matrix + table {matrix_mb + table_mb:.0f} MB; lopper / (matrix + table) "
          f"{ours_kb / 1024 / (matrix_mb + table_mb):.2f}")


if __name__ == "__main__":
    main()
