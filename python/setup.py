"""Builds the lopper module: the clustering library's sources, compiled
from the repository beside this directory, and the binding."""
import glob
import os

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

HERE = os.path.dirname(os.path.abspath(__file__))
LIBRARY = os.path.relpath(os.path.join(HERE, "..", "source", "cluster"), HERE)

module = Pybind11Extension(
    "lopper._lopper",
    [os.path.relpath(p, HERE) for p in sorted(glob.glob(os.path.join(HERE, "src", "*.cpp")))]
    + sorted(os.path.join(LIBRARY, name) for name in os.listdir(os.path.join(HERE, LIBRARY))
             if name.endswith(".cpp")),
    include_dirs=[LIBRARY],
    cxx_std=17,
    # As the CMake build: results bit-identical to lopper-cluster's.
    extra_compile_args=["-ffp-contract=off"],
)

# The library's files on every processor (LOPPER_BUILD_JOBS=N for fewer).
ParallelCompile("LOPPER_BUILD_JOBS", default=0).install()

setup(
    name="lopper",
    version="0.2.0",
    description="Clustering of measurement tables: lopper's C++ library on NumPy arrays",
    packages=["lopper"],
    package_data={"lopper": ["__init__.pyi", "py.typed"]},
    ext_modules=[module],
    cmdclass={"build_ext": build_ext},
    install_requires=["numpy"],
    python_requires=">=3.9",
    zip_safe=False,
)
