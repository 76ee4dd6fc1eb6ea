// Cutting a clustering tree into clusters: by merge order (cuttree) or at
// a height (cuttree_height).
#include <algorithm>
#include <cmath>
#include <vector>

#include "cluster_internal.h"

namespace lopper {

namespace detail {

bool orderedtree(int nelements, const Node* tree, char used[]) {
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

}  // namespace detail

namespace {

// Numbers the clusters below the cut of a tree orderedtree accepted, as
// cuttree documents; nodeid: one int per record kept merged, each -1.
void NumberClusters(int nelements, const Node* tree, int nclusters, int clusterid[], int nodeid[]) {
  const int n = nelements - nclusters;  // records below the cut stay merged
  int icluster = 0;
  for (int i = nelements - 2; i >= n; i--) {
    if (tree[i].left >= 0) clusterid[tree[i].left] = icluster++;
    if (tree[i].right >= 0) clusterid[tree[i].right] = icluster++;
  }
  if (nelements == 1) clusterid[0] = icluster;
  // nodeid[k]: cluster of record k, -1 until its parent hands one down.
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
}

}  // namespace

void cuttree(int nelements, const Node* tree, int nclusters, int* clusterid) {
  using detail::Status;
  if (nelements < 1 || !clusterid) return;
  const Status status = detail::guarded([&] {
    std::vector<char> used(static_cast<std::size_t>(2 * nelements - 1), 0);
    if (nclusters < 1 || nclusters > nelements ||
        (nelements > 1 && !detail::orderedtree(nelements, tree, used.data())))
      return Status::kBadArguments;
    std::vector<int> nodeid(static_cast<std::size_t>(nelements - nclusters), -1);
    NumberClusters(nelements, tree, nclusters, clusterid, nodeid.data());
    return Status::kOk;
  });
  if (status != Status::kOk) std::fill(clusterid, clusterid + nelements, -1);
}

namespace {

// Largest height in each record's subtree (its own included), so that a
// subtree counts as below a height only if no merge inside it is above, as
// centroid inversions can put a child above its parent. Children before
// parents, so one pass suffices.
void SubtreeMaxima(int nelements, const Node* tree, double highest[]) {
  for (int i = 0; i < nelements - 1; i++) {
    highest[i] = tree[i].distance;
    for (const int child : {tree[i].left, tree[i].right})
      if (child < 0) highest[i] = std::max(highest[i], highest[-child - 1]);
  }
}

// Numbers the clusters of the cut at height of a tree orderedtree accepted
// and returns how many there are. Root downward, each record learns the
// top record of its cluster (top: one int per record, each -1; stays -1
// above the cut); then clusters are numbered by their first element.
int NumberClustersBelow(int nelements, const Node* tree, double height, const double highest[],
                        int clusterid[], int top[]) {
  // A leaf's cluster key: its top record, or -(leaf + 1) for a leaf alone.
  std::vector<int> key(static_cast<std::size_t>(nelements), -1);
  for (int i = nelements - 2; i >= 0; i--) {
    if (top[i] < 0 && highest[i] <= height) top[i] = i;
    for (const int child : {tree[i].left, tree[i].right}) {
      if (child < 0)
        top[-child - 1] = top[i];
      else
        key[child] = top[i] >= 0 ? top[i] : -(child + 1);
    }
  }
  std::vector<int> number_of_top(static_cast<std::size_t>(std::max(nelements - 1, 0)), -1);
  int nclusters = 0;
  for (int e = 0; e < nelements; e++) {
    if (key[e] < 0) {
      clusterid[e] = nclusters++;
    } else {
      int& number = number_of_top[static_cast<std::size_t>(key[e])];
      if (number < 0) number = nclusters++;
      clusterid[e] = number;
    }
  }
  return nclusters;
}

}  // namespace

int cuttree_height(int nelements, const Node* tree, double height, int* clusterid) {
  using detail::Status;
  if (nelements < 1 || !clusterid) return -1;
  int nclusters = -1;
  const Status status = detail::guarded([&] {
    std::vector<char> used(static_cast<std::size_t>(2 * nelements - 1), 0);
    if (std::isnan(height) || (nelements > 1 && !detail::orderedtree(nelements, tree, used.data())))
      return Status::kBadArguments;
    const std::size_t nrecords = static_cast<std::size_t>(nelements - 1);
    std::vector<double> highest(nrecords);
    std::vector<int> top(nrecords, -1);
    SubtreeMaxima(nelements, tree, highest.data());
    nclusters = NumberClustersBelow(nelements, tree, height, highest.data(), clusterid, top.data());
    return Status::kOk;
  });
  if (status != Status::kOk) {
    std::fill(clusterid, clusterid + nelements, -1);
    return -1;
  }
  return nclusters;
}

}  // namespace lopper
