#!/bin/sh
# Installs the module as a user does, with pip in a fresh virtual
# environment over Debian's setuptools and pybind11 (no index, no build
# isolation), from a copy of python/ and the library's sources, then runs
# the module's tests on the installed copy.
#   install_check.sh SOURCE_DIR WORK_DIR PYTHON
set -eu
src=$1 work=$2 python=$3
rm -rf "$work"
mkdir -p "$work/source"
cp -r "$src/python" "$work/python"
rm -rf "$work/python/build" "$work/python"/*.egg-info  # a build of earlier sources
cp -r "$src/source/cluster" "$work/source/cluster"
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install -q --no-index --no-build-isolation "$work/python"
cd "$work"
"$work/venv/bin/python" -c 'import lopper, sys; sys.exit("not the installed copy: " + lopper.__file__) if "/venv/" not in lopper.__file__ else None'
# The installed module keeps no record of its calls (that is the tests'
# build's), so the test of where its input is read from does not apply;
# the pages whose sessions test_docs runs are the repository's, not copied.
"$work/venv/bin/python" -m pytest -q -rs -p no:cacheprovider "$work/python/tests" \
  -k "not test_c_contiguous_float64_is_read_in_place and not test_the_pages_python_sessions"
