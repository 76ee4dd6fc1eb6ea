// k-means and k-medians: iterative relocation from random partitions.
#include <algorithm>
#include <cfloat>
#include <new>
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

struct Problem {
  int nclusters, nrows, ncolumns;
  const double* const* data;
  const int* const* mask;
  const double* weight;
  int transpose, npass;
  char dist;
};

// The passes of k-means or k-medians (cache non-null: medians). The best
// partition is kept in clusterid, the current one in tclusterid (the same
// array when npass <= 1). Returns ifound.
int Passes(const Problem& p, Measure& measure, double** cdata, int** cmask, int clusterid[],
           double* error, int tclusterid[], int counts[], int mapping[], double cache[]) {
  const int nelements = p.transpose ? p.ncolumns : p.nrows;
  int ifound = 0;
  *error = DBL_MAX;
  int ipass = 0;
  do {
    double total = DBL_MAX;
    if (p.npass != 0) randomassign(p.nclusters, nelements, tclusterid);
    for (int k = 0; k < p.nclusters; k++) counts[k] = 0;
    for (int e = 0; e < nelements; e++) counts[tclusterid[e]]++;
    while (true) {
      const double previous = total;
      total = 0.0;
      if (cache)
        getclustermedians(p.nclusters, p.nrows, p.ncolumns, p.data, p.mask, tclusterid, cdata,
                          cmask, p.transpose, cache);
      else
        getclustermeans(p.nclusters, p.nrows, p.ncolumns, p.data, p.mask, tclusterid, cdata, cmask,
                        p.transpose);
      for (int i = 0; i < nelements; i++) {
        const int k = tclusterid[i];
        if (counts[k] == 1) continue;
        double distance = measure(p.data, cdata, p.mask, cmask, p.weight, i, k, p.transpose);
        for (int j = 0; j < p.nclusters; j++) {
          if (j == k) continue;
          const double tdistance =
              measure(p.data, cdata, p.mask, cmask, p.weight, i, j, p.transpose);
          if (tdistance < distance) {
            distance = tdistance;
            counts[tclusterid[i]]--;
            tclusterid[i] = j;
            counts[j]++;
          }
        }
        total += distance;
      }
      if (total >= previous) break;
    }
    if (p.npass <= 1) {
      *error = total;
      return 1;
    }
    // The first pass is the best so far even when, with one cluster, it
    // equals the zeroed clusterid.
    bool same = ipass > 0;
    for (int k = 0; k < p.nclusters; k++) mapping[k] = -1;
    for (int i = 0; i < nelements && same; i++) {
      const int j = tclusterid[i];
      const int k = clusterid[i];
      if (mapping[k] == -1)
        mapping[k] = j;
      else if (mapping[k] != j)
        same = false;
    }
    if (same) {
      ifound++;
    } else if (ipass == 0 || total < *error) {
      ifound = 1;
      *error = total;
      for (int i = 0; i < nelements; i++) clusterid[i] = tclusterid[i];
    }
  } while (++ipass < p.npass);
  return ifound;
}

}  // namespace

int fullpartition(int nclusters, int nelements, const int clusterid[]) {
  std::vector<char> used(nclusters, 0);
  for (int e = 0; e < nelements; e++) {
    if (clusterid[e] < 0 || clusterid[e] >= nclusters) return 0;
    used[clusterid[e]] = 1;
  }
  return std::find(used.begin(), used.end(), 0) == used.end();
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
  if (method == 'a') {
    detail::getclustermeans(nclusters, nrows, ncolumns, data, mask, clusterid, cdata, cmask,
                            transpose);
    return 1;
  }
  try {
    std::vector<double> cache(nelements);
    detail::getclustermedians(nclusters, nrows, ncolumns, data, mask, clusterid, cdata, cmask,
                              transpose, cache.data());
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return 1;
}

void kcluster(int nclusters, int nrows, int ncolumns, const double* const* data,
              const int* const* mask, const double weight[], int transpose, int npass, char method,
              char dist, int clusterid[], double* error, int* ifound) {
  const int nelements = transpose ? ncolumns : nrows;
  const int ndata = transpose ? nrows : ncolumns;
  if (!ifound) return;
  *ifound = 0;
  if (nrows < 0 || ncolumns < 0 || nclusters < 1 || nelements < nclusters || !clusterid || !error)
    return;
  if (ndata > 0 && (!data || !mask || !weight)) return;
  *ifound = -1;
  try {
    // A given partition needs every cluster: an empty one has no centroid.
    if (npass == 0 && !detail::fullpartition(nclusters, nelements, clusterid)) {
      *ifound = 0;
      return;
    }
    detail::Measure measure(dist, ndata);
    std::vector<int> counts(nclusters);
    std::vector<int> own_tclusterid(npass > 1 ? nelements : 0);
    std::vector<int> mapping(npass > 1 ? nclusters : 0);
    std::vector<double> cache(method == 'm' ? nelements : 0);
    double** cdata;
    int** cmask;
    const int crows = transpose ? ndata : nclusters;
    if (!detail::makedatamask(crows, transpose ? nclusters : ndata, &cdata, &cmask)) return;
    if (npass > 1)
      for (int e = 0; e < nelements; e++) clusterid[e] = 0;
    int* const tclusterid = npass > 1 ? own_tclusterid.data() : clusterid;
    const detail::Problem problem{nclusters, nrows,     ncolumns, data, mask,
                                  weight,    transpose, npass,    dist};
    *ifound = detail::Passes(problem, measure, cdata, cmask, clusterid, error, tclusterid,
                             counts.data(), mapping.data(), method == 'm' ? cache.data() : nullptr);
    detail::freedatamask(crows, cdata, cmask);
  } catch (const std::bad_alloc&) {
    *ifound = -1;
  }
}

}  // namespace lopper
