// Cutting a phylogenetic tree into the fewest clusters whose leaves satisfy
// a threshold (cuttree_clade).
//
// Clades nest: two clades are disjoint or one holds the other. So the
// fewest clusters take every clade that may be a cluster whole, highest
// first, and split the others into their children's clusters; all that is
// needed is whether each record's clade may be one. Each rule's statistic of
// a record follows from its two children's, in one pass, children before
// parents. A joined record is measured like any other with a branch of
// length 0 above it: the distances between leaves, and so every rule, come
// out as those of the node of many children it belongs to, and it is only
// never a cluster of its own.
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "cluster_internal.h"

namespace lopper {

namespace {

// 'm': the depth of the deepest leaf below a record and the largest
// distance between two of its leaves.
struct MaxRule {
  struct State {
    double depth = 0, widest = 0;
  };
  double threshold;
  State join(const State& a, double la, const State& b, double lb) const {
    const double da = a.depth + la, db = b.depth + lb;
    return {std::max(da, db), std::max({a.widest, b.widest, da + db})};
  }
  bool fits(const State& s) const { return s.widest <= threshold; }
};

// 'a': the leaves, the sum of their depths and the sum of the distances of
// all their pairs, in long double so that the sums over a million leaves
// keep their digits. The mean is compared as sum <= threshold * pairs,
// which has no rounding of its own where the sums are exact.
struct AverageRule {
  struct State {
    long double leaves = 1, depths = 0, pairdistances = 0;
  };
  double threshold;
  State join(const State& a, double la, const State& b, double lb) const {
    const long double da = a.depths + a.leaves * la, db = b.depths + b.leaves * lb;
    return {a.leaves + b.leaves, da + db,
            a.pairdistances + b.pairdistances + da * b.leaves + db * a.leaves};
  }
  bool fits(const State& s) const {
    return s.pairdistances <= threshold * (s.leaves * (s.leaves - 1) / 2);
  }
};

// 's': the total length of the branches below a record.
struct SumRule {
  struct State {
    double total = 0;
  };
  double threshold;
  State join(const State& a, double la, const State& b, double lb) const {
    return {a.total + la + b.total + lb};
  }
  bool fits(const State& s) const { return s.total <= threshold; }
};

// 'l': a clade's leaves are chained by hops within threshold exactly when
// every branch inside it is crossed by such a hop. (If the chained groups
// were several, their spanning subtrees would be disjoint, as two that met
// would have leaves within threshold, so some branch would part them.) The
// shortest hop across a branch runs from the nearest leaf below it to the
// nearest leaf of the clade beyond it, and shortens only as the clade grows
// upward. Of the branches not crossed yet, a record keeps the largest
// distance from itself down through one to the nearest leaf below it: that
// branch is the last a higher clade crosses, through its top.
struct SingleRule {
  struct State {
    double nearest = 0;  // depth of the nearest leaf
    bool open = false;   // some branch is not crossed yet
    double reach = 0;    // the largest such distance, when open
  };
  double threshold;
  State join(const State& a, double la, const State& b, double lb) const {
    const double na = a.nearest + la, nb = b.nearest + lb;
    State s{std::min(na, nb), false, 0};
    if (na + nb > threshold) widen(s, std::max(na, nb));  // both branches to the children
    if (a.open && a.reach + la + nb > threshold) widen(s, a.reach + la);
    if (b.open && b.reach + lb + na > threshold) widen(s, b.reach + lb);
    return s;
  }
  static void widen(State& s, double reach) {
    s.reach = s.open ? std::max(s.reach, reach) : reach;
    s.open = true;
  }
  bool fits(const State& s) const { return !s.open; }
};

bool IsJoined(const char* joined, int r) { return joined && joined[r]; }

// fits[r]: whether record r's clade satisfies rule.
template <class Rule>
void JudgeClades(int nelements, const Node* tree, const double (*lengths)[2], const char* joined,
                 const Rule& rule, std::vector<char>& fits) {
  using State = typename Rule::State;
  std::vector<State> state(static_cast<std::size_t>(nelements - 1));
  const State leaf{};
  auto stateof = [&](int ref) -> const State& { return ref >= 0 ? leaf : state[-ref - 1]; };
  auto lengthof = [&](int ref, double length) {
    return ref < 0 && IsJoined(joined, -ref - 1) ? 0.0 : length;
  };
  for (int r = 0; r < nelements - 1; r++) {
    const int left = tree[r].left, right = tree[r].right;
    state[r] = rule.join(stateof(left), lengthof(left, lengths[r][0]), stateof(right),
                         lengthof(right, lengths[r][1]));
    fits[r] = rule.fits(state[r]);
  }
}

// Clears fits[r] of the records that may not be a cluster: joined ones, and
// those with a branch of support below minsupport inside their clade.
void RuleOutWeakAndJoined(int nelements, const Node* tree, const double* support,
                          const char* joined, double minsupport, std::vector<char>& fits) {
  std::vector<char> weak(static_cast<std::size_t>(nelements - 1), 0);
  for (int r = 0; r < nelements - 1; r++) {
    for (const int child : {tree[r].left, tree[r].right}) {
      const int c = -child - 1;
      if (child < 0 && (weak[c] || (support && !IsJoined(joined, c) && support[c] < minsupport)))
        weak[r] = 1;
    }
    if (weak[r] || IsJoined(joined, r)) fits[r] = 0;
  }
}

// Numbers the clusters, each the clade of the highest record that fits
// above its leaves or a leaf alone, in the order of their first elements;
// returns how many there are.
int NumberClades(int nelements, const Node* tree, const std::vector<char>& fits, int clusterid[]) {
  const std::size_t nrecords = static_cast<std::size_t>(nelements - 1);
  // top[r]: the record whose clade holds record r's as a cluster, or -1.
  std::vector<int> top(nrecords, -1);
  // Each leaf's top record, or -1 for a leaf alone.
  std::vector<int> key(static_cast<std::size_t>(nelements), -1);
  for (int r = nelements - 2; r >= 0; r--) {
    if (top[r] < 0 && fits[r]) top[r] = r;
    for (const int child : {tree[r].left, tree[r].right}) {
      if (child < 0)
        top[-child - 1] = top[r];
      else
        key[child] = top[r];
    }
  }
  std::vector<int> number_of_top(nrecords, -1);
  int nclusters = 0;
  for (int e = 0; e < nelements; e++) {
    if (key[e] < 0) {
      clusterid[e] = nclusters++;
    } else {
      int& number = number_of_top[key[e]];
      if (number < 0) number = nclusters++;
      clusterid[e] = number;
    }
  }
  return nclusters;
}

detail::Status CheckArguments(int nelements, const Node* tree, const double (*lengths)[2],
                              const char* joined, char rule, double threshold) {
  using detail::Status;
  if (std::isnan(threshold) || (rule != 'm' && rule != 'a' && rule != 's' && rule != 'l'))
    return Status::kBadArguments;
  if (nelements == 1) return Status::kOk;
  if (!lengths || !detail::orderedtree(nelements, tree) || IsJoined(joined, nelements - 2))
    return Status::kBadArguments;
  for (int r = 0; r < nelements - 1; r++)
    if (!(lengths[r][0] >= 0 && lengths[r][1] >= 0)) return Status::kBadArguments;
  return Status::kOk;
}

// The branch lengths of a tree of heights (lengths null): a record's
// distance less its child's, a leaf's height being 0. Null for a tree not
// of cuttree's form, whose references cannot be followed.
std::unique_ptr<double[][2]> HeightDifferences(int nelements, const Node* tree) {
  if (!detail::orderedtree(nelements, tree)) return nullptr;
  std::unique_ptr<double[][2]> lengths(new double[static_cast<std::size_t>(nelements - 1)][2]);
  for (int r = 0; r < nelements - 1; r++) {
    const int children[2] = {tree[r].left, tree[r].right};
    for (int side = 0; side < 2; side++)
      lengths[r][side] =
          tree[r].distance - (children[side] < 0 ? tree[-children[side] - 1].distance : 0.0);
  }
  return lengths;
}

}  // namespace

int cuttree_clade(int nelements, const Node* tree, const double (*lengths)[2],
                  const double* support, const char* joined, char rule, double threshold,
                  double minsupport, int* clusterid) {
  using detail::Status;
  if (nelements < 1 || !clusterid) return -1;
  int nclusters = -1;
  const Status status = detail::guarded([&] {
    std::unique_ptr<double[][2]> differences;
    if (!lengths && nelements > 1) {
      differences = HeightDifferences(nelements, tree);
      lengths = differences.get();
    }
    const Status valid = CheckArguments(nelements, tree, lengths, joined, rule, threshold);
    if (valid != Status::kOk) return valid;
    std::vector<char> fits(static_cast<std::size_t>(nelements - 1), 0);
    if (rule == 'm')
      JudgeClades(nelements, tree, lengths, joined, MaxRule{threshold}, fits);
    else if (rule == 'a')
      JudgeClades(nelements, tree, lengths, joined, AverageRule{threshold}, fits);
    else if (rule == 's')
      JudgeClades(nelements, tree, lengths, joined, SumRule{threshold}, fits);
    else
      JudgeClades(nelements, tree, lengths, joined, SingleRule{threshold}, fits);
    RuleOutWeakAndJoined(nelements, tree, support, joined, minsupport, fits);
    nclusters = NumberClades(nelements, tree, fits, clusterid);
    return Status::kOk;
  });
  return detail::cutresult(status, nelements, clusterid, nclusters);
}

}  // namespace lopper
