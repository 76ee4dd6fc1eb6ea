"""What the page's tests do when the browser or its driver is missing: skip,
or fail where the peers must be installed (LOPPER_REQUIRE_PEERS=1, as
./dev.sh test and CI set). A run that skipped ends with
LOPPER_SKIPPED_STATUS, so that ctest shows it skipped."""
import os

import pytest


def missing(reason):
    if os.environ.get("LOPPER_REQUIRE_PEERS") == "1":
        pytest.fail(f"{reason} (LOPPER_REQUIRE_PEERS=1: the peers must be installed)")
    pytest.skip(reason)


def pytest_sessionfinish(session, exitstatus):
    status = os.environ.get("LOPPER_SKIPPED_STATUS")
    skipped = session.config.pluginmanager.get_plugin("terminalreporter").stats.get("skipped")
    if status and exitstatus == 0 and skipped:
        session.exitstatus = int(status)
