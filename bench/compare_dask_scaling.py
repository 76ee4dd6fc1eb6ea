#!/usr/bin/python3
"""lopper.bootstrap spread over a Dask LocalCluster of 1, 2 and 4 worker
processes against one machine without Dask.
    bench/compare_dask_scaling.py [BUILD_DIR] [NBOOT]     (default: build 200)
Needs the module built (cmake -DLOPPER_PYTHON=ON, or installed with pip),
python3-distributed, and R with pvclust for its lung data set (916 genes x
73 tumours), written once by Rscript.

The 73 tumours are clustered (transpose=True) by average linkage on
Pearson correlation, pvclust's defaults, with NBOOT resamples at each of
pvclust's 10 scales. Each worker has one thread, and the library runs one
thread per block there; without Dask the library threads the run itself
(one thread per core). Seconds are the best of 2 runs after one that
starts the workers' imports; each run's result is checked bit for bit
against the single-machine one. Workers beyond the cores cannot gain.
"""
import os
import subprocess
import sys
import tempfile
import time

import numpy as np


def lung():
    """pvclust's lung table, genes x tumours, NA as NaN."""
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "lung.tsv")
        subprocess.run(["Rscript", "-e", "library(pvclust); data(lung); "
                        f"write.table(lung, '{path}', sep='\\t', quote=FALSE, na='NaN')"],
                       check=True)
        return np.genfromtxt(path, delimiter="\t", skip_header=1)[:, 1:]


def best(call, repeat=2):
    times, result = [], None
    for _ in range(repeat):
        start = time.perf_counter()
        result = call()
        times.append(time.perf_counter() - start)
    return min(times), result


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    nboot = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    sys.path.insert(0, os.path.join(build, "python"))
    os.environ["PYTHONPATH"] = os.pathsep.join(
        [os.path.abspath(os.path.join(build, "python")), os.environ.get("PYTHONPATH", "")])
    import distributed
    import lopper
    x = lung()
    print(f"lopper from {lopper.__file__}; lung {x.shape[0]} genes x {x.shape[1]} tumours, "
          f"nboot {nboot} x 10 scales; {os.cpu_count()} cores")

    def run(client=None):
        return lopper.bootstrap(x, transpose=True, nboot=nboot, seed=1, client=client)

    alone, reference = best(run)
    print(f"{'workers':>8} {'seconds':>8} {'speed-up vs 1':>14} {'same bits':>10}")
    print(f"{'none':>8} {alone:8.2f} {'':>14} {'':>10}", flush=True)
    one = None
    for workers in (1, 2, 4):
        with distributed.LocalCluster(n_workers=workers, processes=True, threads_per_worker=1,
                                      dashboard_address=None) as cluster, \
                distributed.Client(cluster) as client:
            lopper.bootstrap(x, transpose=True, nboot=1, seed=1, client=client)
            seconds, result = best(lambda: run(client))
        one = one or seconds
        same = all(np.asarray(a).tobytes() == np.asarray(b).tobytes()
                   for a, b in zip(result, reference))
        print(f"{workers:>8} {seconds:8.2f} {one / seconds:14.2f} {str(same):>10}", flush=True)


if __name__ == "__main__":
    main()
