// k-means and k-medians: iterative relocation from random partitions.
#include <algorithm>
#include <cfloat>
#include <optional>
#include <vector>

#include "cluster_internal.h"

namespace lopper {
namespace detail {

namespace {

// Centroid k is addressed like element k: row k, or column k when transposed.
double& Cell(double** c, int k, int d, int transpose) { return transpose ? c[d][k] : c[k][d]; }
int& Cell(int** c, int k, int d, int transpose) { return transpose ? c[d][k] : c[k][d]; }

}  // namespace

void getclustermeans(int nclusters, int nrows, int ncolumns, const double* const* data,
                     const int* const* mask, const int clusterid[], double** cdata, int** cmask,
                     int transpose) {
  const int nelements = transpose ? ncolumns : nrows;
  const int ndata = transpose ? nrows : ncolumns;
  for (int k = 0; k < nclusters; k++)
    for (int d = 0; d < ndata; d++) {
      Cell(cdata, k, d, transpose) = 0.0;
      Cell(cmask, k, d, transpose) = 0;
    }
  for (int e = 0; e < nelements; e++) {
    const int k = clusterid[e];
    for (int d = 0; d < ndata; d++) {
      const bool present = transpose ? mask[d][e] : mask[e][d];
      if (!present) continue;
      Cell(cdata, k, d, transpose) += transpose ? data[d][e] : data[e][d];
      Cell(cmask, k, d, transpose)++;
    }
  }
  for (int k = 0; k < nclusters; k++)
    for (int d = 0; d < ndata; d++) {
      int& count = Cell(cmask, k, d, transpose);
      if (count > 0) {
        Cell(cdata, k, d, transpose) /= count;
        count = 1;
      }
    }
}

void getclustermedians(int nclusters, int nrows, int ncolumns, const double* const* data,
                       const int* const* mask, const int clusterid[], double** cdata, int** cmask,
                       int transpose, double cache[]) {
  const int nelements = transpose ? ncolumns : nrows;
  const int ndata = transpose ? nrows : ncolumns;
  for (int k = 0; k < nclusters; k++)
    for (int d = 0; d < ndata; d++) {
      int count = 0;
      for (int e = 0; e < nelements; e++) {
        if (clusterid[e] != k || !(transpose ? mask[d][e] : mask[e][d])) continue;
        cache[count++] = transpose ? data[d][e] : data[e][d];
      }
      Cell(cdata, k, d, transpose) = count ? median(count, cache) : 0.0;
      Cell(cmask, k, d, transpose) = count ? 1 : 0;
    }
}

namespace {

// One kcluster call: its arguments (after the checks) and its method.
struct Problem {
  int nclusters, nrows, ncolumns;
  const double* const* data;
  const int* const* mask;
  const double* weight;
  int transpose, npass;
  char method, dist;

  int nelements() const { return transpose ? ncolumns : nrows; }
  int ndata() const { return transpose ? nrows : ncolumns; }
};

// What passes that compete (npass > 1) need besides: the current
// partition, apart from the best in clusterid, and the map between their
// cluster numbers.
struct Competition {
  explicit Competition(const Problem& p) : current(p.nelements()), mapping(p.nclusters) {}
  std::vector<int> current;
  std::vector<int> mapping;
};

// The storage of the passes, obtained before any output is written; the
// constructor may throw std::bad_alloc, obtain() gives kOutOfMemory.
struct Scratch {
  explicit Scratch(const Problem& p) : measure(p.dist, p.ndata()), counts(p.nclusters) {
    if (p.npass > 1) competition.emplace(p);
    if (p.method == 'm') median_values.emplace(p.nelements());
  }
  Status obtain(const Problem& p) {
    return centroids.obtain(p.transpose ? p.ndata() : p.nclusters,
                            p.transpose ? p.nclusters : p.ndata());
  }
  Measure measure;
  std::vector<int> counts;  // members per cluster
  std::optional<Competition> competition;
  std::optional<std::vector<double>> median_values;  // k-medians: one cluster's values
  DataMask centroids;
};

// The centroids of the clusters of clusterid into s.centroids: medians
// for method 'm', means otherwise.
void Centroids(const Problem& p, const int clusterid[], Scratch& s) {
  double** const cdata = s.centroids.data();
  int** const cmask = s.centroids.mask();
  if (p.method == 'm')
    getclustermedians(p.nclusters, p.nrows, p.ncolumns, p.data, p.mask, clusterid, cdata, cmask,
                      p.transpose, s.median_values->data());
  else
    getclustermeans(p.nclusters, p.nrows, p.ncolumns, p.data, p.mask, clusterid, cdata, cmask,
                    p.transpose);
}

// Moves each element not alone in its cluster to the first centroid
// strictly closer than the closest so far; the sum of those elements'
// distances to the centroids chosen (elements alone count nothing).
double Relocate(const Problem& p, Scratch& s, int clusterid[]) {
  double total = 0.0;
  for (int i = 0; i < p.nelements(); i++) {
    const int k = clusterid[i];
    if (s.counts[k] == 1) continue;
    auto to = [&](int j) {
      return s.measure(p.data, s.centroids.data(), p.mask, s.centroids.mask(), p.weight, i, j,
                       p.transpose);
    };
    double distance = to(k);
    for (int j = 0; j < p.nclusters; j++) {
      if (j == k) continue;
      const double tdistance = to(j);
      if (tdistance < distance) {
        distance = tdistance;
        s.counts[clusterid[i]]--;
        clusterid[i] = j;
        s.counts[j]++;
      }
    }
    total += distance;
  }
  return total;
}

// Centroids and relocation in turn from the partition in clusterid until
// the total stops falling; that total.
double Converge(const Problem& p, Scratch& s, int clusterid[]) {
  std::fill(s.counts.begin(), s.counts.end(), 0);
  for (int e = 0; e < p.nelements(); e++) s.counts[clusterid[e]]++;
  double total = DBL_MAX;
  while (true) {
    const double previous = total;
    Centroids(p, clusterid, s);
    total = Relocate(p, s, clusterid);
    if (total >= previous) return total;
  }
}

// True when b is a as renumbered by a one-to-one map, built in mapping
// (one int per cluster number).
bool SamePartition(int nelements, int nclusters, const int a[], const int b[], int mapping[]) {
  std::fill(mapping, mapping + nclusters, -1);
  for (int i = 0; i < nelements; i++) {
    int& image = mapping[a[i]];
    if (image == -1)
      image = b[i];
    else if (image != b[i])
      return false;
  }
  return true;
}

// The passes of k-means or k-medians. The best partition is kept in
// clusterid, the current one in tclusterid (clusterid itself unless passes
// compete). Returns ifound.
int Passes(const Problem& p, Scratch& s, int clusterid[], double* error) {
  int* const tclusterid = s.competition ? s.competition->current.data() : clusterid;
  int ifound = 0;
  *error = DBL_MAX;
  int ipass = 0;
  do {
    if (p.npass != 0) randomassign(p.nclusters, p.nelements(), tclusterid);
    const double total = Converge(p, s, tclusterid);
    if (p.npass <= 1) {
      *error = total;
      return 1;
    }
    // The first pass is the best so far even when, with one cluster, it
    // equals the zeroed clusterid.
    if (ipass > 0 && SamePartition(p.nelements(), p.nclusters, clusterid, tclusterid,
                                   s.competition->mapping.data())) {
      ifound++;
    } else if (ipass == 0 || total < *error) {
      ifound = 1;
      *error = total;
      std::copy(tclusterid, tclusterid + p.nelements(), clusterid);
    }
  } while (++ipass < p.npass);
  return ifound;
}

}  // namespace

Status checkpartition(int nclusters, int nelements, const int clusterid[]) {
  return guarded([&] {
    std::vector<char> used(nclusters, 0);
    for (int e = 0; e < nelements; e++) {
      if (clusterid[e] < 0 || clusterid[e] >= nclusters) return Status::kBadArguments;
      used[clusterid[e]] = 1;
    }
    const bool full = std::find(used.begin(), used.end(), 0) == used.end();
    return full ? Status::kOk : Status::kBadArguments;
  });
}

int ifoundfor(Status status, int found) {
  switch (status) {
    case Status::kOk:
      return found;
    case Status::kOutOfMemory:
      return -1;
    default:
      return 0;
  }
}

}  // namespace detail

int getclustercentroids(int nclusters, int nrows, int ncolumns, const double* const* data,
                        const int* const* mask, const int clusterid[], double** cdata, int** cmask,
                        int transpose, char method) {
  const int nelements = transpose ? ncolumns : nrows;
  if (method != 'a' && method != 'm') return 0;
  if (nrows < 0 || ncolumns < 0 || nclusters < 1 || !clusterid || !cdata || !cmask) return 0;
  if (nrows > 0 && ncolumns > 0 && (!data || !mask)) return 0;
  for (int e = 0; e < nelements; e++)
    if (clusterid[e] < 0 || clusterid[e] >= nclusters) return 0;
  const detail::Status status = detail::guarded([&] {
    std::vector<double> cache(method == 'm' ? nelements : 0);
    if (method == 'm')
      detail::getclustermedians(nclusters, nrows, ncolumns, data, mask, clusterid, cdata, cmask,
                                transpose, cache.data());
    else
      detail::getclustermeans(nclusters, nrows, ncolumns, data, mask, clusterid, cdata, cmask,
                              transpose);
    return detail::Status::kOk;
  });
  return status == detail::Status::kOk;
}

void kcluster(int nclusters, int nrows, int ncolumns, const double* const* data,
              const int* const* mask, const double weight[], int transpose, int npass, char method,
              char dist, int clusterid[], double* error, int* ifound) {
  using detail::Status;
  if (!ifound) return;
  *ifound = 0;
  const detail::Problem p{nclusters, nrows,     ncolumns, data,   mask,
                          weight,    transpose, npass,    method, dist};
  if (nrows < 0 || ncolumns < 0 || nclusters < 1 || p.nelements() < nclusters || !clusterid ||
      !error)
    return;
  if (p.ndata() > 0 && (!data || !mask || !weight)) return;
  int found = 0;
  const Status status = detail::guarded([&] {
    // A given partition needs every cluster: an empty one has no centroid.
    if (npass == 0) {
      const Status given = detail::checkpartition(nclusters, p.nelements(), clusterid);
      if (given != Status::kOk) return given;
    }
    detail::Scratch scratch(p);
    const Status obtained = scratch.obtain(p);
    if (obtained != Status::kOk) return obtained;
    if (npass > 1) std::fill(clusterid, clusterid + p.nelements(), 0);
    found = detail::Passes(p, scratch, clusterid, error);
    return Status::kOk;
  });
  *ifound = detail::ifoundfor(status, found);
}

}  // namespace lopper
