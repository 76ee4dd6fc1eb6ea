// Optimal leaf ordering of a clustering tree: Bar-Joseph, Gifford &
// Jaakkola (2001), "Fast optimal leaf ordering for hierarchical
// clustering", by dynamic programming over the tree, children first.
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "cluster_internal.h"

namespace lopper {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The tree's leaves in their present order (left subtree first), in which
// every record's leaves, and so every child's, are one contiguous range.
class LeafRanges {
 public:
  LeafRanges(int nelements, const Node* tree)
      : order_(nelements), position_(nelements), begin_(nelements - 1), end_(nelements - 1) {
    std::vector<int> size(nelements - 1);
    for (int r = 0; r < nelements - 1; r++)
      size[r] = Size(size, tree[r].left) + Size(size, tree[r].right);
    begin_[nelements - 2] = 0;
    end_[nelements - 2] = nelements;
    // Root downward: a record's range splits into its children's.
    for (int r = nelements - 2; r >= 0; r--) {
      const int split = begin_[r] + Size(size, tree[r].left);
      Place(tree[r].left, begin_[r], split);
      Place(tree[r].right, split, end_[r]);
    }
  }
  int element(int position) const { return order_[position]; }
  int size(int child) const {
    const auto [b, e] = range(child);
    return e - b;
  }
  int position(int element) const { return position_[element]; }
  // Positions [first, second) of a child reference's leaves.
  std::pair<int, int> range(int child) const {
    if (child >= 0) return {position_[child], position_[child] + 1};
    return {begin_[-child - 1], end_[-child - 1]};
  }
  bool holds(int child, int element) const {
    const auto [b, e] = range(child);
    return position_[element] >= b && position_[element] < e;
  }

 private:
  static int Size(const std::vector<int>& size, int child) {
    return child >= 0 ? 1 : size[-child - 1];
  }
  void Place(int child, int b, int e) {
    if (child >= 0) {
      order_[b] = child;
      position_[child] = b;
    } else {
      begin_[-child - 1] = b;
      end_[-child - 1] = e;
    }
  }

  std::vector<int> order_, position_, begin_, end_;
};

// The dynamic programme: best(i, j) is the smallest sum of neighbour
// distances over the orders of the subtree joined at the lowest common
// record of i and j that start at i and end at j (symmetric; one slot per
// pair, as each pair has one lowest common record).
class LeafOrder {
 public:
  LeafOrder(int nelements, const Node* tree, const double* const* d)
      : n_(nelements),
        tree_(tree),
        d_(d),
        leaves_(nelements, tree),
        best_(static_cast<std::size_t>(nelements) * (nelements - 1) / 2),
        through_(nelements) {}

  // Reports its progress in inner steps, which take about the same time
  // each, as the records' costs differ by orders of magnitude.
  void Fill() {
    std::vector<double> steps(static_cast<std::size_t>(n_ - 1));
    double total = 0, done = 0;
    for (int r = 0; r < n_ - 1; r++) total += steps[r] = Steps(tree_[r]);
    detail::reportprogress("leaf order", 0, static_cast<long>(total));
    for (int r = 0; r < n_ - 1; r++) {
      FillRecord(tree_[r].left, tree_[r].right);
      done += steps[r];
      detail::reportprogress("leaf order", static_cast<long>(done), static_cast<long>(total));
    }
  }
  // Swaps children so that the tree's leaf order is an optimal one.
  void Apply(Node* tree);

 private:
  // For the record joining a (holding i) and b (holding j): the far ends k
  // under a and m under b of an order that attains best(i, j), found by
  // the same sums in the same order as Fill made them.
  std::pair<int, int> FarEndsOfBest(int a, int i, int b, int j) {
    const double target = best(i, j);
    const auto [mb, me] = FarEnds(b, j);
    for (int pm = mb; pm < me; pm++) {
      const int m = leaves_.element(pm);
      const double t = Through(a, i, m);
      if (t + Within(b, m, j) != target) continue;
      const auto [kb, ke] = FarEnds(a, i);
      for (int pk = kb; pk < ke; pk++) {
        const int k = leaves_.element(pk);
        if (Within(a, i, k) + distance(k, m) == t) return {k, m};
      }
    }
    return {i, j};  // not reached: best(i, j) came from one of these sums
  }

  // Sum over the leaves i of child of how many far ends its order from i
  // can reach: 1 for a lone element, 2 |left| |right| for a record.
  double FarEndCount(int child) const {
    if (child >= 0) return 1;
    const Node& r = tree_[-child - 1];
    return 2.0 * leaves_.size(r.left) * leaves_.size(r.right);
  }
  // FillRecord's inner steps for record r: Through for each i under a and
  // m under b, Joined for each i and j.
  double Steps(const Node& r) const {
    return leaves_.size(r.right) * FarEndCount(r.left) +
           leaves_.size(r.left) * FarEndCount(r.right);
  }
  double distance(int a, int b) const { return a > b ? d_[a][b] : d_[b][a]; }
  double& best(int a, int b) {
    if (a < b) std::swap(a, b);
    return best_[static_cast<std::size_t>(a) * (a - 1) / 2 + b];
  }
  // The cost of child's best order from i to k (0 for a lone element).
  double Within(int child, int i, int k) { return child >= 0 ? 0.0 : best(i, k); }
  // Positions of the leaves that can end child's order when it starts at i:
  // those of the other half of child (i itself for a lone element).
  std::pair<int, int> FarEnds(int child, int i) const {
    if (child >= 0) return leaves_.range(child);
    const Node& r = tree_[-child - 1];
    return leaves_.range(leaves_.holds(r.left, i) ? r.right : r.left);
  }
  // Smallest cost of going from i through child a's order to its far end
  // k, then on to element m.
  double Through(int a, int i, int m) {
    double t = kInfinity;
    const auto [kb, ke] = FarEnds(a, i);
    for (int pk = kb; pk < ke; pk++) {
      const int k = leaves_.element(pk);
      t = std::min(t, Within(a, i, k) + distance(k, m));
    }
    return t;
  }
  // best(i, j) for i under a and j under b, entered from b's far end m.
  double Joined(int b, int j, const std::vector<double>& through) {
    double value = kInfinity;
    const auto [mb, me] = FarEnds(b, j);
    for (int pm = mb; pm < me; pm++)
      value = std::min(value, through[pm] + Within(b, leaves_.element(pm), j));
    return value;
  }
  void FillRecord(int a, int b) {
    const auto [ab, ae] = leaves_.range(a);
    const auto [bb, be] = leaves_.range(b);
    for (int pi = ab; pi < ae; pi++) {
      const int i = leaves_.element(pi);
      for (int pm = bb; pm < be; pm++) through_[pm] = Through(a, i, leaves_.element(pm));
      for (int pj = bb; pj < be; pj++) {
        const int j = leaves_.element(pj);
        best(i, j) = Joined(b, j, through_);
      }
    }
  }

  int n_;
  const Node* tree_;
  const double* const* d_;
  LeafRanges leaves_;
  std::vector<double> best_;
  std::vector<double> through_;  // Through(a, i, m) by position of m
};

void LeafOrder::Apply(Node* tree) {
  const int root = n_ - 2;
  // The root's ends: the first pair of least cost.
  int first = -1, last = -1;
  double least = kInfinity;
  const auto [ab, ae] = leaves_.range(tree[root].left);
  const auto [bb, be] = leaves_.range(tree[root].right);
  for (int pi = ab; pi < ae; pi++)
    for (int pj = bb; pj < be; pj++) {
      const int i = leaves_.element(pi), j = leaves_.element(pj);
      if (first < 0 || best(i, j) < least) first = i, last = j, least = best(i, j);
    }
  // Each record once, with the ends its order must run between, first to
  // last.
  struct Span {
    int record, from, to;
  };
  std::vector<Span> pending{{root, first, last}};
  while (!pending.empty()) {
    const Span s = pending.back();
    pending.pop_back();
    Node& r = tree[s.record];
    // Fill's orientation: i under the left child a, j under the right b.
    const int a = r.left, b = r.right;
    const bool forward = leaves_.holds(a, s.from);
    const int i = forward ? s.from : s.to, j = forward ? s.to : s.from;
    const auto [k, m] = FarEndsOfBest(a, i, b, j);
    // The order runs i ... k (under a), then m ... j (under b), or back.
    if (!forward) std::swap(r.left, r.right);
    if (a < 0) pending.push_back({-a - 1, forward ? i : k, forward ? k : i});
    if (b < 0) pending.push_back({-b - 1, forward ? m : j, forward ? j : m});
  }
}

}  // namespace

int optimalleaforder(int nelements, Node* tree, const double* const* distmatrix) {
  using detail::Status;
  if (nelements < 1 || (nelements > 1 && (!tree || !distmatrix))) return 0;
  if (nelements < 3) return 1;  // one or two leaves: every order costs the same
  const Status status = detail::guarded([&] {
    if (!detail::orderedtree(nelements, tree)) return Status::kBadArguments;
    for (int i = 1; i < nelements; i++)
      for (int j = 0; j < i; j++)
        if (!std::isfinite(distmatrix[i][j])) return Status::kNotFinite;
    LeafOrder order(nelements, tree, distmatrix);
    order.Fill();
    order.Apply(tree);
    return Status::kOk;
  });
  return status == Status::kOk ? 1 : 0;
}

}  // namespace lopper
