// Hierarchical clustering trees: cutting a tree into clusters.
#include "cluster.h"

#include <algorithm>
#include <new>
#include <vector>

namespace lopper {

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
