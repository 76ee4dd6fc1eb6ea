// Hierarchical clustering: single, maximum, average and centroid linkage,
// and cutting a tree into clusters.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "cluster_internal.h"
#include "linkage.h"

namespace lopper {
namespace detail {

double find_closest_pair(int n, const double* const* distmatrix, int* ip, int* jp) {
  double distance = distmatrix[1][0];
  *ip = 1;
  *jp = 0;
  for (int i = 1; i < n; i++)
    for (int j = 0; j < i; j++)
      if (distmatrix[i][j] < distance) {
        distance = distmatrix[i][j];
        *ip = i;
        *jp = j;
      }
  return distance;
}

Node* pmlcluster(int nelements, double** distmatrix) {
  return PairwiseLinkage<RowMinima>(nelements, distmatrix, false);
}

Node* palcluster(int nelements, double** distmatrix) {
  return PairwiseLinkage<RowMinima>(nelements, distmatrix, true);
}

Node* pclcluster(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                 const double weight[], double** distmatrix, char dist, int transpose) {
  return CentroidLinkage<RowMinima>(nrows, ncolumns, data, mask, weight, distmatrix, dist,
                                    transpose);
}

// Single linkage by SLINK (Sibson 1973): the pointer representation pi,
// lambda is built one element at a time in O(n^2) time and O(n) memory, then
// turned into merge records sorted by height. Null also when a distance is
// not finite.
Node* pslcluster(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                 const double weight[], const double* const* distmatrix, char dist, int transpose) {
  const int nelements = transpose ? ncolumns : nrows;
  const int ndata = transpose ? nrows : ncolumns;
  if (nelements < 2) return nullptr;
  Node* result = NewTree(nelements);
  if (!result) return nullptr;
  try {
    std::vector<double> temp(nelements - 1);
    std::vector<int> index(nelements);
    std::vector<int> vector(nelements - 1);
    std::optional<Measure> measure;
    if (!distmatrix) measure.emplace(dist, ndata);
    for (int j = 0; j < nelements - 1; j++) {
      vector[j] = j;
      result[j].distance = DBL_MAX;
    }
    for (int i = 0; i < nelements; i++) {
      for (int j = 0; j < i; j++) {
        temp[j] = distmatrix ? distmatrix[i][j]
                             : (*measure)(data, data, mask, mask, weight, i, j, transpose);
        if (!std::isfinite(temp[j])) {
          release(result);
          return nullptr;
        }
      }
      for (int j = 0; j < i; j++) {
        const int k = vector[j];
        if (result[j].distance >= temp[j]) {
          if (result[j].distance < temp[k]) temp[k] = result[j].distance;
          result[j].distance = temp[j];
          vector[j] = i;
        } else if (temp[j] < temp[k]) {
          temp[k] = temp[j];
        }
      }
      for (int j = 0; j < i; j++)
        if (vector[j] != i && result[j].distance >= result[vector[j]].distance) vector[j] = i;
    }
    for (int j = 0; j < nelements - 1; j++) result[j].left = j;
    // Stable, so that records of equal height keep their element order.
    std::stable_sort(result, result + nelements - 1,
                     [](const Node& a, const Node& b) { return nodecompare(a, b) < 0; });
    for (int e = 0; e < nelements; e++) index[e] = e;
    for (int i = 0; i < nelements - 1; i++) {
      const int j = result[i].left;
      const int k = vector[j];
      result[i].left = index[j];
      result[i].right = index[k];
      index[k] = -(i + 1);
    }
  } catch (const std::bad_alloc&) {
    release(result);
    return nullptr;
  }
  return result;
}

int nodecompare(const Node& a, const Node& b) {
  if (a.distance < b.distance) return -1;
  if (a.distance > b.distance) return 1;
  return 0;
}

}  // namespace detail

Node* treecluster(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                  const double weight[], int transpose, char dist, char method,
                  double** distmatrix) {
  const int nelements = transpose ? ncolumns : nrows;
  if (nrows < 0 || ncolumns < 0 || nelements < 2) return nullptr;
  if (std::string("smac").find(method) == std::string::npos) return nullptr;
  // Centroid linkage measures between member means even on a caller's
  // matrix; a value that is not finite would give NaN distances.
  if (!distmatrix || method == 'c') {
    const int ndata = transpose ? nrows : ncolumns;
    if ((ndata > 0 && !weight) || !detail::finitedata(nrows, ncolumns, data, mask)) return nullptr;
  }
  double** built = nullptr;
  if (!distmatrix && method != 's') {
    built = distancematrix(nrows, ncolumns, data, mask, weight, dist, transpose);
    if (!built) return nullptr;
    distmatrix = built;
  }
  Node* result = nullptr;
  // A tree over NaN or infinite distances would depend on how they compare.
  bool finite = true;
  for (int i = 1; distmatrix && i < nelements && finite; i++)
    for (int j = 0; j < i; j++) finite = finite && std::isfinite(distmatrix[i][j]);
  if (finite) switch (method) {
      case 'c':
        result =
            detail::pclcluster(nrows, ncolumns, data, mask, weight, distmatrix, dist, transpose);
        break;
      case 'a':
        result = detail::palcluster(nelements, distmatrix);
        break;
      case 'm':
        result = detail::pmlcluster(nelements, distmatrix);
        break;
      default:
        result =
            detail::pslcluster(nrows, ncolumns, data, mask, weight, distmatrix, dist, transpose);
        break;
    }
  if (built) {
    for (int i = 1; i < nelements; i++) detail::release(built[i]);
    detail::release(built);
  }
  return result;
}

namespace {

// True when tree is nelements-1 records, children before parents, in which
// every element and every record but the last is a child exactly once (so
// the last is the root and there is no cycle). used: 2 * nelements - 1 slots.
bool OrderedTree(int nelements, const Node* tree, std::vector<char>& used) {
  if (!tree) return false;
  for (int r = 0; r < nelements - 1; r++)
    for (const int child : {tree[r].left, tree[r].right}) {
      if (child >= nelements || child < -r) return false;
      char& seen = used[child >= 0 ? child : nelements - child - 1];
      if (seen) return false;
      seen = 1;
    }
  // 2(n-1) distinct children among n elements and the n-2 non-root records:
  // every one of them occurs.
  return true;
}

}  // namespace

void cuttree(int nelements, const Node* tree, int nclusters, int* clusterid) {
  if (nelements < 1 || !clusterid) return;
  try {
    std::vector<char> used(static_cast<std::size_t>(2 * nelements - 1), 0);
    if (nclusters < 1 || nclusters > nelements ||
        (nelements > 1 && !OrderedTree(nelements, tree, used))) {
      std::fill(clusterid, clusterid + nelements, -1);
      return;
    }
    const int n = nelements - nclusters;  // records below the cut stay merged
    int icluster = 0;
    for (int i = nelements - 2; i >= n; i--) {
      if (tree[i].left >= 0) clusterid[tree[i].left] = icluster++;
      if (tree[i].right >= 0) clusterid[tree[i].right] = icluster++;
    }
    if (nelements == 1) clusterid[0] = icluster;
    // nodeid[k]: cluster of record k, -1 until its parent hands one down.
    std::vector<int> nodeid(static_cast<std::size_t>(n), -1);
    for (int i = n - 1; i >= 0; i--) {
      if (nodeid[i] < 0) nodeid[i] = icluster++;
      const int j = nodeid[i];
      for (const int child : {tree[i].left, tree[i].right}) {
        if (child >= 0)
          clusterid[child] = j;
        else
          nodeid[-child - 1] = j;
      }
    }
  } catch (const std::bad_alloc&) {
    std::fill(clusterid, clusterid + nelements, -1);
  }
}

}  // namespace lopper
