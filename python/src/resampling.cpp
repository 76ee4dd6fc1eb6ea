// The resampling routines of lopper._lopper: multiscale bootstrap and
// consensus counts over a range of resample numbers, and the statistics
// finished from them. The counts of ranges add up to those of the whole
// run, so that lopper.resampling can spread the ranges over processes.
#include "resampling.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "convert.h"

namespace lopper_python {

namespace {

using py::ssize_t;

// Resample numbers first ... last-1 out of `total`.
void CheckRange(long long first, long long last, long long total) {
  if (first < 0 || last < first || last > total)
    Fail("first", "the range [" + std::to_string(first) + ", " + std::to_string(last) +
                      ") is not within 0 ... " + std::to_string(total));
}

int ReadSeedValue(long long seed) {
  if (seed < 0 || seed > INT_MAX) Fail("seed", "must be from 0 to " + std::to_string(INT_MAX));
  return static_cast<int>(seed);
}

std::vector<double> ReadScales(py::handle scales) {
  const DoubleArray s = DoubleArray::ensure(scales);
  if (!s || s.ndim() != 1 || s.shape(0) < 1) Fail("scales", "must be a 1-D array of numbers");
  std::vector<double> out(s.data(), s.data() + s.size());
  for (const double x : out)
    if (!(x > 0) || !std::isfinite(x)) Fail("scales", "must be finite and above 0");
  return out;
}

// data, Z, ... -> (counts, nscales x (n-1) in Z's row order; effective scales).
py::tuple BootstrapCounts(py::handle data, py::handle z, const std::string& method,
                          const std::string& distance, bool transpose, py::handle scales, int nboot,
                          long long seed, long long first, long long last) {
  const char code = LinkageCode(method);
  const char dist = DistanceCode(distance);
  const std::vector<double> scale = ReadScales(scales);
  const int nscales = static_cast<int>(scale.size());
  if (nboot < 1) Fail("nboot", "must be at least 1, not " + std::to_string(nboot));
  if (static_cast<long long>(nscales) * nboot > INT_MAX) Fail("nboot", "too many resamples");
  CheckRange(first, last, static_cast<long long>(nscales) * nboot);
  const int start = ReadSeedValue(seed);
  const std::vector<lopper::Node> tree = ReadLinkage(z);
  const DataMatrix m = ReadData(data, py::none(), py::none(), transpose, 2);
  CheckMeasurable(m, true);
  const int n = m.nelements();
  if (static_cast<std::size_t>(n) != tree.size() + 1)
    Fail("Z", "has " + std::to_string(tree.size()) + " rows, not one fewer than the " +
                  std::to_string(n) + " elements");
  py::array_t<int> counts({static_cast<ssize_t>(nscales), static_cast<ssize_t>(n - 1)});
  std::fill(counts.mutable_data(), counts.mutable_data() + counts.size(), 0);
  py::array_t<double> effective(static_cast<ssize_t>(nscales));
  int done = 0;
  {
    const py::gil_scoped_release release;
    done = lopper::bootstrapcounts(
        m.nrows, m.ncolumns, m.rows.data(), m.mask_rows.data(), m.weights.data(), m.transpose, dist,
        code, tree.data(), nscales, scale.data(), nboot, start, static_cast<int>(first),
        static_cast<int>(last), counts.mutable_data(), effective.mutable_data());
  }
  if (done < 0)
    Fail("data", "the bootstrap failed: a scale draws no value or too many, or memory is short");
  return py::make_tuple(counts, effective);
}

// scales, counts (nscales x nmerges), nboot -> dict of arrays per merge.
py::dict MultiscaleFit(py::handle scales, py::handle counts, int nboot) {
  const std::vector<double> scale = ReadScales(scales);
  const IntArray c = IntArray::ensure(counts);
  if (!c || c.ndim() != 2 || c.shape(0) != static_cast<ssize_t>(scale.size()))
    Fail("counts", "must be an int array of one row per scale");
  const auto nscales = static_cast<std::size_t>(scale.size());
  const ssize_t nmerges = c.shape(1);
  const char* names[] = {"au", "bp", "si", "se_au", "se_bp", "se_si", "v", "c", "pchi"};
  std::vector<py::array_t<double>> fields;
  for (std::size_t f = 0; f < std::size(names); f++) fields.emplace_back(nmerges);
  std::vector<int> merge_counts(nscales);
  const auto r = c.unchecked<2>();
  for (ssize_t m = 0; m < nmerges; m++) {
    for (std::size_t s = 0; s < nscales; s++) merge_counts[s] = r(static_cast<ssize_t>(s), m);
    lopper::BootstrapSupport b{};
    if (lopper::multiscalefit(static_cast<int>(nscales), scale.data(), merge_counts.data(), nboot,
                              &b) < 0)
      Fail("counts", "cannot be fitted: each count must be from 0 to nboot, the scales distinct");
    const double values[] = {b.au, b.bp, b.si, b.se_au, b.se_bp, b.se_si, b.v, b.c, b.pchi};
    for (std::size_t f = 0; f < fields.size(); f++) fields[f].mutable_data()[m] = values[f];
  }
  py::dict out;
  for (std::size_t f = 0; f < fields.size(); f++) out[names[f]] = fields[f];
  return out;
}

// The consensus algorithm's code: a linkage, or kmeans, kmedians, kmedoids.
char AlgorithmCode(const std::string& method) {
  if (method == "kmeans") return 'k';
  if (method == "kmedians") return 'e';
  if (method == "kmedoids") return 'p';
  return LinkageCode(method);
}

// Each k from 1 to `largest`, the elements a resample (or the whole) holds.
std::vector<int> ReadKs(const std::vector<int>& ks, int largest, const std::string& what) {
  if (ks.empty()) Fail("k", "needs at least one number of clusters");
  for (const int k : ks)
    if (k < 1 || k > largest)
      Fail("k", "each must be from 1 to " + what + ", " + std::to_string(largest) + ", not " +
                    std::to_string(k));
  return ks;
}

// data, ks, ... -> (together, nks x pairs; sampled, pairs), pairs in the
// library's lower-triangle order.
py::tuple ConsensusCounts(py::handle data, const std::vector<int>& k, const std::string& method,
                          const std::string& distance, bool transpose, int npass, double pitem,
                          double pfeature, long long seed, long long first, long long last) {
  const char code = AlgorithmCode(method);
  const char dist = DistanceCode(distance);
  if (npass < 1) Fail("npass", "must be at least 1, not " + std::to_string(npass));
  if (!(pitem > 0 && pitem <= 1)) Fail("pitem", "must be above 0 and at most 1");
  if (!(pfeature > 0 && pfeature <= 1)) Fail("pfeature", "must be above 0 and at most 1");
  CheckRange(first, last, INT_MAX);
  const int start = ReadSeedValue(seed);
  const DataMatrix m = ReadData(data, py::none(), py::none(), transpose, 2);
  CheckMeasurable(m, true);
  const int n = m.nelements();
  const std::vector<int> ks = ReadKs(k, static_cast<int>(std::floor(pitem * n)),
                                     "the elements of a resample, floor(pitem * n)");
  const auto pairs = static_cast<ssize_t>(n) * (n - 1) / 2;
  py::array_t<int> together({static_cast<ssize_t>(ks.size()), pairs});
  py::array_t<int> sampled(pairs);
  std::fill(together.mutable_data(), together.mutable_data() + together.size(), 0);
  std::fill(sampled.mutable_data(), sampled.mutable_data() + sampled.size(), 0);
  int done = 0;
  {
    const py::gil_scoped_release release;
    done = lopper::consensuscounts(m.nrows, m.ncolumns, m.rows.data(), m.mask_rows.data(),
                                   m.weights.data(), m.transpose, dist, code, npass,
                                   static_cast<int>(ks.size()), ks.data(), pitem, pfeature, start,
                                   static_cast<int>(first), static_cast<int>(last),
                                   together.mutable_data(), sampled.mutable_data());
  }
  if (done < 0)
    Fail("data",
         "consensus clustering failed: too few elements or values drawn, a clustering "
         "that failed, or memory short");
  return py::make_tuple(together, sampled);
}

// The library's lower triangle as a square matrix with diagonal 1.
py::array_t<double> SquareConsensus(int n, const std::vector<double>& triangle) {
  py::array_t<double> square({static_cast<ssize_t>(n), static_cast<ssize_t>(n)});
  auto out = square.mutable_unchecked<2>();
  for (ssize_t i = 0; i < n; i++) {
    out(i, i) = 1.0;
    for (ssize_t j = 0; j < i; j++) out(i, j) = out(j, i) = triangle[i * (i - 1) / 2 + j];
  }
  return square;
}

// One k's consensus statistics from its counts.
py::dict FinishOne(int n, int k, const int* together, const int* sampled) {
  std::vector<double> triangle(static_cast<std::size_t>(n) * (n - 1) / 2);
  std::vector<int> clusterid(static_cast<std::size_t>(n));
  py::array_t<double> cdf(100);
  py::array_t<double> cluster(static_cast<ssize_t>(k));
  py::array_t<double> item({static_cast<ssize_t>(n), static_cast<ssize_t>(k)});
  double area = 0;
  bool done = false;
  {
    const py::gil_scoped_release release;
    done = lopper::consensusmatrix(n, together, sampled, triangle.data()) == 1 &&
           (area = lopper::consensuscdf(n, triangle.data(), cdf.mutable_data())) >= 0 &&
           lopper::consensusclusters(n, triangle.data(), k, clusterid.data()) == k &&
           lopper::clusterconsensus(n, triangle.data(), k, clusterid.data(), cluster.mutable_data(),
                                    item.mutable_data()) == 1;
  }
  if (!done)
    Fail("counts", "are not consensus counts (together above sampled), or memory is short");
  return py::dict(py::arg("k") = k, py::arg("consensus") = SquareConsensus(n, triangle),
                  py::arg("cdf") = cdf, py::arg("area") = area,
                  py::arg("clusters") = NumberByFirstElement(clusterid),
                  py::arg("cluster_consensus") = cluster, py::arg("item_consensus") = item);
}

// ks, together, sampled -> (one dict per k, delta areas).
py::tuple ConsensusFinish(const std::vector<int>& ks, py::handle together, py::handle sampled) {
  const IntArray t = IntArray::ensure(together);
  const IntArray s = IntArray::ensure(sampled);
  if (!s || s.ndim() != 1) Fail("sampled", "must be a 1-D int array of pair counts");
  const auto n = static_cast<int>(
      std::llround((1 + std::sqrt(1.0 + 8.0 * static_cast<double>(s.shape(0)))) / 2));
  if (static_cast<ssize_t>(n) * (n - 1) / 2 != s.shape(0) || n < 2)
    Fail("sampled", "does not hold the pairs of two or more elements");
  if (!t || t.ndim() != 2 || t.shape(0) != static_cast<ssize_t>(ks.size()) ||
      t.shape(1) != s.shape(0))
    Fail("together", "must be an int array of one row of pair counts per k");
  ReadKs(ks, n, "the number of elements");
  py::list per_k;
  std::vector<double> areas;
  for (std::size_t i = 0; i < ks.size(); i++) {
    py::dict one = FinishOne(n, ks[i], t.data() + i * s.shape(0), s.data());
    areas.push_back(one["area"].cast<double>());
    per_k.append(one);
  }
  // The delta areas run over the ks in ascending order, whatever order they came in.
  std::vector<std::size_t> ascending(ks.size());
  std::iota(ascending.begin(), ascending.end(), std::size_t{0});
  std::stable_sort(ascending.begin(), ascending.end(),
                   [&ks](std::size_t a, std::size_t b) { return ks[a] < ks[b]; });
  std::vector<double> sorted_areas, sorted_delta(ks.size());
  for (const std::size_t i : ascending) sorted_areas.push_back(areas[i]);
  lopper::consensusdelta(static_cast<int>(ks.size()), sorted_areas.data(), sorted_delta.data());
  py::array_t<double> delta(static_cast<ssize_t>(ks.size()));
  for (std::size_t r = 0; r < ascending.size(); r++)
    delta.mutable_data()[ascending[r]] = sorted_delta[r];
  return py::make_tuple(per_k, delta);
}

void SetThreads(int n) { lopper::setthreads(n); }

}  // namespace

void AddResampling(py::module_& module) {
  using py::arg;
  module.def("_bootstrap_counts", &BootstrapCounts,
             "Multiscale bootstrap counts of Z's merges over resamples [first, last).", arg("data"),
             arg("Z"), arg("method"), arg("distance"), arg("transpose"), arg("scales"),
             arg("nboot"), arg("seed"), arg("first"), arg("last"));
  module.def("_multiscale_fit", &MultiscaleFit, "AU, BP, SI and their fit per merge.",
             arg("scales"), arg("counts"), arg("nboot"));
  module.def("_consensus_counts", &ConsensusCounts,
             "Consensus counts (together per k, sampled) over resamples [first, last).",
             arg("data"), arg("k"), arg("method"), arg("distance"), arg("transpose"), arg("npass"),
             arg("pitem"), arg("pfeature"), arg("seed"), arg("first"), arg("last"));
  module.def("_consensus_finish", &ConsensusFinish,
             "Per k the consensus matrix, CDF, area, clusters and consensus; the delta areas.",
             arg("k"), arg("together"), arg("sampled"));
  module.def("_set_threads", &SetThreads,
             "The library's threads per call in this process (n < 1: one per core).", arg("n"));
}

}  // namespace lopper_python
