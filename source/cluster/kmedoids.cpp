// k-medoids: relocation around cluster members, from a distance matrix.
#include <cfloat>
#include <new>
#include <vector>

#include "cluster_internal.h"

namespace lopper {

namespace {

double Between(const double* const* d, int i, int j) { return i > j ? d[i][j] : d[j][i]; }

}  // namespace

void getclustermedoids(int nclusters, int nelements, const double* const* distance,
                       const int clusterid[], int centroids[], double errors[]) {
  for (int j = 0; j < nclusters; j++) errors[j] = DBL_MAX;
  for (int i = 0; i < nelements; i++) {
    const int j = clusterid[i];
    double d = 0.0;
    bool complete = true;
    for (int k = 0; k < nelements; k++) {
      if (k == i || clusterid[k] != j) continue;
      d += Between(distance, i, k);
      if (d > errors[j]) {
        complete = false;
        break;
      }
    }
    if (complete && d < errors[j]) {
      errors[j] = d;
      centroids[j] = i;
    }
  }
}

void kmedoids(int nclusters, int nelements, const double* const* distmatrix, int npass,
              int clusterid[], double* error, int* ifound) {
  if (!ifound) return;
  *ifound = 0;
  if (nclusters < 1 || nelements < nclusters || (nelements > 1 && !distmatrix) || !clusterid ||
      !error)
    return;
  *ifound = -1;
  try {
    // Every cluster needs a member: an empty one has no medoid.
    if (npass == 0 && !detail::fullpartition(nclusters, nelements, clusterid)) {
      *ifound = 0;
      return;
    }
    std::vector<int> centroids(nclusters);
    std::vector<double> errors(nclusters);
    std::vector<int> own_tclusterid(npass > 1 ? nelements : 0);
    int* const tclusterid = npass > 1 ? own_tclusterid.data() : clusterid;
    int found = 0;
    *error = DBL_MAX;
    int ipass = 0;
    do {
      double total = DBL_MAX;
      if (npass != 0) detail::randomassign(nclusters, nelements, tclusterid);
      while (true) {
        const double previous = total;
        total = 0.0;
        getclustermedoids(nclusters, nelements, distmatrix, tclusterid, centroids.data(),
                          errors.data());
        for (int i = 0; i < nelements; i++) {
          double distance = DBL_MAX;
          for (int icluster = 0; icluster < nclusters; icluster++) {
            const int j = centroids[icluster];
            if (i == j) {
              distance = 0.0;
              tclusterid[i] = icluster;
              break;
            }
            const double tdistance = Between(distmatrix, i, j);
            if (tdistance < distance) {
              distance = tdistance;
              tclusterid[i] = icluster;
            }
          }
          total += distance;
        }
        if (total >= previous) break;
      }
      if (total < *error) {
        found = 1;
        *error = total;
        for (int j = 0; j < nelements; j++) clusterid[j] = centroids[tclusterid[j]];
      } else {
        bool same = true;
        for (int i = 0; i < nelements && same; i++) same = centroids[tclusterid[i]] == clusterid[i];
        if (same) found++;
      }
    } while (++ipass < npass);
    *ifound = found;
  } catch (const std::bad_alloc&) {
    *ifound = -1;
  }
}

}  // namespace lopper
