// Cutting a clustering tree into clusters: by merge order (cuttree), at a
// height (cuttree_height) or where its merges are consistent
// (cuttree_inconsistent); leaving out the clusters too small to keep
// (dropsmallclusters).
#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "cluster_internal.h"

namespace lopper {

namespace detail {

bool orderedtree(int nelements, const Node* tree) {
  if (nelements < 2 || !tree) return false;
  // Slots 0 ... nelements-1 for the elements, then one per record.
  std::vector<char> used(static_cast<std::size_t>(2 * nelements - 1), 0);
  for (int r = 0; r < nelements - 1; r++)
    for (const int child : {tree[r].left, tree[r].right}) {
      if (child >= nelements || child < -r) return false;
      char& seen = used[static_cast<std::size_t>(child >= 0 ? child : nelements - child - 1)];
      if (seen) return false;
      seen = 1;
    }
  // 2(n-1) distinct children among n elements and the n-2 non-root records:
  // every one of them occurs.
  return true;
}

}  // namespace detail

int istree(int nelements, const Node* tree) {
  bool ordered = false;
  const detail::Status status = detail::guarded([&] {
    ordered = detail::orderedtree(nelements, tree);
    return detail::Status::kOk;
  });
  if (status != detail::Status::kOk) return -1;
  return ordered ? 1 : 0;
}

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
    if (nclusters < 1 || nclusters > nelements ||
        (nelements > 1 && !detail::orderedtree(nelements, tree)))
      return Status::kBadArguments;
    std::vector<int> nodeid(static_cast<std::size_t>(nelements - nclusters), -1);
    NumberClusters(nelements, tree, nclusters, clusterid, nodeid.data());
    return Status::kOk;
  });
  if (status != Status::kOk) std::fill(clusterid, clusterid + nelements, -1);
}

namespace {

// Largest value of each record's subtree (its own included; value[i] of
// record i) into highest, so that a subtree counts as below a threshold
// only if no merge inside it is above, as centroid inversions can put a
// child above its parent. Children before parents, so one pass suffices.
void SubtreeMaxima(int nelements, const Node* tree, const double value[], double highest[]) {
  for (int i = 0; i < nelements - 1; i++) {
    highest[i] = value[i];
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
    if (std::isnan(height) || (nelements > 1 && !detail::orderedtree(nelements, tree)))
      return Status::kBadArguments;
    const std::size_t nrecords = static_cast<std::size_t>(nelements - 1);
    std::vector<double> heights(nrecords), highest(nrecords);
    std::vector<int> top(nrecords, -1);
    for (std::size_t i = 0; i < nrecords; i++) heights[i] = tree[i].distance;
    SubtreeMaxima(nelements, tree, heights.data(), highest.data());
    nclusters = NumberClustersBelow(nelements, tree, height, highest.data(), clusterid, top.data());
    return Status::kOk;
  });
  return detail::cutresult(status, nelements, clusterid, nclusters);
}

namespace {

// Record i's statistics over the heights of the records at most depth
// levels down from it (itself the first level): their mean, standard
// deviation (n - 1 in the divisor; 0 for one height), count, and the
// coefficient (height - mean) / deviation (0 without deviation). stack:
// scratch of 2 * nelements pairs.
void Statistics(const Node* tree, int i, int depth, std::vector<std::pair<int, int>>& stack,
                double out[4]) {
  double sum = 0, squares = 0;
  int count = 0;
  stack.assign(1, {i, 1});
  while (!stack.empty()) {
    const auto [r, level] = stack.back();
    stack.pop_back();
    sum += tree[r].distance;
    squares += tree[r].distance * tree[r].distance;
    count++;
    if (level < depth)
      for (const int child : {tree[r].left, tree[r].right})
        if (child < 0) stack.emplace_back(-child - 1, level + 1);
  }
  const double mean = sum / count;
  const double variance = count > 1 ? (squares - sum * sum / count) / (count - 1) : 0.0;
  const double deviation = variance > 0 ? std::sqrt(variance) : 0.0;
  out[0] = mean;
  out[1] = deviation;
  out[2] = count;
  out[3] = deviation > 0 ? (tree[i].distance - mean) / deviation : 0.0;
}

}  // namespace

int inconsistent(int nelements, const Node* tree, int depth, double stats[][4]) {
  using detail::Status;
  if (nelements < 2 || depth < 1 || !stats) return 0;
  const Status status = detail::guarded([&] {
    if (!detail::orderedtree(nelements, tree)) return Status::kBadArguments;
    std::vector<std::pair<int, int>> stack;
    stack.reserve(2 * static_cast<std::size_t>(nelements));
    for (int i = 0; i < nelements - 1; i++) Statistics(tree, i, depth, stack, stats[i]);
    return Status::kOk;
  });
  return status == Status::kOk;
}

int cuttree_inconsistent(int nelements, const Node* tree, double threshold, int depth,
                         int* clusterid) {
  using detail::Status;
  if (nelements < 1 || !clusterid) return -1;
  int nclusters = -1;
  const Status status = detail::guarded([&] {
    if (std::isnan(threshold) || depth < 1) return Status::kBadArguments;
    if (nelements == 1) {
      clusterid[0] = 0;
      nclusters = 1;
      return Status::kOk;
    }
    const std::size_t nrecords = static_cast<std::size_t>(nelements - 1);
    const std::unique_ptr<double[][4]> stats(new double[nrecords][4]);
    std::vector<double> coefficient(nrecords), highest(nrecords);
    if (!inconsistent(nelements, tree, depth, stats.get())) return Status::kBadArguments;
    for (std::size_t i = 0; i < nrecords; i++) coefficient[i] = stats[i][3];
    std::vector<int> top(nrecords, -1);
    SubtreeMaxima(nelements, tree, coefficient.data(), highest.data());
    nclusters =
        NumberClustersBelow(nelements, tree, threshold, highest.data(), clusterid, top.data());
    return Status::kOk;
  });
  return detail::cutresult(status, nelements, clusterid, nclusters);
}

int dropsmallclusters(int nelements, int* clusterid, int minsize) {
  using detail::Status;
  if (nelements < 0 || (nelements > 0 && !clusterid) || minsize < 1) return -1;
  int nkept = 0;
  const Status status = detail::guarded([&] {
    // Numbers are at most nelements - 1 for a partition of nelements; a
    // larger one is not a cluster number this routine can keep apart.
    std::vector<int> size(static_cast<std::size_t>(nelements), 0);
    for (int e = 0; e < nelements; e++) {
      if (clusterid[e] < -1 || clusterid[e] >= nelements) return Status::kBadArguments;
      if (clusterid[e] >= 0) size[static_cast<std::size_t>(clusterid[e])]++;
    }
    std::vector<int> renumbered(static_cast<std::size_t>(nelements), -1);
    for (int c = 0; c < nelements; c++)
      if (size[static_cast<std::size_t>(c)] >= minsize)
        renumbered[static_cast<std::size_t>(c)] = nkept++;
    for (int e = 0; e < nelements; e++)
      if (clusterid[e] >= 0) clusterid[e] = renumbered[static_cast<std::size_t>(clusterid[e])];
    return Status::kOk;
  });
  return status == Status::kOk ? nkept : -1;
}

}  // namespace lopper
