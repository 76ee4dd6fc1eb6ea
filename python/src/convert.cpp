#include "convert.h"

#include <sys/mman.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <unordered_map>
#include <utility>

#include "names.h"

namespace lopper_python {

namespace {

// Beyond these magnitudes a weighted sum of squares over 2^31 values could
// overflow, and the library would then refuse the distances as infinite.
constexpr double kLargestValue = 1e60;
constexpr double kLargestDistance = 1e250;

std::string ShapeText(const py::array& a) {
  std::string text = "(";
  for (py::ssize_t d = 0; d < a.ndim(); d++) text += (d ? ", " : "") + std::to_string(a.shape(d));
  return text + (a.ndim() == 1 ? ",)" : ")");
}

// obj as a C-contiguous float64 array: itself when it already is one,
// otherwise one conversion. ValueError for what is not real numbers.
DoubleArray RealArray(py::handle obj, const std::string& argument) {
  py::array array;
  try {
    array = py::module_::import("numpy").attr("asarray")(obj).cast<py::array>();
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_ValueError) && !e.matches(PyExc_TypeError)) throw;
    Fail(argument, "is not an array of numbers (" + std::string(e.what()) + ")");
  }
  const char kind = array.dtype().kind();
  if (kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b')
    Fail(argument, "has dtype " + std::string(py::str(array.dtype())) + ", not real numbers");
  auto converted = DoubleArray::ensure(array);
  if (!converted) Fail(argument, "cannot be converted to float64");
  return converted;
}

// An array dimension as the library's int size.
int IntSize(py::ssize_t size, const std::string& argument) {
  if (size > INT_MAX)
    Fail(argument, "has more than " + std::to_string(INT_MAX) + " rows or columns");
  return static_cast<int>(size);
}

std::string Number(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", x);
  return text;
}

// " is x; ..." for a value that is NaN, infinite or beyond largest.
std::string OutOfRange(double x, double largest) {
  return " is " + Number(x) + "; values must be finite and within +-" + Number(largest);
}

// Fails for the first of values[0 ... count-1] that is NaN, infinite or
// beyond largest in magnitude; `where` names its position.
template <class Where>
void CheckFinite(const double* values, std::size_t count, double largest,
                 const std::string& argument, Where where) {
  for (std::size_t i = 0; i < count; i++)
    if (!(std::fabs(values[i]) <= largest))
      Fail(argument, where(i) + OutOfRange(values[i], largest));
}

// Clears m.present where `array` (same shape as the data) says missing: a
// 0 when zero_missing, otherwise anything but 0.
void ApplyMask(DataMatrix& m, py::handle array, const std::string& argument, bool zero_missing) {
  const DoubleArray a = RealArray(array, argument);
  if (a.ndim() != 2 || a.shape(0) != m.nrows || a.shape(1) != m.ncolumns)
    Fail(argument, "has shape " + ShapeText(a) + ", not the data's (" + std::to_string(m.nrows) +
                       ", " + std::to_string(m.ncolumns) + ")");
  const double* v = a.data();
  for (std::size_t i = 0; i < m.present.size(); i++)
    if ((v[i] == 0) == zero_missing) m.present[i] = 0;
}

// m.present from NaN, mask and a masked array's mask; fails for a present
// value that is not finite or too large.
void ReadPresent(DataMatrix& m, py::handle mask, py::handle masked) {
  const std::size_t ncolumns = static_cast<std::size_t>(m.ncolumns);
  m.present.assign(static_cast<std::size_t>(m.nrows) * ncolumns, 1);
  if (!mask.is_none()) ApplyMask(m, mask, "mask", true);
  if (masked) ApplyMask(m, masked, "data's mask", false);
  const double* v = m.values.data();
  for (std::size_t i = 0; i < m.present.size(); i++) {
    if (std::isnan(v[i])) m.present[i] = 0;
    if (m.present[i] && !(std::fabs(v[i]) <= kLargestValue))
      Fail("data", "the value at row " + std::to_string(i / ncolumns) + ", column " +
                       std::to_string(i % ncolumns) + OutOfRange(v[i], kLargestValue) +
                       " (a missing value is NaN or masked)");
  }
}

std::vector<double> ReadWeights(py::handle weights, const DataMatrix& m) {
  if (weights.is_none()) return std::vector<double>(static_cast<std::size_t>(m.ndata()), 1.0);
  const DoubleArray w = RealArray(weights, "weights");
  if (w.ndim() != 1 || w.shape(0) != m.ndata())
    Fail("weights", "has shape " + ShapeText(w) + "; it needs one value per " +
                        (m.transpose ? "row" : "column") + " of the data, " +
                        std::to_string(m.ndata()));
  CheckFinite(w.data(), w.size(), kLargestValue, "weights",
              [](std::size_t i) { return "weight " + std::to_string(i); });
  return std::vector<double>(w.data(), w.data() + w.size());
}

// The number of elements of a condensed vector of `length` pairs.
int CondensedSize(py::ssize_t length) {
  const auto n = static_cast<long long>(
      std::llround((1 + std::sqrt(1.0 + 8.0 * static_cast<double>(length))) / 2));
  if (n * (n - 1) / 2 != length || n > INT_MAX)
    Fail("distances", "has " + std::to_string(length) +
                          " entries, which is not n(n-1)/2 pairs for any number n of elements");
  return static_cast<int>(n);
}

// Fails for the first distance that is not finite or too large.
void CheckDistances(const DoubleArray& d) {
  CheckFinite(d.data(), d.size(), kLargestDistance, "distances",
              [](std::size_t i) { return "entry " + std::to_string(i); });
}

// Fails for an entry of the square matrix d that differs from its mirror image.
void CheckSymmetric(const double* d, std::size_t n) {
  for (std::size_t i = 0; i < n; i++)
    for (std::size_t j = 0; j < i; j++)
      if (d[i * n + j] != d[j * n + i])
        Fail("distances", "is not symmetric: entries (" + std::to_string(i) + ", " +
                              std::to_string(j) + ") and (" + std::to_string(j) + ", " +
                              std::to_string(i) + ") differ");
}

// The lower triangle of the square n x n matrix d into rows; whether all
// of it is finite and within kLargestDistance.
bool CopySquare(const double* d, std::size_t n, double* const* rows) {
  bool within = true;
  for (std::size_t i = 1; i < n; i++)
    for (std::size_t j = 0; j < i; j++) {
      rows[i][j] = d[i * n + j];
      within &= std::fabs(rows[i][j]) <= kLargestDistance;
    }
  return within;
}

// Storage for count doubles, not zeroed, freed with std::free. Large
// blocks go on huge pages where the system offers them on request:
// faulting in a matrix 4 KB at a time can cost more than filling it.
double* TriangleStorage(std::size_t count) {
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  const std::size_t bytes = (count * sizeof(double) + kHugePage - 1) / kHugePage * kHugePage;
  void* const block = std::aligned_alloc(kHugePage, bytes);
  if (!block) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  madvise(block, bytes, MADV_HUGEPAGE);  // a hint: without it, plain pages
#endif
  return static_cast<double*>(block);
}

}  // namespace

void Fail(const std::string& argument, const std::string& why) {
  throw py::value_error(argument + ": " + why);
}

char DistanceCode(const std::string& name) {
  if (const char code = lopper::CodeOf(name, lopper::kDistanceNames)) return code;
  Fail("distance", "'" + name + "' is not one of " + lopper::NameList(lopper::kDistanceNames));
}

char LinkageCode(const std::string& name) {
  if (const char code = lopper::CodeOf(name, lopper::kLinkageNames)) return code;
  Fail("method", "'" + name + "' is not one of " + lopper::NameList(lopper::kLinkageNames));
}

char CentreCode(const std::string& name) {
  if (name == "mean" || name == "a") return 'a';
  if (name == "median" || name == "m") return 'm';
  Fail("method", "'" + name + "' is not mean, median, a or m");
}

namespace {

// Each element's present dimensions as bits, 64 to a word.
std::vector<std::uint64_t> PresenceBits(const DataMatrix& m, int words) {
  std::vector<std::uint64_t> bits(static_cast<std::size_t>(m.nelements()) * words, 0);
  for (int r = 0; r < m.nrows; r++)
    for (int c = 0; c < m.ncolumns; c++)
      if (m.present[static_cast<std::size_t>(r) * m.ncolumns + c]) {
        const int e = m.transpose ? c : r, k = m.transpose ? r : c;
        bits[static_cast<std::size_t>(e) * words + k / 64] |= std::uint64_t{1} << (k % 64);
      }
  return bits;
}

}  // namespace

void CheckMeasurable(const DataMatrix& m, bool pairs) {
  const int n = m.nelements(), d = m.ndata(), words = (d + 63) / 64;
  const std::vector<std::uint64_t> bits = PresenceBits(m, words);
  std::vector<int> count(n, 0);
  for (int e = 0; e < n; e++)
    for (int w = 0; w < words; w++)
      count[e] += __builtin_popcountll(bits[static_cast<std::size_t>(e) * words + w]);
  for (int e = 0; e < n; e++)
    if (count[e] == 0) Fail("data", "element " + std::to_string(e) + " has no value; leave it out");
  if (!pairs) return;
  // Two elements with more values than there are dimensions share one.
  std::vector<int> gappy;
  for (int e = 0; e < n; e++)
    if (count[e] < d) gappy.push_back(e);
  for (std::size_t a = 0; a < gappy.size(); a++)
    for (std::size_t b = 0; b < a; b++) {
      const int i = gappy[a], j = gappy[b];
      if (count[i] + count[j] > d) continue;
      bool shared = false;
      for (int w = 0; w < words && !shared; w++)
        shared = (bits[static_cast<std::size_t>(i) * words + w] &
                  bits[static_cast<std::size_t>(j) * words + w]) != 0;
      if (!shared)
        Fail("data", "elements " + std::to_string(j) + " and " + std::to_string(i) +
                         " have no dimension where both have a value, so no distance; leave "
                         "one of them out");
    }
}

DataMatrix ReadData(py::handle data, py::handle mask, py::handle weights, bool transpose,
                    int min_elements) {
  const py::module_ ma = py::module_::import("numpy.ma");
  py::object values = py::reinterpret_borrow<py::object>(data);
  py::object masked;  // true where missing
  if (py::isinstance(data, ma.attr("MaskedArray"))) {
    values = data.attr("data");
    masked = ma.attr("getmaskarray")(data);
  }
  DataMatrix m;
  m.values = RealArray(values, "data");
  if (m.values.ndim() != 2)
    Fail("data", "must be 2-D (rows x columns), not of shape " + ShapeText(m.values));
  m.nrows = IntSize(m.values.shape(0), "data");
  m.ncolumns = IntSize(m.values.shape(1), "data");
  m.transpose = transpose ? 1 : 0;
  if (m.nelements() < min_elements || m.ndata() < 1)
    Fail("data", "has shape " + ShapeText(m.values) + "; it needs at least " +
                     std::to_string(min_elements) + " elements (" +
                     (transpose ? "columns" : "rows") + ") of at least one value");
  ReadPresent(m, mask, masked);
  m.weights = ReadWeights(weights, m);
  for (int i = 0; i < m.nrows; i++) {
    m.rows.push_back(m.values.data() + static_cast<std::size_t>(i) * m.ncolumns);
    m.mask_rows.push_back(m.present.data() + static_cast<std::size_t>(i) * m.ncolumns);
  }
#ifdef LOPPER_PYTHON_LAST_CALL
  Last().data = reinterpret_cast<std::uintptr_t>(m.values.data());
#endif
  return m;
}

DoubleArray ReadFiniteMatrix(py::handle a, const std::string& argument) {
  DoubleArray m = RealArray(a, argument);
  if (m.ndim() != 2 || m.shape(0) < 1 || m.shape(1) < 1)
    Fail(argument, "must be 2-D with at least one row and column, not of shape " + ShapeText(m));
  IntSize(m.shape(0), argument);
  IntSize(m.shape(1), argument);
  CheckFinite(m.data(), m.size(), DBL_MAX, argument,
              [](std::size_t i) { return "entry " + std::to_string(i); });
  return m;
}

LowerTriangle ReadDistances(py::handle distances, bool shared) {
  const DoubleArray d = RealArray(distances, "distances");
  LowerTriangle t;
  if (d.ndim() == 1)
    t.n = CondensedSize(d.shape(0));
  else if (d.ndim() == 2 && d.shape(0) == d.shape(1))
    t.n = IntSize(d.shape(0), "distances");
  else
    Fail("distances",
         "must be a condensed vector or a square matrix, not of shape " + ShapeText(d));
  if (t.n < 2) Fail("distances", "needs at least 2 elements");
  const bool in_place = d.ndim() == 2 && shared;
  if (in_place) t.keep = d;
  const py::gil_scoped_release release;
  const std::size_t n = t.n;
  t.rows.resize(n);
  // The caller's array is only read.
  auto* const source = const_cast<double*>(d.data());
  if (in_place) {
    CheckDistances(d);
    for (std::size_t i = 0; i < n; i++) t.rows[i] = source + i * n;
  } else {
    t.store.reset(TriangleStorage(n * (n - 1) / 2));
    for (std::size_t i = 1; i < n; i++) t.rows[i] = t.store.get() + i * (i - 1) / 2;
    const bool within = d.ndim() == 1 ? CopyCondensed(t.n, source, t.rows.data(), true)
                                      : CopySquare(source, n, t.rows.data());
    if (!within) CheckDistances(d);
  }
  if (d.ndim() == 2) CheckSymmetric(d.data(), n);
  return t;
}

bool CopyCondensed(std::ptrdiff_t n, double* condensed, double* const* lower, bool to_lower) {
  // Tiles keep both the condensed runs and the triangle's rows in cache.
  constexpr std::ptrdiff_t kTile = 64;
  bool within = true;
  for (std::ptrdiff_t j0 = 0; j0 < n; j0 += kTile)
    for (std::ptrdiff_t i0 = j0; i0 < n; i0 += kTile)
      for (std::ptrdiff_t j = j0; j < std::min(j0 + kTile, n); j++) {
        const std::ptrdiff_t run = j * n - j * (j + 1) / 2 - j - 1;  // pair (j, i) at run + i
        for (std::ptrdiff_t i = std::max(i0, j + 1); i < std::min(i0 + kTile, n); i++) {
          const double value = to_lower ? condensed[run + i] : lower[i][j];
          (to_lower ? lower[i][j] : condensed[run + i]) = value;
          within &= std::fabs(value) <= kLargestDistance;
        }
      }
  return within;
}

py::array_t<double> LinkageMatrix(int n, const lopper::Node* tree) {
  py::array_t<double> z({static_cast<py::ssize_t>(n - 1), static_cast<py::ssize_t>(4)});
  auto out = z.mutable_unchecked<2>();
  const auto id = [n](int ref) { return ref >= 0 ? ref : n + (-ref - 1); };
  const auto size = [&out](int ref) { return ref >= 0 ? 1.0 : out(-ref - 1, 3); };
  for (int i = 0; i < n - 1; i++) {
    const lopper::Node& r = tree[i];
    out(i, 0) = std::min(id(r.left), id(r.right));
    out(i, 1) = std::max(id(r.left), id(r.right));
    out(i, 2) = r.distance;
    out(i, 3) = size(r.left) + size(r.right);
  }
  return z;
}

std::vector<lopper::Node> ReadLinkage(py::handle z) {
  const DoubleArray a = RealArray(z, "Z");
  if (a.ndim() != 2 || a.shape(1) != 4)
    Fail("Z", "must be a linkage matrix of n-1 rows and 4 columns, not of shape " + ShapeText(a));
  const int records = IntSize(a.shape(0), "Z");
  if (records == INT_MAX) Fail("Z", "has too many rows");
  const int n = records + 1;
  const auto r = a.unchecked<2>();
  std::vector<lopper::Node> tree(static_cast<std::size_t>(records));
  std::vector<char> used(static_cast<std::size_t>(n) + records, 0);
  for (int i = 0; i < records; i++) {
    int refs[2];
    for (int c = 0; c < 2; c++) {
      const double id = r(i, c);
      const std::string where = "row " + std::to_string(i) + " column " + std::to_string(c);
      if (!(id >= 0 && id < n + i && id == std::floor(id)))
        Fail("Z", where + " is not an element (0 ... n-1) or an earlier row (n + row)");
      const int k = static_cast<int>(id);
      if (used[k]++) Fail("Z", where + ": " + std::to_string(k) + " is merged a second time");
      refs[c] = k < n ? k : -(k - n) - 1;
    }
    if (std::isnan(r(i, 2))) Fail("Z", "row " + std::to_string(i) + " has a NaN height");
    tree[i] = {refs[0], refs[1], r(i, 2)};
  }
  return tree;
}

py::array_t<int> NumberByFirstElement(const std::vector<int>& clusterid) {
  py::array_t<int> labels(static_cast<py::ssize_t>(clusterid.size()));
  int* out = labels.mutable_data();
  std::unordered_map<int, int> number_of;
  number_of.emplace(-1, 0);
  for (std::size_t e = 0; e < clusterid.size(); e++)
    out[e] = number_of.emplace(clusterid[e], static_cast<int>(number_of.size())).first->second;
  return labels;
}

#ifdef LOPPER_PYTHON_LAST_CALL
LastCall& Last() {
  thread_local LastCall last;
  return last;
}
#endif

}  // namespace lopper_python
