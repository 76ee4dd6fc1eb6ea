// Hierarchical clustering: single, maximum, average and centroid linkage,
// and cutting a tree into clusters.
#include <algorithm>
#include <cfloat>
#include <new>
#include <vector>

#include "cluster_internal.h"

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

namespace {

Node* NewTree(int nelements) {
  return static_cast<Node*>(allocate((nelements - 1) * sizeof(Node)));
}

// Slot `last` takes the place of slot `is` in the active triangle.
void MoveSlot(double** d, int is, int last) {
  for (int x = 0; x < is; x++) d[is][x] = d[last][x];
  for (int x = is + 1; x < last; x++) d[x][is] = d[last][x];
}

// Maximum or average linkage (the Lance-Williams update of the two) by
// repeated closest-pair scans of the matrix: O(n^3) time, no extra matrix.
Node* PairwiseLinkage(int nelements, double** d, bool average) {
  if (nelements < 2) return nullptr;
  Node* result = NewTree(nelements);
  if (!result) return nullptr;
  try {
    std::vector<int> clusterid(nelements);
    std::vector<int> number(average ? nelements : 0, 1);
    for (int i = 0; i < nelements; i++) clusterid[i] = i;
    for (int n = nelements; n > 1; n--) {
      const int k = nelements - n;
      int is, js;
      result[k].distance = find_closest_pair(n, d, &is, &js);
      result[k].left = clusterid[is];
      result[k].right = clusterid[js];
      const double scale = average ? 1.0 / (number[is] + number[js]) : 0.0;
      auto merged = [&](double a, double b) {
        if (!average) return std::max(a, b);
        return (number[is] * a + number[js] * b) * scale;
      };
      for (int x = 0; x < js; x++) d[js][x] = merged(d[is][x], d[js][x]);
      for (int x = js + 1; x < is; x++) d[x][js] = merged(d[is][x], d[x][js]);
      for (int x = is + 1; x < n; x++) d[x][js] = merged(d[x][is], d[x][js]);
      MoveSlot(d, is, n - 1);
      if (average) {
        number[js] += number[is];
        number[is] = number[n - 1];
      }
      clusterid[js] = -(k + 1);
      clusterid[is] = clusterid[n - 1];
    }
  } catch (const std::bad_alloc&) {
    release(result);
    return nullptr;
  }
  return result;
}

}  // namespace

Node* pmlcluster(int nelements, double** distmatrix) {
  return PairwiseLinkage(nelements, distmatrix, false);
}

Node* palcluster(int nelements, double** distmatrix) {
  return PairwiseLinkage(nelements, distmatrix, true);
}

// Centroid linkage: merged clusters get the mean profile of their members
// (per dimension, over present values; the mask holds the counts) and their
// distances are recomputed from it.
Node* pclcluster(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                 const double weight[], double** distmatrix, char dist, int transpose) {
  const int nelements = transpose ? ncolumns : nrows;
  const int ndata = transpose ? nrows : ncolumns;
  if (nelements < 2) return nullptr;
  const Metric metric = setmetric(dist);
  std::vector<int> distid;
  try {
    distid.resize(nelements);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  Node* result = NewTree(nelements);
  if (!result) return nullptr;
  double** newdata;
  int** newmask;
  if (!makedatamask(nelements, ndata, &newdata, &newmask)) {
    release(result);
    return nullptr;
  }
  for (int i = 0; i < nelements; i++) {
    distid[i] = i;
    for (int j = 0; j < ndata; j++) {
      newdata[i][j] = transpose ? data[j][i] : data[i][j];
      newmask[i][j] = transpose ? mask[j][i] : mask[i][j];
    }
  }
  double** const d = distmatrix;
  for (int inode = 0; inode < nelements - 1; inode++) {
    const int last = nelements - inode - 1;
    int is, js;
    result[inode].distance = find_closest_pair(last + 1, d, &is, &js);
    result[inode].left = distid[js];
    result[inode].right = distid[is];
    for (int x = 0; x < ndata; x++) {
      newdata[js][x] = newdata[js][x] * newmask[js][x] + newdata[is][x] * newmask[is][x];
      newmask[js][x] += newmask[is][x];
      if (newmask[js][x]) newdata[js][x] *= 1.0 / newmask[js][x];
    }
    release(newdata[is]);
    release(newmask[is]);
    newdata[is] = newdata[last];
    newmask[is] = newmask[last];
    distid[is] = distid[last];
    MoveSlot(d, is, last);
    distid[js] = -(inode + 1);
    for (int x = 0; x < js; x++)
      d[js][x] = metric(ndata, newdata, newdata, newmask, newmask, weight, js, x, 0);
    for (int x = js + 1; x < last; x++)
      d[x][js] = metric(ndata, newdata, newdata, newmask, newmask, weight, js, x, 0);
  }
  freedatamask(1, newdata, newmask);
  return result;
}

// Single linkage by SLINK (Sibson 1973): the pointer representation pi,
// lambda is built one element at a time in O(n^2) time and O(n) memory, then
// turned into merge records sorted by height.
Node* pslcluster(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                 const double weight[], const double* const* distmatrix, char dist,
                 int transpose) {
  const int nelements = transpose ? ncolumns : nrows;
  const int ndata = transpose ? nrows : ncolumns;
  if (nelements < 2) return nullptr;
  Node* result = NewTree(nelements);
  if (!result) return nullptr;
  try {
    std::vector<double> temp(nelements - 1);
    std::vector<int> index(nelements);
    std::vector<int> vector(nelements - 1);
    const Metric metric = setmetric(dist);
    for (int j = 0; j < nelements - 1; j++) {
      vector[j] = j;
      result[j].distance = DBL_MAX;
    }
    for (int i = 0; i < nelements; i++) {
      for (int j = 0; j < i; j++)
        temp[j] = distmatrix ? distmatrix[i][j]
                             : metric(ndata, data, data, mask, mask, weight, i, j, transpose);
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
  if (nelements < 2) return nullptr;
  double** built = nullptr;
  if (!distmatrix && method != 's') {
    built = distancematrix(nrows, ncolumns, data, mask, weight, dist, transpose);
    if (!built) return nullptr;
    distmatrix = built;
  }
  Node* result = nullptr;
  switch (method) {
    case 'c':
      result = detail::pclcluster(nrows, ncolumns, data, mask, weight, distmatrix, dist, transpose);
      break;
    case 'a': result = detail::palcluster(nelements, distmatrix); break;
    case 'm': result = detail::pmlcluster(nelements, distmatrix); break;
    case 's':
      result = detail::pslcluster(nrows, ncolumns, data, mask, weight, distmatrix, dist, transpose);
      break;
    default: break;
  }
  if (built) {
    for (int i = 1; i < nelements; i++) detail::release(built[i]);
    detail::release(built);
  }
  return result;
}

void cuttree(int nelements, const Node* tree, int nclusters, int* clusterid) {
  if (nelements < 1) return;
  if (nclusters < 1 || nclusters > nelements) {
    std::fill(clusterid, clusterid + nelements, -1);
    return;
  }
  const int n = nelements - nclusters;  // records below the cut stay merged
  int icluster = 0;
  for (int i = nelements - 2; i >= n; i--) {
    if (tree[i].left >= 0) clusterid[tree[i].left] = icluster++;
    if (tree[i].right >= 0) clusterid[tree[i].right] = icluster++;
  }
  try {
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
