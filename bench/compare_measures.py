#!/usr/bin/python3
"""Times distancematrix against SciPy's pdist on the same data (n profiles of
20 normal values, seed 1, none missing, unit weights): best of three each,
both runs in this one command; prints seconds and lopper / SciPy.
    bench/compare_measures.py [BUILD_DIR] [SIZES...]   (default: build 1500 3000 5000)
Peers: 's' against pdist(rankdata(X, axis=1), 'correlation') with the
ranking timed; 'c' and 'a' against pdist(X, 'correlation'); 'u' and 'x'
against 'cosine'; 'e' against 'sqeuclidean', 'b' against 'cityblock'
(SciPy's sum, where lopper takes the mean). SciPy has no pairwise Kendall;
'k' is timed against the Spearman peer only for scale. Needs python3-numpy
and python3-scipy. The last rows time 'e' and 'b' with 10% of the cells
missing against the same measure without (in the scipy column)."""
import os
import subprocess
import sys
import tempfile

PEER = """
import sys, time
import numpy as np
from scipy.spatial.distance import pdist
from scipy.stats import rankdata
n = int(sys.argv[2])
x = np.fromfile(sys.argv[1], dtype=np.float64).reshape(n, 20)
runs = {
    "rank+correlation": lambda: pdist(rankdata(x, axis=1), "correlation"),
    "correlation": lambda: pdist(x, "correlation"),
    "cosine": lambda: pdist(x, "cosine"),
    "sqeuclidean": lambda: pdist(x, "sqeuclidean"),
    "cityblock": lambda: pdist(x, "cityblock"),
}
for name in sys.argv[3:]:
    best = 1e300
    for _ in range(3):
        start = time.perf_counter()
        runs[name]()
        best = min(best, time.perf_counter() - start)
    print(name, best)
"""

PEERS = {"s": "rank+correlation", "c": "correlation", "a": "correlation", "u": "cosine",
         "x": "cosine", "e": "sqeuclidean", "b": "cityblock", "k": "rank+correlation"}


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    sizes = [int(s) for s in sys.argv[2:]] or [1500, 3000, 5000]
    exe = os.path.join(build, "lopper_bench_numeric")
    codes = "scauxebkEB"
    print(f"{'code':>4} {'n':>6} {'lopper s':>9} {'scipy s':>9} {'ratio':>6}  peer")
    for n in sizes:
        with tempfile.NamedTemporaryFile(suffix=".bin") as f:
            out = subprocess.run([exe, "measures", str(n), codes, f.name], check=True,
                                 capture_output=True, text=True).stdout.split()
            ours = dict(zip(out[0::2], map(float, out[1::2])))
            names = sorted(set(PEERS.values()))
            out = subprocess.run([sys.executable, "-c", PEER, f.name, str(n)] + names, check=True,
                                 capture_output=True, text=True).stdout.split()
            peer = dict(zip(out[0::2], map(float, out[1::2])))
            for code in codes:
                if code.isupper():
                    # The peer of the measure with gaps is the same measure without.
                    theirs = ours[code.lower()]
                    print(f"{code.lower():>4} {n:>6} {ours[code]:9.4f} {theirs:9.4f} "
                          f"{ours[code] / theirs:6.2f}  lopper '{code.lower()}' without missing "
                          f"values (10% missing here)", flush=True)
                    continue
                theirs = peer[PEERS[code]]
                print(f"{code:>4} {n:>6} {ours[code]:9.4f} {theirs:9.4f} {ours[code] / theirs:6.2f}"
                      f"  {PEERS[code]}", flush=True)


if __name__ == "__main__":
    main()
