// Mean silhouette width of a partition: Rousseeuw (1987), "Silhouettes: a
// graphical aid to the interpretation and validation of cluster analysis",
// J. Comput. Appl. Math. 20, 53-65. An element alone in its cluster counts
// as 0, as in the original paper and in scikit-learn's silhouette_score.
#include <algorithm>
#include <cfloat>
#include <vector>

#include "cluster_internal.h"

namespace lopper {

namespace {

// Doubles of per-cluster sums kept at once: elements are taken in blocks
// whose sums fit here, so that the scratch stays O(k) and the upper
// triangle, which the lower-triangular rows hold column-wise, is read in
// contiguous runs of a block's width instead of one entry per row.
constexpr long kSumBudget = 1L << 16;
constexpr int kMinBlock = 8, kMaxBlock = 256;

// The clusters of a partition renumbered 0 ... k-1 in ascending order of
// their ids, with their sizes.
struct Clusters {
  std::vector<int> dense;  // each element's cluster, renumbered
  std::vector<int> size;   // members of each renumbered cluster
};

// kBadArguments for a negative id.
detail::Status Renumber(int nelements, const int clusterid[], Clusters& c) {
  std::vector<int> ids(clusterid, clusterid + nelements);
  std::sort(ids.begin(), ids.end());
  if (ids.front() < 0) return detail::Status::kBadArguments;
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  c.size.assign(ids.size(), 0);
  c.dense.resize(nelements);
  for (int i = 0; i < nelements; i++) {
    const int k =
        static_cast<int>(std::lower_bound(ids.begin(), ids.end(), clusterid[i]) - ids.begin());
    c.dense[i] = k;
    c.size[k]++;
  }
  return detail::Status::kOk;
}

// The sum of the silhouettes of elements lo ... hi-1, given in sums row
// i-lo their summed distances to each cluster's members (their own
// excluded, as d(i, i) is never added).
double BlockSilhouettes(int lo, int hi, int k, const Clusters& c, const double* sums) {
  double total = 0.0;
  for (int i = lo; i < hi; i++) {
    const int own = c.dense[i];
    if (c.size[own] == 1) continue;  // a lone element's silhouette is 0
    const double* row = sums + static_cast<std::size_t>(i - lo) * k;
    const double a = row[own] / (c.size[own] - 1);
    double b = DBL_MAX;
    for (int m = 0; m < k; m++)
      if (m != own) b = std::min(b, row[m] / c.size[m]);
    const double larger = std::max(a, b);
    // a = b = 0 (every distance met is zero): no separation either way.
    if (larger > 0.0) total += (b - a) / larger;
  }
  return total;
}

}  // namespace

double silhouette(int nelements, const double* const* distmatrix, const int clusterid[]) {
  using detail::Status;
  constexpr double kFailure = -2.0;
  if (nelements < 3 || !distmatrix || !clusterid) return kFailure;
  for (int i = 1; i < nelements; i++)
    if (!distmatrix[i]) return kFailure;
  double total = 0.0;
  const Status status = detail::guarded([&] {
    Clusters c;
    if (Renumber(nelements, clusterid, c) != Status::kOk) return Status::kBadArguments;
    const int k = static_cast<int>(c.size.size());
    if (k < 2 || k > nelements - 1) return Status::kBadArguments;
    const int block = std::min(
        nelements, static_cast<int>(std::clamp(kSumBudget / k, long{kMinBlock}, long{kMaxBlock})));
    std::vector<double> sums(static_cast<std::size_t>(block) * k);
    for (int lo = 0; lo < nelements; lo += block) {
      const int hi = std::min(nelements, lo + block);
      std::fill(sums.begin(), sums.end(), 0.0);
      // Each distance is read here as part of its row, so this is where
      // every one is checked: finite and not negative, as dissimilarities.
      bool valid = true;
      for (int i = lo; i < hi; i++) {
        double* row = &sums[static_cast<std::size_t>(i - lo) * k];
        const double* d = distmatrix[i];
        for (int j = 0; j < i; j++) {
          valid &= d[j] >= 0.0 && d[j] <= DBL_MAX;
          row[c.dense[j]] += d[j];
        }
      }
      if (!valid) return Status::kNotFinite;
      // Distances to later elements j: entries lo ... of row j.
      for (int j = lo + 1; j < nelements; j++) {
        const double* d = distmatrix[j];
        const int m = c.dense[j];
        const int end = std::min(j, hi);
        for (int i = lo; i < end; i++) sums[static_cast<std::size_t>(i - lo) * k + m] += d[i];
      }
      total += BlockSilhouettes(lo, hi, k, c, sums.data());
    }
    return Status::kOk;
  });
  return status == Status::kOk ? total / nelements : kFailure;
}

}  // namespace lopper
