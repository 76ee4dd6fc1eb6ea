"""The Python sessions of the README and docs/python.md run as doctests
from the repository root, so that the pages show what the module prints."""
import doctest
import os
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


@pytest.mark.parametrize("page, least", [("README.md", 4), ("docs/python.md", 10)])
def test_the_pages_python_sessions_print_what_they_show(page, least):
    here = os.getcwd()
    os.chdir(ROOT)  # the sessions read examples/ as a user's would
    try:
        result = doctest.testfile(str(ROOT / page), module_relative=False,
                                  optionflags=doctest.NORMALIZE_WHITESPACE)
    finally:
        os.chdir(here)
    assert result.attempted >= least and result.failed == 0, result
