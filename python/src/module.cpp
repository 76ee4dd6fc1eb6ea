// The Python module lopper._lopper: the clustering library on NumPy arrays.
// Arguments are read and checked with the GIL held; every library routine
// then runs with it released, so that calls from several threads overlap
// (the library allows that when no two calls share an output).
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

#include "convert.h"
#include "docstrings.h"
#include "names.h"
#include "resampling.h"

namespace lopper_python {

namespace {

#ifdef LOPPER_PYTHON_LAST_CALL
// Runs a stretch of library work with the GIL released, adding its time to
// the thread's LastCall.
template <class Work>
void WithoutGil(Work&& work) {
  LastCall& last = Last();
  const py::gil_scoped_release release;
  const auto start = std::chrono::steady_clock::now();
  work();
  last.library_seconds +=
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Each call starts a new LastCall.
struct NewCall {
  NewCall() { Last() = LastCall{}; }
};
using CallGuard = py::call_guard<NewCall>;
#else
// Runs a stretch of library work with the GIL released.
template <class Work>
void WithoutGil(Work&& work) {
  const py::gil_scoped_release release;
  work();
}

using CallGuard = py::call_guard<>;
#endif

[[noreturn]] void NoMemory(const std::string& routine) {
  PyErr_SetString(PyExc_MemoryError, (routine + ": memory is short").c_str());
  throw py::error_already_set();
}

// A lower-triangular matrix from distancematrix: rows 1 ... n-1, then the
// row array, are the library's to free.
struct LibraryTriangle {
  double** rows;
  int n;
  ~LibraryTriangle() {
    if (!rows) return;
    for (int i = 1; i < n; i++) std::free(rows[i]);
    std::free(rows);
  }
  LibraryTriangle(const LibraryTriangle&) = delete;
  LibraryTriangle& operator=(const LibraryTriangle&) = delete;
};

void CheckClusters(int k, int nelements) {
  if (k < 1 || k > nelements)
    Fail("k", "must be from 1 to the number of elements, " + std::to_string(nelements) + ", not " +
                  std::to_string(k));
}

// The seed for setrandomseed, as lopper-cluster's --seed takes it.
std::optional<int> ReadSeed(std::optional<long long> seed) {
  if (seed && (*seed < 0 || *seed > INT_MAX))
    Fail("seed", "must be from 0 to " + std::to_string(INT_MAX) + " or None");
  return seed ? std::optional<int>(static_cast<int>(*seed)) : std::nullopt;
}

// In the calling thread, as lopper-cluster seeds each run: both seeds the same.
void Seed(std::optional<int> seed) {
  if (seed) lopper::setrandomseed(*seed, *seed);
}

py::array_t<int> IntVector(const std::vector<int>& values) {
  return py::array_t<int>(static_cast<py::ssize_t>(values.size()), values.data());
}

// data (see ReadData) -> the condensed distances between its elements.
py::array_t<double> DistanceMatrix(py::handle data, const std::string& distance, py::handle mask,
                                   py::handle weights, bool transpose) {
  const char dist = DistanceCode(distance);
  const DataMatrix m = ReadData(data, mask, weights, transpose, 2);
  CheckMeasurable(m, true);
  const std::ptrdiff_t n = m.nelements();
  py::array_t<double> condensed(n * (n - 1) / 2);
  double* const out = condensed.mutable_data();
  bool done = false;
  WithoutGil([&] {
    const LibraryTriangle lower{
        lopper::distancematrix(m.nrows, m.ncolumns, m.rows.data(), m.mask_rows.data(),
                               m.weights.data(), dist, m.transpose),
        m.nelements()};
    if (!lower.rows) return;
    CopyCondensed(n, out, lower.rows, false);
    done = true;
  });
  if (!done) NoMemory("distance_matrix");
  return condensed;
}

// Ward's and the median's criteria are defined on Euclidean distances: on
// data no other is taken, while a given matrix is the caller's own choice.
void CheckEuclideanLinkage(char code, char dist, const std::string& method) {
  if ((code != 'w' && code != 'd') || dist == 'E') return;
  Fail("method", "'" + method + "' needs distance='euclidean' on data (" +
                     (code == 'w' ? "Ward's" : "the median's") +
                     " criterion is defined on Euclidean distances); with distances= it updates "
                     "any matrix as R's hclust does");
}

// What treeclusterdata takes: single and centroid linkage, Ward and the
// median on complete data.
void CheckNoMatrix(char code, const DataMatrix& m, const std::string& method) {
  if (code != 's' && code != 'c' && code != 'w' && code != 'd')
    Fail("no_matrix", "method '" + method +
                          "' needs the distance matrix; no_matrix takes single, centroid, ward "
                          "and median");
  if ((code == 'w' || code == 'd') &&
      std::find(m.present.begin(), m.present.end(), 0) != m.present.end())
    Fail("data", "has missing values; method '" + method +
                     "' with no_matrix needs complete data (its update has no form in cluster "
                     "means once a gap scales a distance)");
}

// Exactly one of data and distances -> the SciPy linkage matrix of the tree.
py::array_t<double> Linkage(py::handle data, py::handle distances, const std::string& method,
                            const std::string& distance, py::handle mask, py::handle weights,
                            bool transpose, bool no_matrix) {
  const char code = LinkageCode(method);
  const char dist = DistanceCode(distance);
  if (data.is_none() == distances.is_none())
    Fail("data", "give either data or distances (one of them, not both)");
  if (code == 'c' && data.is_none()) Fail("method", "centroid linkage needs data, not distances");
  if (no_matrix && data.is_none()) Fail("no_matrix", "builds the tree from data, not distances");
  lopper::Node* tree = nullptr;
  int n = 0;
  if (!data.is_none()) {
    CheckEuclideanLinkage(code, dist, method);
    DataMatrix m = ReadData(data, mask, weights, transpose, 2);
    if (no_matrix) CheckNoMatrix(code, m, method);
    CheckMeasurable(m, true);
    n = m.nelements();
    WithoutGil([&] {
      tree = no_matrix
                 ? lopper::treeclusterdata(m.nrows, m.ncolumns, m.rows.data(), m.mask_rows.data(),
                                           m.weights.data(), m.transpose, dist, code)
                 : lopper::treecluster(m.nrows, m.ncolumns, m.rows.data(), m.mask_rows.data(),
                                       m.weights.data(), m.transpose, dist, code, nullptr);
    });
  } else {
    LowerTriangle t = ReadDistances(distances, false);  // a copy: merging overwrites it
    n = t.n;
    WithoutGil([&] {
      tree = lopper::treecluster(n, 0, nullptr, nullptr, nullptr, 0, 'e', code, t.rows.data());
    });
  }
  const std::unique_ptr<lopper::Node, FreeDeleter> owned(tree);
  if (!tree) NoMemory("linkage");
  return LinkageMatrix(n, tree);
}

// The labels of a cut: clusters below min_size (when given) left out, as 0.
py::array_t<int> Labels(std::vector<int>& clusterid, std::optional<int> min_size) {
  if (min_size) {
    if (*min_size < 1) Fail("min_size", "must be at least 1, not " + std::to_string(*min_size));
    if (lopper::dropsmallclusters(static_cast<int>(clusterid.size()), clusterid.data(), *min_size) <
        0)
      NoMemory("dropsmallclusters");
  }
  return NumberByFirstElement(clusterid);
}

// Z -> labels 1 ... k of the cut into k clusters by merge order.
py::array_t<int> Cut(py::handle z, int k, std::optional<int> min_size) {
  const std::vector<lopper::Node> tree = ReadLinkage(z);
  const int n = static_cast<int>(tree.size()) + 1;
  CheckClusters(k, n);
  std::vector<int> clusterid(static_cast<std::size_t>(n));
  WithoutGil(
      [&] { lopper::cuttree(n, tree.empty() ? nullptr : tree.data(), k, clusterid.data()); });
  if (clusterid[0] < 0) NoMemory("cut");
  return Labels(clusterid, min_size);
}

// Z -> labels of the cut at height h.
py::array_t<int> CutHeight(py::handle z, double h, std::optional<int> min_size) {
  const std::vector<lopper::Node> tree = ReadLinkage(z);
  const int n = static_cast<int>(tree.size()) + 1;
  if (std::isnan(h)) Fail("h", "is NaN");
  std::vector<int> clusterid(static_cast<std::size_t>(n));
  int found = 0;
  WithoutGil([&] {
    found = lopper::cuttree_height(n, tree.empty() ? nullptr : tree.data(), h, clusterid.data());
  });
  if (found < 0) NoMemory("cut_height");
  return Labels(clusterid, min_size);
}

// Z, t, depth -> labels of SciPy's fcluster(Z, t, 'inconsistent', depth).
py::array_t<int> CutInconsistent(py::handle z, double t, int depth, std::optional<int> min_size) {
  const std::vector<lopper::Node> tree = ReadLinkage(z);
  const int n = static_cast<int>(tree.size()) + 1;
  if (std::isnan(t)) Fail("t", "is NaN");
  if (depth < 1) Fail("depth", "must be at least 1, not " + std::to_string(depth));
  std::vector<int> clusterid(static_cast<std::size_t>(n));
  int found = 0;
  WithoutGil([&] {
    found = lopper::cuttree_inconsistent(n, tree.empty() ? nullptr : tree.data(), t, depth,
                                         clusterid.data());
  });
  if (found < 0) NoMemory("cut_inconsistent");
  return Labels(clusterid, min_size);
}

// Z (and D for the hybrid method) -> R's cutreeDynamic labels: 1 ... k by
// size, largest first, 0 for the elements in no cluster.
py::array_t<int> CutDynamic(py::handle z, py::handle d, const std::string& method, int min_size,
                            std::optional<int> deep_split, std::optional<double> cut_height,
                            bool pam) {
  const std::vector<lopper::Node> tree = ReadLinkage(z);
  const int n = static_cast<int>(tree.size()) + 1;
  if (method != "tree" && method != "hybrid") Fail("method", "must be 'tree' or 'hybrid'");
  const bool hybrid = method == "hybrid";
  const int split = deep_split.value_or(hybrid ? 1 : 0);
  if (split < 0 || split > (hybrid ? 4 : 1))
    Fail("deep_split", hybrid ? "must be 0 ... 4 for the hybrid method"
                              : "must be 0 or 1 (False or True) for the tree method");
  if (min_size < 1) Fail("min_size", "must be at least 1");
  const double height = cut_height.value_or(std::nan(""));
  if (cut_height && !std::isfinite(height)) Fail("cut_height", "must be a finite number");
  std::vector<int> clusterid(static_cast<std::size_t>(n));
  int found = 0;
  if (hybrid) {
    if (d.is_none()) Fail("D", "the hybrid method needs the distance matrix");
    const LowerTriangle t = ReadDistances(d, true);
    if (t.n != n) Fail("D", "has " + std::to_string(t.n) + " elements, Z " + std::to_string(n));
    WithoutGil([&] {
      found = lopper::cuttree_hybrid(n, tree.data(), t.rows.data(), height, split, min_size, pam,
                                     clusterid.data());
    });
  } else {
    WithoutGil([&] {
      found = lopper::cuttree_dynamic(n, tree.empty() ? nullptr : tree.data(), height, split,
                                      min_size, clusterid.data());
    });
  }
  if (found < 0) NoMemory("cut_dynamic");
  for (int& id : clusterid) id++;
  return IntVector(clusterid);
}

// Z -> labels of the fewest clades within t by `rule`, the branch lengths
// being the differences of the merge heights.
py::array_t<int> CutClade(py::handle z, double t, const std::string& rule,
                          std::optional<int> min_size) {
  const std::vector<lopper::Node> tree = ReadLinkage(z);
  const int n = static_cast<int>(tree.size()) + 1;
  if (std::isnan(t)) Fail("t", "is NaN");
  const char code = rule == "max"      ? 'm'
                    : rule == "avg"    ? 'a'
                    : rule == "sum"    ? 's'
                    : rule == "single" ? 'l'
                                       : 0;
  if (!code) Fail("rule", "must be 'max', 'avg', 'sum' or 'single', not '" + rule + "'");
  // The library takes the differences of the heights as branch lengths;
  // an inversion, which has none, is told apart from short memory here.
  for (const lopper::Node& node : tree)
    for (const int child : {node.left, node.right})
      if (child < 0 && tree[static_cast<std::size_t>(-child - 1)].distance > node.distance)
        Fail("Z",
             "has a merge below the one inside it (an inversion): clades need branch "
             "lengths");
  std::vector<int> clusterid(static_cast<std::size_t>(n));
  int found = 0;
  WithoutGil([&] {
    found = lopper::cuttree_clade(n, tree.empty() ? nullptr : tree.data(), nullptr, nullptr,
                                  nullptr, code, t, 0.0, clusterid.data());
  });
  if (found < 0) NoMemory("cut_clade");
  return Labels(clusterid, min_size);
}

// The result of kcluster and kmedoids: labels, error and passes, or the
// exception for the library's failure code.
py::tuple Partition(const char* routine, const std::vector<int>& clusterid, double error,
                    int found) {
  if (found < 0) NoMemory(routine);
  if (found == 0) Fail("k", "the library refused the partition's arguments");
  return py::make_tuple(IntVector(clusterid), error, found);
}

// data, k -> (labels 0 ... k-1, error, passes that found it).
py::tuple KCluster(py::handle data, int k, const std::string& method, int npass,
                   std::optional<long long> seed, const std::string& distance, py::handle mask,
                   py::handle weights, bool transpose, const std::string& init) {
  const char centre = CentreCode(method);
  const char dist = DistanceCode(distance);
  if (npass < 1) Fail("npass", "must be at least 1, not " + std::to_string(npass));
  if (init != "kmeans++" && init != "random")
    Fail("init", "'" + init + "' is not kmeans++ or random");
  const auto passes = init == "random" ? lopper::kcluster : lopper::kclusterplusplus;
  const std::optional<int> start = ReadSeed(seed);
  const DataMatrix m = ReadData(data, mask, weights, transpose, 1);
  CheckMeasurable(m, false);
  CheckClusters(k, m.nelements());
  std::vector<int> clusterid(static_cast<std::size_t>(m.nelements()));
  double error = 0;
  int found = 0;
  WithoutGil([&] {
    Seed(start);
    passes(k, m.nrows, m.ncolumns, m.rows.data(), m.mask_rows.data(), m.weights.data(), m.transpose,
           npass, centre, dist, clusterid.data(), &error, &found);
  });
  return Partition("kcluster", clusterid, error, found);
}

// distances, k -> (each element's medoid, error, passes that found it).
py::tuple KMedoids(py::handle distances, int k, int npass, std::optional<long long> seed) {
  if (npass < 1) Fail("npass", "must be at least 1, not " + std::to_string(npass));
  const std::optional<int> start = ReadSeed(seed);
  const LowerTriangle t = ReadDistances(distances, true);
  CheckClusters(k, t.n);
  std::vector<int> clusterid(static_cast<std::size_t>(t.n));
  double error = 0;
  int found = 0;
  WithoutGil([&] {
    Seed(start);
    lopper::kmedoids(k, t.n, t.rows.data(), npass, clusterid.data(), &error, &found);
  });
  return Partition("kmedoids", clusterid, error, found);
}

// data, grid -> (each element's cell (n x 2), the cells' vectors (nx x ny x ndata)).
py::tuple Som(py::handle data, std::pair<int, int> grid, double inittau, int niter,
              std::optional<long long> seed, const std::string& distance, py::handle mask,
              py::handle weights, bool transpose) {
  const char dist = DistanceCode(distance);
  const int nx = grid.first;
  const int ny = grid.second;
  if (nx < 1 || ny < 1) Fail("grid", "both sides must be at least 1");
  if (!(inittau > 0) || !std::isfinite(inittau)) Fail("inittau", "must be finite and above 0");
  if (niter < 1) Fail("niter", "must be at least 1, not " + std::to_string(niter));
  const std::optional<int> start = ReadSeed(seed);
  const DataMatrix m = ReadData(data, mask, weights, transpose, 2);
  CheckMeasurable(m, false);
  const auto ndata = static_cast<std::size_t>(m.ndata());
  py::array_t<double> cells({static_cast<py::ssize_t>(nx), static_cast<py::ssize_t>(ny),
                             static_cast<py::ssize_t>(ndata)});
  std::vector<double*> cell_rows(static_cast<std::size_t>(nx) * ny);
  std::vector<double**> columns(static_cast<std::size_t>(nx));
  for (std::size_t c = 0; c < cell_rows.size(); c++)
    cell_rows[c] = cells.mutable_data() + c * ndata;
  for (std::size_t x = 0; x < columns.size(); x++) columns[x] = &cell_rows[x * ny];
  const int n = m.nelements();
  const std::unique_ptr<int[][2]> cell(new int[n][2]);
  WithoutGil([&] {
    Seed(start);
    lopper::somcluster(m.nrows, m.ncolumns, m.rows.data(), m.mask_rows.data(), m.weights.data(),
                       m.transpose, nx, ny, inittau, niter, dist, columns.data(), cell.get());
  });
  if (cell[0][0] < 0) NoMemory("som");
  py::array_t<int> where({static_cast<py::ssize_t>(n), static_cast<py::ssize_t>(2)});
  std::copy(&cell[0][0], &cell[0][0] + 2 * static_cast<std::size_t>(n), where.mutable_data());
  return py::make_tuple(where, cells);
}

// a (m x n, m >= n >= 1) -> u (m x n), w (n), v (n x n) with a = u diag(w) v^T.
py::tuple Svd(py::handle a) {
  const DoubleArray in = ReadFiniteMatrix(a, "a");
  const auto m = static_cast<int>(in.shape(0));
  const auto n = static_cast<int>(in.shape(1));
  if (m < n) Fail("a", "has fewer rows than columns; decompose its transpose");
  py::array_t<double> u({static_cast<py::ssize_t>(m), static_cast<py::ssize_t>(n)});
  py::array_t<double> w(static_cast<py::ssize_t>(n));
  py::array_t<double> v({static_cast<py::ssize_t>(n), static_cast<py::ssize_t>(n)});
  std::copy(in.data(), in.data() + in.size(), u.mutable_data());
  std::vector<double*> urows(static_cast<std::size_t>(m));
  std::vector<double*> vrows(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < urows.size(); i++) urows[i] = u.mutable_data() + i * n;
  for (std::size_t i = 0; i < vrows.size(); i++) vrows[i] = v.mutable_data() + i * n;
  int ierr = 0;
  WithoutGil([&] { lopper::svd(m, n, urows.data(), w.mutable_data(), vrows.data(), &ierr); });
  if (ierr == -1) NoMemory("svd");
  if (ierr > 0) {
    const py::object error = py::module_::import("numpy.linalg").attr("LinAlgError");
    PyErr_SetString(error.ptr(), ("svd: singular value " + std::to_string(ierr) +
                                  " did not converge in 30 QR sweeps")
                                     .c_str());
    throw py::error_already_set();
  }
  return py::make_tuple(u, w, v);
}

#ifdef LOPPER_PYTHON_LAST_CALL
py::dict LastCallInfo() {
  const LastCall& last = Last();
  return py::dict(py::arg("data") = last.data, py::arg("library_seconds") = last.library_seconds);
}
#endif

}  // namespace

}  // namespace lopper_python

PYBIND11_MODULE(_lopper, module) {
  namespace py = pybind11;
  using namespace lopper_python;
  using py::arg;
  module.doc() = std::string(docs::kModule) + docs::kDistanceHeading +
                 lopper::NameLines(lopper::kDistanceNames) + docs::kLinkageHeading +
                 lopper::NameLines(lopper::kLinkageNames);
  const auto guard = CallGuard();
  module.def("distance_matrix", &DistanceMatrix, docs::kDistanceMatrix, arg("data"),
             arg("distance") = "pearson", arg("mask") = py::none(), arg("weights") = py::none(),
             arg("transpose") = false, guard);
  module.def("linkage", &Linkage, docs::kLinkage, arg("data") = py::none(),
             arg("distances") = py::none(), arg("method") = "average", arg("distance") = "pearson",
             arg("mask") = py::none(), arg("weights") = py::none(), arg("transpose") = false,
             arg("no_matrix") = false, guard);
  module.def("cut", &Cut, docs::kCut, arg("Z"), arg("k"), arg("min_size") = py::none(), guard);
  module.def("cut_height", &CutHeight, docs::kCutHeight, arg("Z"), arg("h"),
             arg("min_size") = py::none(), guard);
  module.def("cut_inconsistent", &CutInconsistent, docs::kCutInconsistent, arg("Z"), arg("t"),
             arg("depth") = 2, arg("min_size") = py::none(), guard);
  module.def("cut_dynamic", &CutDynamic, docs::kCutDynamic, arg("Z"), arg("D") = py::none(),
             arg("method") = "tree", arg("min_size") = 20, arg("deep_split") = py::none(),
             arg("cut_height") = py::none(), arg("pam") = true, guard);
  module.def("cut_clade", &CutClade, docs::kCutClade, arg("Z"), arg("t"), arg("rule") = "max",
             arg("min_size") = py::none(), guard);
  module.def("kcluster", &KCluster, docs::kKCluster, arg("data"), arg("k"), arg("method") = "mean",
             arg("npass") = 10, arg("seed") = py::none(), arg("distance") = "pearson",
             arg("mask") = py::none(), arg("weights") = py::none(), arg("transpose") = false,
             arg("init") = "kmeans++", guard);
  module.def("kmedoids", &KMedoids, docs::kKMedoids, arg("distances"), arg("k"), arg("npass") = 10,
             arg("seed") = py::none(), guard);
  module.def("som", &Som, docs::kSom, arg("data"), arg("grid"), arg("inittau") = 0.02,
             arg("niter") = 100000, arg("seed") = py::none(), arg("distance") = "pearson",
             arg("mask") = py::none(), arg("weights") = py::none(), arg("transpose") = false,
             guard);
  module.def("svd", &Svd, docs::kSvd, arg("a"));
  AddResampling(module);
#ifdef LOPPER_PYTHON_LAST_CALL
  module.def("_last_call", &LastCallInfo, docs::kLastCall);
#endif
}
