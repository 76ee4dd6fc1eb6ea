// The hybrid dynamic tree cut, by the tree and the distances
// (cuttree_hybrid), after Langfelder, Zhang & Horvath (Bioinformatics 2008)
// as R's dynamicTreeCut::cutreeHybrid applies it.
//
// The merges below the cut are read children first. A run of leaves
// merged together (a basic branch) grows until it meets another branch;
// then each of the two that is basic and fails a cluster's tests (too
// small, too loose a core, too small a gap to the merge, a merge below the
// split height) is absorbed by the other, and when neither fails both are
// kept apart under a composite branch. The basic branches never absorbed
// that pass the tests again at the end are the clusters. With the PAM
// stage, a leftover element, or a group of them absorbed whole because it
// was only too small, then joins the cluster below the composite it came
// to that lies nearest on average, if that is within the cluster's spread
// or within the PAM distance.
//
// The core of a basic branch is its leading leaves in the order they
// joined (a prefix that only grows), so the sum of its pair distances is
// extended, never recomputed. The stage's averages need only the distances
// within clusters and between seekers and their candidate clusters; they
// are gathered row by row of the lower triangle, so that memory is read
// in order, with candidates of a composite numbered contiguously.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "cluster_internal.h"

namespace lopper {

namespace {

using detail::Status;

constexpr int kNone = -1;
// No branch: -1 is composite 0.
constexpr int kNoBranch = std::numeric_limits<int>::min();
// Accumulators per PAM pass: seekers beyond it wait for another pass.
constexpr std::size_t kSlotsPerPass = std::size_t{1} << 20;

double Distance(const double* const* d, int i, int j) { return i > j ? d[i][j] : d[j][i]; }

// The thresholds of R's cutreeHybrid for a deepSplit level, from the
// reference height (the merge 5% of the way through the records) and the
// cut.
struct Criteria {
  double cut;         // merges above are not read
  double maxscatter;  // a cluster's core scatter stays below
  double mingap;      // a cluster's merge lies above its core scatter by more
  double minsplit;    // merges below are always absorbed (R: the reference height)
  double maxpam;      // a seeker always joins a cluster nearer than this
  int minsize;
};

Criteria SettleCriteria(int nelements, const Node* tree, double cutheight, int deepsplit,
                        int minsize) {
  static constexpr double kMaxCoreScatter[] = {0.64, 0.73, 0.82, 0.91, 0.95};
  const int nmerges = nelements - 1;
  // R's round(): halves to even, as nearbyint in the default rounding mode.
  const int refmerge = std::max(1, static_cast<int>(std::nearbyint(nmerges * 0.05)));
  const double ref = tree[refmerge - 1].distance;
  double top = tree[0].distance;
  for (int r = 1; r < nmerges; r++) top = std::max(top, tree[r].distance);
  Criteria c{};
  // The PAM distance is the cut as given, before it is lowered to the top.
  if (std::isnan(cutheight)) {
    c.cut = c.maxpam = 0.99 * (top - ref) + ref;
  } else {
    c.cut = std::min(cutheight, top);
    c.maxpam = cutheight;
  }
  const double scatter = kMaxCoreScatter[deepsplit];
  c.maxscatter = ref + scatter * (c.cut - ref);
  c.mingap = (1 - scatter) * 3 / 4 * (c.cut - ref);
  c.minsplit = ref;
  c.minsize = minsize;
  return c;
}

// How many leading leaves of a basic branch of `size` leaves make its core.
int CoreSize(int size, int minsize) {
  const double base = minsize / 2.0 + 1;
  return base < size ? static_cast<int>(base + std::sqrt(size - base)) : size;
}

// A branch reference: basic branch b as b, composite c as -(c + 1).
bool IsBasic(int branch) { return branch >= 0; }
int CompositeIndex(int branch) { return -branch - 1; }

struct Basic {
  int head, tail;  // its leaves in the order they joined, linked by `next`
  int size;
  int core = 0;  // leading leaves whose pair distances are in coresum
  int coretail = kNone;
  long double coresum = 0;
  int mergedinto = kNoBranch;  // the branch that absorbed it, if one did
  bool onlysmall = false;      // absorbed only for its size or its low merge
  double attach;               // merge under a composite, else the cut
  bool cluster = false;
};

struct Composite {
  int left, right;
  int size;
  bool nested = false;  // is itself a child of a later composite
  int nclusters = 0;    // clusters of the basic branches below
  int first = 0;        // position of the first of them among all
};

// Scratch of the pass over the merges and its result.
class BranchPass {
 public:
  BranchPass(int nelements, const Node* tree, const double* const* d, const Criteria& criteria)
      : n_(nelements),
        tree_(tree),
        d_(d),
        c_(criteria),
        next_(static_cast<std::size_t>(nelements), kNone),
        home_(static_cast<std::size_t>(nelements), kNone),
        joined_(static_cast<std::size_t>(nelements), kNone),
        branchof_(static_cast<std::size_t>(nelements - 1), kNoBranch) {}

  // Reads the merges below the cut and marks the clusters.
  Status run();

  std::vector<Basic> basics;          // in order of creation
  std::vector<Composite> composites;  // children before parents
  std::vector<int> absorbed;          // basic branches absorbed by basic ones, in order
  const std::vector<int>& home() const { return home_; }      // first basic branch of a leaf
  const std::vector<int>& joined() const { return joined_; }  // composite a leaf joined alone

 private:
  double scatter(Basic& b);
  bool fails(int branch, double height, bool* onlysmall);
  int size(int branch) const {
    return IsBasic(branch) ? basics[branch].size : composites[CompositeIndex(branch)].size;
  }
  void addleaf(int branch, int leaf);
  int absorb(int absorbed_branch, int into, bool onlysmall);
  int join(int left, int right, double height);

  int n_;
  const Node* tree_;
  const double* const* d_;
  Criteria c_;
  bool finite_ = true;
  std::vector<int> next_, home_, joined_, branchof_;
};

// Mean distance between the leaves of the core, its pair sum extended by
// the leaves that joined the core since last asked.
double BranchPass::scatter(Basic& b) {
  const int target = CoreSize(b.size, c_.minsize);
  for (; b.core < target; b.core++) {
    const int leaf = b.core == 0 ? b.head : next_[b.coretail];
    for (int j = b.head; j != leaf; j = next_[j]) b.coresum += Distance(d_, leaf, j);
    b.coretail = leaf;
  }
  const double s =
      static_cast<double>(2 * b.coresum / (static_cast<long double>(b.core) * (b.core - 1)));
  if (!std::isfinite(s)) finite_ = false;
  return s;
}

// Whether branch, met at height, is basic and no cluster there; onlysmall:
// whether its core and gap would have passed.
bool BranchPass::fails(int branch, double height, bool* onlysmall) {
  if (!IsBasic(branch)) return false;
  Basic& b = basics[branch];
  const double s = scatter(b);
  const bool loose = s > c_.maxscatter || height - s < c_.mingap;
  *onlysmall = !loose;
  return loose || b.size < c_.minsize || height < c_.minsplit;
}

void BranchPass::addleaf(int branch, int leaf) {
  if (IsBasic(branch)) {
    Basic& b = basics[branch];
    next_[b.tail] = leaf;
    b.tail = leaf;
    b.size++;
    home_[leaf] = branch;
  } else {
    composites[CompositeIndex(branch)].size++;
    joined_[leaf] = CompositeIndex(branch);
  }
}

int BranchPass::absorb(int absorbed_branch, int into, bool onlysmall) {
  Basic& a = basics[absorbed_branch];
  a.mergedinto = into;
  a.onlysmall = onlysmall;
  if (IsBasic(into)) {
    Basic& b = basics[into];
    next_[b.tail] = a.head;
    b.tail = a.tail;
    b.size += a.size;
    absorbed.push_back(absorbed_branch);
  } else {
    composites[CompositeIndex(into)].size += a.size;
  }
  return into;
}

// The branch of a merge of two branches. The smaller one (the left on
// equal sizes) is tested first.
int BranchPass::join(int left, int right, double height) {
  const bool leftsmaller = size(left) <= size(right);
  const int small = leftsmaller ? left : right, large = leftsmaller ? right : left;
  bool onlysmall = false;
  if (fails(small, height, &onlysmall)) return absorb(small, large, onlysmall);
  if (fails(large, height, &onlysmall)) return absorb(large, small, onlysmall);
  const int index = static_cast<int>(composites.size());
  composites.push_back({small, large, size(small) + size(large)});
  for (const int child : {small, large}) {
    if (IsBasic(child))
      basics[child].attach = height;
    else
      composites[CompositeIndex(child)].nested = true;
  }
  return -(index + 1);
}

Status BranchPass::run() {
  for (int r = 0; r < n_ - 1; r++) {
    const Node& m = tree_[r];
    if (!(m.distance <= c_.cut)) continue;
    if (m.left >= 0 && m.right >= 0) {
      branchof_[r] = static_cast<int>(basics.size());
      basics.push_back({m.left, m.right, 2, 0, kNone, 0, kNoBranch, false, c_.cut, false});
      next_[m.left] = m.right;
      home_[m.left] = home_[m.right] = branchof_[r];
    } else if (m.left >= 0 || m.right >= 0) {
      const int leaf = std::max(m.left, m.right), record = -std::min(m.left, m.right) - 1;
      addleaf(branchof_[record], leaf);
      branchof_[r] = branchof_[record];
    } else {
      branchof_[r] = join(branchof_[-m.left - 1], branchof_[-m.right - 1], m.distance);
    }
  }
  for (Basic& b : basics) {
    if (b.mergedinto != kNoBranch) continue;
    const double s = scatter(b);
    b.cluster = b.size >= c_.minsize && s < c_.maxscatter && b.attach - s > c_.mingap;
  }
  return finite_ ? Status::kOk : Status::kNotFinite;
}

// What the PAM stage works with: the clusters before it, who seeks one, and
// where each looks.
struct Stage {
  std::vector<int> color;         // cluster of each element, kNone for none
  std::vector<int> seekerof;      // seeker of each element, kNone for none
  std::vector<int> clusterat;     // cluster at each position (composites' candidates contiguous)
  std::vector<int> position;      // position of each cluster
  std::vector<int> membersstart;  // members of cluster k: members[membersstart[k] ...]
  std::vector<int> members;       // ascending within each cluster
  struct Seeker {
    int first, count;  // its candidates' positions
    int size;          // its elements
  };
  std::vector<Seeker> seekers;
  int nclusters = 0;
};

// Numbers the clusters in order of creation of their branches, and lays
// out positions so that the clusters below each composite are contiguous:
// a composite's range is split between its two children, roots first.
void PlaceClusters(const BranchPass& pass, std::vector<Composite>& composites,
                   std::vector<int>& number, Stage& stage) {
  const int nbasics = static_cast<int>(pass.basics.size());
  number.assign(static_cast<std::size_t>(nbasics), kNone);
  for (int b = 0; b < nbasics; b++)
    if (pass.basics[b].cluster) number[b] = stage.nclusters++;
  const auto count = [&](int branch) {
    return IsBasic(branch) ? (number[branch] != kNone ? 1 : 0)
                           : composites[CompositeIndex(branch)].nclusters;
  };
  for (Composite& c : composites) c.nclusters = count(c.left) + count(c.right);
  stage.position.assign(static_cast<std::size_t>(stage.nclusters), kNone);
  int free = 0;
  for (auto c = composites.rbegin(); c != composites.rend(); ++c) {
    if (!c->nested) c->first = free, free += c->nclusters;
    int first = c->first;
    for (const int child : {c->left, c->right}) {
      if (!IsBasic(child))
        composites[CompositeIndex(child)].first = first;
      else if (number[child] != kNone)
        stage.position[number[child]] = first;
      first += count(child);
    }
  }
  for (int& p : stage.position)
    if (p == kNone) p = free++;
  stage.clusterat.resize(static_cast<std::size_t>(stage.nclusters));
  for (int k = 0; k < stage.nclusters; k++) stage.clusterat[stage.position[k]] = k;
}

// Gives each element its cluster, and each leftover element below a
// composite its seeker: the group absorbed only for its size that it
// belongs to, or itself. A leaf's group is the latest created such branch
// among those that held it, as R marks them in order of creation, each
// over the ones before. The candidates are the clusters below the
// composite; a basic branch below it that is no cluster (its scatter or
// gap exactly at a threshold) R counts as the unassigned elements, and
// stops with an error when they are nearest.
Stage PrepareStage(int nelements, const BranchPass& pass) {
  std::vector<Composite> composites = pass.composites;
  std::vector<int> number;
  Stage stage;
  PlaceClusters(pass, composites, number, stage);
  const std::size_t nbasics = pass.basics.size();
  std::vector<int> root(nbasics), group(nbasics);
  for (std::size_t b = 0; b < nbasics; b++) {
    root[b] = static_cast<int>(b);
    group[b] = pass.basics[b].onlysmall ? static_cast<int>(b) : kNone;
  }
  for (auto a = pass.absorbed.rbegin(); a != pass.absorbed.rend(); ++a) {
    const int into = pass.basics[*a].mergedinto;
    root[*a] = root[into];
    group[*a] = std::max(group[*a], group[into]);
  }
  stage.color.assign(static_cast<std::size_t>(nelements), kNone);
  stage.seekerof.assign(static_cast<std::size_t>(nelements), kNone);
  std::vector<int> seekerofgroup(nbasics, kNone);
  for (int e = 0; e < nelements; e++) {
    const int home = pass.home()[e];
    int composite = pass.joined()[e], g = kNone;
    if (home != kNone) {
      const Basic& top = pass.basics[root[home]];
      if (top.mergedinto == kNoBranch) {
        stage.color[e] = number[root[home]];
        continue;
      }
      composite = CompositeIndex(top.mergedinto);
      g = group[home];
    }
    if (composite == kNone || composites[composite].nclusters == 0) continue;
    int& seeker = g == kNone ? stage.seekerof[e] : seekerofgroup[g];
    if (seeker == kNone) {
      seeker = static_cast<int>(stage.seekers.size());
      stage.seekers.push_back({composites[composite].first, composites[composite].nclusters, 0});
    }
    stage.seekerof[e] = seeker;
    stage.seekers[seeker].size++;
  }
  return stage;
}

// The members of each cluster, ascending.
void ListMembers(Stage& stage) {
  stage.membersstart.assign(static_cast<std::size_t>(stage.nclusters) + 1, 0);
  for (const int k : stage.color)
    if (k != kNone) stage.membersstart[k + 1]++;
  for (int k = 0; k < stage.nclusters; k++) stage.membersstart[k + 1] += stage.membersstart[k];
  stage.members.resize(static_cast<std::size_t>(stage.membersstart.back()));
  std::vector<int> fill(stage.membersstart.begin(), stage.membersstart.end() - 1);
  for (int e = 0; e < static_cast<int>(stage.color.size()); e++)
    if (stage.color[e] != kNone) stage.members[fill[stage.color[e]]++] = e;
}

// Each cluster's spread: the largest mean distance of a member to the
// others. Each member's sum runs over the others in ascending order, as R
// sums a column.
Status Spreads(const Stage& stage, const double* const* d, std::vector<double>& spread) {
  const std::size_t nelements = stage.color.size();
  std::vector<long double> within(nelements, 0);
  for (std::size_t i = 0; i < nelements; i++) {
    const int k = stage.color[i];
    if (k == kNone) continue;
    for (int m = stage.membersstart[k]; stage.members[m] < static_cast<int>(i); m++) {
      const double dij = d[i][stage.members[m]];
      within[i] += dij;
      within[stage.members[m]] += dij;
    }
  }
  spread.assign(static_cast<std::size_t>(stage.nclusters), 0.0);
  for (int k = 0; k < stage.nclusters; k++) {
    const int size = stage.membersstart[k + 1] - stage.membersstart[k];
    for (int m = stage.membersstart[k]; m < stage.membersstart[k + 1] && size > 1; m++) {
      const double mean = static_cast<double>(within[stage.members[m]]) / (size - 1);
      if (!std::isfinite(mean)) return Status::kNotFinite;
      spread[k] = std::max(spread[k], mean);
    }
  }
  return Status::kOk;
}

// Sums the distances of the elements of seekers [begin, end) to the
// members of each of their candidate clusters into sums (slot base[s] + p
// for candidate position first + p), row by row of the lower triangle.
void SumToCandidates(const Stage& stage, const double* const* d, int begin, int end,
                     const std::vector<std::size_t>& base, std::vector<long double>& sums) {
  const int nelements = static_cast<int>(stage.color.size());
  const auto inpass = [&](int e) {
    const int s = stage.seekerof[e];
    return s != kNone && s >= begin && s < end;
  };
  std::vector<int> seeking;
  for (int e = 0; e < nelements; e++)
    if (inpass(e)) seeking.push_back(e);
  for (int i = 0; i < nelements; i++) {
    const int k = stage.color[i];
    if (k != kNone) {
      for (std::size_t q = 0; q < seeking.size() && seeking[q] < i; q++) {
        const Stage::Seeker& s = stage.seekers[stage.seekerof[seeking[q]]];
        const unsigned p = static_cast<unsigned>(stage.position[k] - s.first);
        if (p < static_cast<unsigned>(s.count))
          sums[base[stage.seekerof[seeking[q]]] + p] += d[i][seeking[q]];
      }
    } else if (inpass(i)) {
      const Stage::Seeker& s = stage.seekers[stage.seekerof[i]];
      for (int p = 0; p < s.count; p++) {
        const int c = stage.clusterat[s.first + p];
        long double& sum = sums[base[stage.seekerof[i]] + p];
        for (int m = stage.membersstart[c]; m < stage.membersstart[c + 1] && stage.members[m] < i;
             m++)
          sum += d[i][stage.members[m]];
      }
    }
  }
}

// The cluster seeker s joins, or kNone: the candidate nearest on average
// (the first created on equal means) if it is within that cluster's
// spread or within the PAM distance.
Status Nearest(const Stage& stage, int s, const long double* sums,
               const std::vector<double>& spread, double maxpam, int* joined) {
  const Stage::Seeker& seeker = stage.seekers[s];
  int best = kNone;
  double bestmean = 0;
  for (int p = 0; p < seeker.count; p++) {
    const int k = stage.clusterat[seeker.first + p];
    const int size = stage.membersstart[k + 1] - stage.membersstart[k];
    const double mean =
        static_cast<double>(sums[p] / (static_cast<long double>(seeker.size) * size));
    if (!std::isfinite(mean)) return Status::kNotFinite;
    if (best == kNone || mean < bestmean || (mean == bestmean && k < best))
      best = k, bestmean = mean;
  }
  *joined = bestmean < spread[best] || bestmean < maxpam ? best : kNone;
  return Status::kOk;
}

// The PAM stage: the cluster each seeker joins, judged against the
// clusters as they were before it, into color.
Status AssignSeekers(Stage& stage, const double* const* d, double maxpam) {
  ListMembers(stage);
  std::vector<double> spread;
  if (Spreads(stage, d, spread) != Status::kOk) return Status::kNotFinite;
  const int nseekers = static_cast<int>(stage.seekers.size());
  std::vector<int> joins(static_cast<std::size_t>(nseekers), kNone);
  std::vector<std::size_t> base(static_cast<std::size_t>(nseekers));
  std::vector<long double> sums;
  for (int begin = 0, end; begin < nseekers; begin = end) {
    std::size_t nslots = 0;
    for (end = begin;
         end < nseekers && (end == begin || nslots + stage.seekers[end].count <= kSlotsPerPass);
         end++) {
      base[end] = nslots;
      nslots += static_cast<std::size_t>(stage.seekers[end].count);
    }
    sums.assign(nslots, 0);
    SumToCandidates(stage, d, begin, end, base, sums);
    for (int s = begin; s < end; s++)
      if (Nearest(stage, s, &sums[base[s]], spread, maxpam, &joins[s]) != Status::kOk)
        return Status::kNotFinite;
  }
  for (std::size_t e = 0; e < stage.color.size(); e++)
    if (stage.seekerof[e] != kNone) stage.color[e] = joins[stage.seekerof[e]];
  return Status::kOk;
}

// Renumbers the clusters by size, largest first, the first created first
// on equal sizes, into clusterid.
void NumberBySize(const Stage& stage, int* clusterid) {
  std::vector<int> size(static_cast<std::size_t>(stage.nclusters), 0), order(size.size());
  for (const int k : stage.color)
    if (k != kNone) size[k]++;
  for (int k = 0; k < stage.nclusters; k++) order[k] = k;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return size[a] > size[b]; });
  std::vector<int> rank(size.size());
  for (int r = 0; r < stage.nclusters; r++) rank[order[r]] = r;
  for (std::size_t e = 0; e < stage.color.size(); e++)
    clusterid[e] = stage.color[e] == kNone ? -1 : rank[stage.color[e]];
}

// Whether the tree's heights are numbers that never fall toward the root.
bool RisingHeights(int nelements, const Node* tree) {
  for (int r = 0; r < nelements - 1; r++) {
    if (std::isnan(tree[r].distance)) return false;
    for (const int child : {tree[r].left, tree[r].right})
      if (child < 0 && tree[-child - 1].distance > tree[r].distance) return false;
  }
  return true;
}

Status CutHybrid(int nelements, const Node* tree, const double* const* distmatrix, double cutheight,
                 int deepsplit, int minsize, int pamstage, int* clusterid, int* nclusters) {
  if (deepsplit < 0 || deepsplit > 4 || minsize < 1 || (nelements > 1 && !distmatrix))
    return Status::kBadArguments;
  for (int i = 1; i < nelements; i++)
    if (!distmatrix[i]) return Status::kBadArguments;
  if (nelements > 1 && (!detail::orderedtree(nelements, tree) || !RisingHeights(nelements, tree)))
    return Status::kBadArguments;
  const Criteria criteria =
      nelements > 1 ? SettleCriteria(nelements, tree, cutheight, deepsplit, minsize) : Criteria{};
  int nbelow = 0;
  for (int r = 0; r < nelements - 1; r++) nbelow += tree[r].distance <= criteria.cut;
  // R's own guard: too few merges below the cut leave every element out.
  if (nbelow < minsize) {
    std::fill(clusterid, clusterid + nelements, -1);
    *nclusters = 0;
    return Status::kOk;
  }
  BranchPass pass(nelements, tree, distmatrix, criteria);
  if (pass.run() != Status::kOk) return Status::kNotFinite;
  Stage stage = PrepareStage(nelements, pass);
  if (pamstage && stage.nclusters > 0 && !stage.seekers.empty() &&
      AssignSeekers(stage, distmatrix, criteria.maxpam) != Status::kOk)
    return Status::kNotFinite;
  NumberBySize(stage, clusterid);
  *nclusters = stage.nclusters;
  return Status::kOk;
}

}  // namespace

int cuttree_hybrid(int nelements, const Node* tree, const double* const* distmatrix,
                   double cutheight, int deepsplit, int minsize, int pamstage, int* clusterid) {
  if (nelements < 1 || !clusterid) return -1;
  int nclusters = -1;
  const Status status = detail::guarded([&] {
    return CutHybrid(nelements, tree, distmatrix, cutheight, deepsplit, minsize, pamstage,
                     clusterid, &nclusters);
  });
  return detail::cutresult(status, nelements, clusterid, nclusters);
}

}  // namespace lopper
