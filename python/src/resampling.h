// The resampling functions of lopper._lopper (resampling.cpp): private,
// called by the package's lopper.resampling on one machine or on the
// workers of a Dask cluster.
#ifndef LOPPER_PYTHON_RESAMPLING_H
#define LOPPER_PYTHON_RESAMPLING_H

#include <pybind11/pybind11.h>

namespace lopper_python {

// Adds _bootstrap_counts, _multiscale_fit, _consensus_counts,
// _consensus_finish and _set_threads to the module.
void AddResampling(pybind11::module_& module);

}  // namespace lopper_python

#endif
