// Conversions between NumPy arrays and the clustering library's matrices,
// trees and codes for the Python module. Every reader checks its argument
// and throws pybind11::value_error naming it and saying why; none of them
// crashes on an array of any shape or dtype.
#ifndef LOPPER_PYTHON_CONVERT_H
#define LOPPER_PYTHON_CONVERT_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cluster.h"

namespace lopper_python {

namespace py = pybind11;

using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
using IntArray = py::array_t<int, py::array::c_style | py::array::forcecast>;

// Throws ValueError "argument: why".
[[noreturn]] void Fail(const std::string& argument, const std::string& why);

// The distance code of a name or letter, as lopper-cluster takes them
// (names.h); ValueError otherwise.
char DistanceCode(const std::string& name);

// The treecluster method code of a linkage's name or letter, as
// lopper-cluster takes them (names.h); ValueError otherwise.
char LinkageCode(const std::string& name);

// 'a' for k-means (mean, a), 'm' for k-medians (median, m); ValueError
// otherwise.
char CentreCode(const std::string& name);

// A data matrix as the library reads it: row pointers into a C-contiguous
// float64 buffer (the caller's own array when it already is one, else one
// conversion of it), a mask of the same shape and one weight per value.
struct DataMatrix {
  DoubleArray values;  // holds the buffer the rows point into
  std::vector<const double*> rows;
  std::vector<int> present;  // nrows * ncolumns, 0 for a missing value
  std::vector<const int*> mask_rows;
  std::vector<double> weights;
  int nrows = 0;
  int ncolumns = 0;
  int transpose = 0;

  int nelements() const { return transpose ? ncolumns : nrows; }
  int ndata() const { return transpose ? nrows : ncolumns; }
};

// data: 2-D real array or numpy.ma.MaskedArray; NaN, a masked entry and a
// 0 in mask (same shape, optional) are missing. weights: ndata finite
// values or None for ones. ValueError for another shape or dtype, fewer
// than min_elements elements, an infinite or too large present value.
DataMatrix ReadData(py::handle data, py::handle mask, py::handle weights, bool transpose,
                    int min_elements);

// ValueError on `data` when an element of m has no present value, or, with
// pairs, when two elements have no dimension present in both: the library
// would measure them as identical (distance 0), which no tree can use.
void CheckMeasurable(const DataMatrix& m, bool pairs);

// a: a 2-D real array of at least one row and column, every value finite,
// as C-contiguous float64 (the array itself when it is one).
DoubleArray ReadFiniteMatrix(py::handle a, const std::string& argument);

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};

// A distance matrix as the library reads it: n rows, row i (i >= 1) with
// the i distances to elements 0 ... i-1 (row 0 unused).
struct LowerTriangle {
  DoubleArray keep;  // the caller's square matrix when rows point into it
  std::unique_ptr<double[], FreeDeleter> store;  // otherwise the triangle, row after row
  std::vector<double*> rows;
  int n = 0;
};

// distances: condensed vector in SciPy's order, or a square symmetric
// matrix, over at least two elements, finite. shared: rows may point into
// a C-contiguous float64 square matrix of the caller's (for routines that
// only read); otherwise the triangle is a private copy.
LowerTriangle ReadDistances(py::handle distances, bool shared);

// Copies between a condensed vector in SciPy's order (pairs (0,1), (0,2),
// ..., (1,2), ...) and lower-triangle rows over n elements, either way.
// Returns whether every value copied is finite and within +-1e250.
bool CopyCondensed(std::ptrdiff_t n, double* condensed, double* const* lower, bool to_lower);

// The library's tree as SciPy's linkage matrix: one row per record, the
// child ids (element e is e, record i is n+i) smaller first, the height
// and the number of elements under it.
py::array_t<double> LinkageMatrix(int n, const lopper::Node* tree);

// Z: a linkage matrix (n-1 rows of id1, id2, height, size) as the
// library's tree; ValueError when it is not one (ids that are not whole,
// out of range, referring ahead or used twice; a NaN height).
std::vector<lopper::Node> ReadLinkage(py::handle z);

// Cluster ids renumbered 1, 2, ... in the order of each cluster's first
// element, as lopper-cluster numbers them; -1 (in no cluster) becomes 0.
py::array_t<int> NumberByFirstElement(const std::vector<int>& clusterid);

#ifdef LOPPER_PYTHON_LAST_CALL
// What the last call in this thread handed the library, for the tests: the
// data buffer's address (0 without data) and the seconds spent inside
// library routines. Recorded, and read through _last_call, only in the
// tests' build of the module (CMakeLists.txt); pip's build does without.
struct LastCall {
  std::uintptr_t data = 0;
  double library_seconds = 0;
};
LastCall& Last();
#endif

}  // namespace lopper_python

#endif
