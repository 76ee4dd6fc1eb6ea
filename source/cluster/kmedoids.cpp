// k-medoids: relocation around cluster members, from a distance matrix.
#include <cfloat>
#include <optional>
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

namespace {

// Each element to the closest medoid, its own cluster when it is one; the
// sum of the distances to the medoids chosen.
double AssignToMedoids(int nclusters, int nelements, const double* const* distmatrix,
                       const int centroids[], int clusterid[]) {
  double total = 0.0;
  for (int i = 0; i < nelements; i++) {
    double distance = DBL_MAX;
    for (int icluster = 0; icluster < nclusters; icluster++) {
      const int j = centroids[icluster];
      if (i == j) {
        distance = 0.0;
        clusterid[i] = icluster;
        break;
      }
      const double tdistance = Between(distmatrix, i, j);
      if (tdistance < distance) {
        distance = tdistance;
        clusterid[i] = icluster;
      }
    }
    total += distance;
  }
  return total;
}

// The storage of the passes, obtained before any output is written (the
// constructor may throw std::bad_alloc).
struct MedoidScratch {
  MedoidScratch(int nclusters, int nelements, int npass) : centroids(nclusters), errors(nclusters) {
    if (npass > 1) competing.emplace(nelements);
  }
  std::vector<int> centroids;  // each cluster's medoid
  std::vector<double> errors;  // each medoid's sum of distances
  // The current partition when passes compete, apart from the best.
  std::optional<std::vector<int>> competing;
};

// Medoids and assignment in turn from the partition in tclusterid until
// the total stops falling; that total.
double ConvergeMedoids(int nclusters, int nelements, const double* const* distmatrix,
                       MedoidScratch& s, int tclusterid[]) {
  double total = DBL_MAX;
  while (true) {
    const double previous = total;
    getclustermedoids(nclusters, nelements, distmatrix, tclusterid, s.centroids.data(),
                      s.errors.data());
    total = AssignToMedoids(nclusters, nelements, distmatrix, s.centroids.data(), tclusterid);
    if (total >= previous) return total;
  }
}

// The passes: the best partition goes into clusterid as medoid numbers,
// the current one is in tclusterid (clusterid itself unless passes compete,
// the cluster numbers then replaced by medoids). Returns ifound.
int MedoidPasses(int nclusters, int nelements, const double* const* distmatrix, int npass,
                 MedoidScratch& s, int clusterid[], double* error) {
  int* const tclusterid = s.competing ? s.competing->data() : clusterid;
  int found = 0;
  *error = DBL_MAX;
  int ipass = 0;
  do {
    if (npass != 0) detail::randomassign(nclusters, nelements, tclusterid);
    const double total = ConvergeMedoids(nclusters, nelements, distmatrix, s, tclusterid);
    const int* const medoid = s.centroids.data();
    if (total < *error) {
      found = 1;
      *error = total;
      for (int j = 0; j < nelements; j++) clusterid[j] = medoid[tclusterid[j]];
    } else {
      bool same = true;
      for (int i = 0; i < nelements && same; i++) same = medoid[tclusterid[i]] == clusterid[i];
      if (same) found++;
    }
  } while (++ipass < npass);
  return found;
}

}  // namespace

void kmedoids(int nclusters, int nelements, const double* const* distmatrix, int npass,
              int clusterid[], double* error, int* ifound) {
  using detail::Status;
  if (!ifound) return;
  *ifound = 0;
  if (nclusters < 1 || nelements < nclusters || (nelements > 1 && !distmatrix) || !clusterid ||
      !error)
    return;
  int found = 0;
  const Status status = detail::guarded([&] {
    // Every cluster needs a member: an empty one has no medoid.
    if (npass == 0) {
      const Status given = detail::checkpartition(nclusters, nelements, clusterid);
      if (given != Status::kOk) return given;
    }
    MedoidScratch scratch(nclusters, nelements, npass);
    found = MedoidPasses(nclusters, nelements, distmatrix, npass, scratch, clusterid, error);
    return Status::kOk;
  });
  *ifound = detail::ifoundfor(status, found);
}

}  // namespace lopper
