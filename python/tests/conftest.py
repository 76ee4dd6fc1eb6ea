"""Shared data sets and the lopper-cluster runner of the module's tests;
what a test does when something it compares with is missing."""
import importlib
import os
import subprocess

import numpy as np
import pytest


def missing(reason):
    """Skips the test with `reason`, or fails it where the peers must be
    installed (LOPPER_REQUIRE_PEERS=1, as ./dev.sh test and CI set)."""
    if os.environ.get("LOPPER_REQUIRE_PEERS") == "1":
        pytest.fail(f"{reason} (LOPPER_REQUIRE_PEERS=1: the peers must be installed)")
    pytest.skip(reason)


def peer(name):
    """The module `name`, or missing(): the comparison needs it installed."""
    try:
        return importlib.import_module(name)
    except ImportError:
        missing(f"{name} is not installed; comparison with it skipped")


def pytest_sessionfinish(session, exitstatus):
    """A run that passed but skipped tests ends with LOPPER_SKIPPED_STATUS
    when that is set, so that ctest reports it skipped, not passed."""
    status = os.environ.get("LOPPER_SKIPPED_STATUS")
    skipped = session.config.pluginmanager.get_plugin("terminalreporter").stats.get("skipped")
    if status and exitstatus == 0 and skipped:
        session.exitstatus = int(status)


def profiles(n=30, m=6, seed=1, gaps=0.0):
    """n x m normal values (fixed seed), a fraction `gaps` of them NaN."""
    rng = np.random.default_rng(seed)
    x = rng.normal(size=(n, m))
    x[rng.random((n, m)) < gaps] = np.nan
    return x


def by_first(labels):
    """The partition numbered 1, 2, ... by first appearance."""
    first = {}
    return np.array([first.setdefault(v, len(first) + 1) for v in np.asarray(labels).tolist()])


@pytest.fixture(scope="session")
def lopper_cluster():
    """Runs the built lopper-cluster on a data array; returns its clusters
    table (name column dropped) and the text of the files it was asked for."""
    exe = os.environ.get("LOPPER_CLUSTER", "")
    if not os.access(exe, os.X_OK):
        missing("lopper-cluster is not built here (LOPPER_CLUSTER); comparison skipped")

    def run(tmp_path, data, *args, files=()):
        table = tmp_path / "data.tsv"
        lines = ["name\t" + "\t".join(f"c{j}" for j in range(data.shape[1]))]
        for i, row in enumerate(data):
            lines.append(f"e{i}\t" + "\t".join("" if np.isnan(v) else repr(float(v)) for v in row))
        table.write_text("\n".join(lines) + "\n")
        paths = {f: str(tmp_path / f) for f in files}
        options = [a.format(**paths) for a in args]
        out = subprocess.run([exe, str(table), "-q", *options], check=True, capture_output=True,
                             text=True).stdout
        rows = [line.split("\t")[1:] for line in out.splitlines()[1:]]
        return np.array(rows, dtype=int), {f: open(p).read() for f, p in paths.items()}

    return run
