// The dynamic tree cut by the shape of the tree alone (cuttree_dynamic).
//
// The method reads the tree as one sequence: the leaves in the tree's leaf
// order (left before right), each with the height at which it joins the
// tree. A static cut at the cut height gives the first branches, runs of
// that sequence; each branch is split where the joining heights climb
// across a level (their mean, or failing that two others), keeping only
// splits with a long enough run below the level before them, and folding
// small low pieces into the piece before them. Deep splitting repeats that
// on the pieces until none splits. Where the paper leaves a rule open, the
// rules below are those of R's dynamicTreeCut (cutreeDynamicTree), so that
// the partitions are R's, its numbering included.
#include <algorithm>
#include <cmath>
#include <vector>

#include "cluster_internal.h"

namespace lopper {

namespace {

// Positions [begin, end) of the leaf order.
struct Span {
  int begin;
  int end;
  int size() const { return end - begin; }
};

// The mean as R's mean() computes it: a long double sum, then a second pass
// that corrects it by the mean deviation, rounded to double last. The cut's
// decisions compare heights with means, so ties must fall as in R.
double MeanOf(const double value[], Span span) {
  const long double count = span.size();
  long double sum = 0;
  for (int i = span.begin; i < span.end; i++) sum += value[i];
  sum /= count;
  if (std::isfinite(static_cast<double>(sum))) {
    long double deviation = 0;
    for (int i = span.begin; i < span.end; i++) deviation += value[i] - sum;
    sum += deviation / count;
  }
  return static_cast<double>(sum);
}

// Whether the tree's heights never decrease toward the root and are finite.
bool MonotoneHeights(int nelements, const Node* tree) {
  for (int i = 0; i < nelements - 1; i++) {
    if (!std::isfinite(tree[i].distance)) return false;
    for (const int child : {tree[i].left, tree[i].right})
      if (child < 0 && tree[-child - 1].distance > tree[i].distance) return false;
  }
  return true;
}

// The leaves in the tree's leaf order (left subtree first, as R's hclust
// orders them) and, by position, the height at which each joins the tree.
// An explicit stack, since a caterpillar tree is as deep as it is wide.
void LeafOrder(int nelements, const Node* tree, std::vector<int>& order,
               std::vector<double>& joins) {
  std::vector<int> parent(static_cast<std::size_t>(nelements));
  for (int i = 0; i < nelements - 1; i++)
    for (const int child : {tree[i].left, tree[i].right})
      if (child >= 0) parent[static_cast<std::size_t>(child)] = i;
  std::vector<int> pending{-(nelements - 1)};
  while (!pending.empty()) {
    const int reference = pending.back();
    pending.pop_back();
    if (reference >= 0) {
      order.push_back(reference);
      joins.push_back(tree[parent[static_cast<std::size_t>(reference)]].distance);
    } else {
      pending.push_back(tree[-reference - 1].right);
      pending.push_back(tree[-reference - 1].left);
    }
  }
}

// The static cut at `height`, by position: the cluster's key when the
// cluster (a largest subtree with no record above height, or a leaf with
// no such subtree) has at least minsize elements, else -1.
std::vector<int> StaticLabels(int nelements, const Node* tree, double height, int minsize,
                              const std::vector<int>& order) {
  const std::size_t nrecords = static_cast<std::size_t>(nelements - 1);
  std::vector<int> top(nrecords, -1);
  // A leaf's key: the top record of its cluster, or nrecords + leaf alone.
  std::vector<int> key(static_cast<std::size_t>(nelements));
  for (int i = nelements - 2; i >= 0; i--) {
    if (top[i] < 0 && tree[i].distance <= height) top[i] = i;
    for (const int child : {tree[i].left, tree[i].right}) {
      if (child < 0)
        top[-child - 1] = top[i];
      else
        key[child] = top[i] >= 0 ? top[i] : static_cast<int>(nrecords) + child;
    }
  }
  std::vector<int> size(nrecords + static_cast<std::size_t>(nelements), 0);
  for (const int k : key) size[k]++;
  std::vector<int> label(static_cast<std::size_t>(nelements));
  for (std::size_t p = 0; p < label.size(); p++) {
    const int k = key[order[p]];
    label[p] = size[k] >= minsize ? k : -1;
  }
  return label;
}

// The static cut's branches, from its labels by position, by R's reading
// of them: a branch starts where a run of one cluster's label starts and
// ends before the next change of label, but a change on the last position
// closes the branch there instead, so that a lone last element joins the
// branch before it (or is left out, after a run of small clusters).
std::vector<Span> StaticBranches(const std::vector<int>& label) {
  const int n = static_cast<int>(label.size());
  std::vector<int> flags;
  for (int p = 0; p < n; p++)
    if ((p == 0 && label[p] >= 0) || (p > 0 && label[p] != label[p - 1]) ||
        (p == n - 1 && label[p] >= 0))
      flags.push_back(p);
  std::vector<Span> branches;
  for (std::size_t f = 0; f + 1 < flags.size(); f++) {
    if (label[flags[f]] < 0) continue;
    if (flags[f + 1] == n - 1) {
      branches.push_back({flags[f], n});
      break;
    }
    branches.push_back({flags[f], flags[f + 1]});
  }
  return branches;
}

// Where a branch (joins: its heights, in order) splits at `level`, as the
// cut ends of its pieces (offsets, the first piece [cuts[0], cuts[1]));
// fewer than three ends: no split. Ends: every climb from below the level
// to above it that follows a run of at least minsize/3 + 1 heights not
// above it (as R counts back to the previous climb, which starts above the
// level, only a first climb with no height above before it, past the first,
// has none), with 1 and the branch's size as outer ends. Then a
// piece lower on average than the piece before it and smaller than
// 2 * minsize joins that piece (only with three pieces or more; the first
// piece's mean leaves out its first height, as R's does), and a last piece
// smaller than minsize - 1 joins the one before it.
void SplitEnds(const double joins[], int size, double level, int minsize, std::vector<int>& ends) {
  ends.assign(1, 1);
  const int tail = minsize / 3 + 1;
  int last_above = -1;
  for (int o = 1; o + 1 < size; o++) {
    if (joins[o] > level) last_above = o;
    if (joins[o] < level && joins[o + 1] > level) {
      const int run = last_above >= 1 ? o - last_above : 0;
      if (run >= tail) ends.push_back(o + 1);
    }
  }
  ends.push_back(size);
  if (ends.size() > 3) {
    std::vector<int> kept{ends[0], ends[1]};
    double before = MeanOf(joins, {ends[0], ends[1]});
    for (std::size_t e = 2; e < ends.size(); e++) {
      const Span piece{kept.back(), ends[e]};
      const double mean = MeanOf(joins, piece);
      if (mean < before && piece.size() < 2LL * minsize) {
        kept.back() = piece.end;
        before = MeanOf(joins, {kept[kept.size() - 2], piece.end});
      } else {
        kept.push_back(piece.end);
        before = mean;
      }
    }
    ends.swap(kept);
  }
  if (ends.size() > 2 && size - ends[ends.size() - 2] + 1 < minsize) ends.erase(ends.end() - 2);
}

// Splits `branch` into pieces appended to `pieces`, at the first level of
// the mean, the midpoint of the mean and the highest height, and the
// midpoint of the mean and the lowest, that splits it; the branch whole
// when none does (and when it is one element, where R stops with an
// error). Returns whether it split.
bool SplitBranch(const std::vector<double>& joins, Span branch, int minsize, std::vector<int>& ends,
                 std::vector<Span>& pieces) {
  if (branch.size() < 2) {
    pieces.push_back(branch);
    return false;
  }
  const double* heights = joins.data() + branch.begin;
  const auto [lowest, highest] = std::minmax_element(heights, heights + branch.size());
  const double mean = MeanOf(heights, {0, branch.size()});
  for (const double level : {mean, (mean + *highest) / 2, (mean + *lowest) / 2}) {
    SplitEnds(heights, branch.size(), level, minsize, ends);
    if (ends.size() > 2) {
      ends.front() = 0;
      for (std::size_t e = 0; e + 1 < ends.size(); e++)
        pieces.push_back({branch.begin + ends[e], branch.begin + ends[e + 1]});
      return true;
    }
  }
  pieces.push_back(branch);
  return false;
}

// The final branches: each static branch split once, or with deepsplit
// split again and again until no piece splits (a piece that does not split
// never will, so only new pieces are tried again).
std::vector<Span> DynamicBranches(const std::vector<double>& joins, std::vector<Span> branches,
                                  int deepsplit, int minsize) {
  std::vector<Span> settled, next;
  std::vector<int> ends;
  if (!deepsplit) {
    for (const Span branch : branches) SplitBranch(joins, branch, minsize, ends, settled);
    return settled;
  }
  while (!branches.empty()) {
    next.clear();
    for (const Span branch : branches)
      if (!SplitBranch(joins, branch, minsize, ends, next)) {
        settled.push_back(branch);
        next.pop_back();
      }
    branches.swap(next);
  }
  return settled;
}

// Numbers the branches of at least minsize elements by size, largest
// first, equal sizes in leaf order; every other element gets -1. Returns
// the number of clusters.
int NumberBranches(std::vector<Span> branches, int minsize, const std::vector<int>& order,
                   int clusterid[]) {
  branches.erase(std::remove_if(branches.begin(), branches.end(),
                                [minsize](Span b) { return b.size() < minsize; }),
                 branches.end());
  std::sort(branches.begin(), branches.end(), [](Span a, Span b) {
    return a.size() != b.size() ? a.size() > b.size() : a.begin < b.begin;
  });
  std::fill(clusterid, clusterid + order.size(), -1);
  for (std::size_t c = 0; c < branches.size(); c++)
    for (int p = branches[c].begin; p < branches[c].end; p++)
      clusterid[order[p]] = static_cast<int>(c);
  return static_cast<int>(branches.size());
}

}  // namespace

int cuttree_dynamic(int nelements, const Node* tree, double cutheight, int deepsplit, int minsize,
                    int* clusterid) {
  using detail::Status;
  if (nelements < 1 || !clusterid) return -1;
  int nclusters = -1;
  const Status status = detail::guarded([&] {
    if (deepsplit < 0 || deepsplit > 1 || minsize < 1) return Status::kBadArguments;
    if (nelements == 1) {
      nclusters = minsize == 1 ? 1 : 0;
      clusterid[0] = nclusters - 1;
      return Status::kOk;
    }
    if (!detail::orderedtree(nelements, tree) || !MonotoneHeights(nelements, tree))
      return Status::kBadArguments;
    const double top = tree[nelements - 2].distance;
    const double height = std::isnan(cutheight) || cutheight > top ? 0.99 * top : cutheight;
    std::vector<int> order;
    std::vector<double> joins;
    order.reserve(static_cast<std::size_t>(nelements));
    joins.reserve(static_cast<std::size_t>(nelements));
    LeafOrder(nelements, tree, order, joins);
    const std::vector<Span> branches =
        StaticBranches(StaticLabels(nelements, tree, height, minsize, order));
    nclusters = NumberBranches(DynamicBranches(joins, branches, deepsplit, minsize), minsize, order,
                               clusterid);
    return Status::kOk;
  });
  return detail::cutresult(status, nelements, clusterid, nclusters);
}

}  // namespace lopper
