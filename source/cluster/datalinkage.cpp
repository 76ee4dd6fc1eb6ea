// Hierarchical clustering from the data alone, without a distance matrix:
// centroid, Ward and median linkage by the generic algorithm of Mullner
// ("Modern hierarchical, agglomerative clustering algorithms", 2011,
// figure 3) over the clusters' representatives, single linkage by SLINK.
#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "cluster_internal.h"
#include "linkage.h"

namespace lopper {
namespace detail {
namespace {

// Slots per block of a sweep of distances shared among threads.
constexpr int kSweepBlock = 512;

// Slots 0 ... n-1 ordered by a key, the lower slot first on equal keys,
// with the key of any slot in it changed or the slot taken out in O(log n).
class SlotHeap {
 public:
  explicit SlotHeap(int n) : heap_(n), place_(n, -1), key_(n) {}

  // The heap of slots 0 ... count-1 with keys key[0 ... count-1].
  void build(int count, const double key[]) {
    size_ = count;
    std::fill(place_.begin(), place_.end(), -1);
    for (int s = 0; s < count; s++) {
      heap_[s] = s;
      place_[s] = s;
      key_[s] = key[s];
    }
    for (int p = count / 2 - 1; p >= 0; p--) down(p);
  }
  int top() const { return heap_[0]; }
  void update(int slot, double key) {
    key_[slot] = key;
    up(place_[slot]);
    down(place_[slot]);
  }
  void remove(int slot) {
    const int p = place_[slot];
    place_[slot] = -1;
    if (p == --size_) return;
    heap_[p] = heap_[size_];
    place_[heap_[p]] = p;
    up(p);
    down(place_[heap_[p]]);
  }

 private:
  bool before(int a, int b) const { return key_[a] < key_[b] || (key_[a] == key_[b] && a < b); }
  void swap(int p, int q) {
    std::swap(heap_[p], heap_[q]);
    place_[heap_[p]] = p;
    place_[heap_[q]] = q;
  }
  void up(int p) {
    for (; p > 0 && before(heap_[p], heap_[(p - 1) / 2]); p = (p - 1) / 2) swap(p, (p - 1) / 2);
  }
  void down(int p) {
    for (;;) {
      int least = p;
      for (const int c : {2 * p + 1, 2 * p + 2})
        if (c < size_ && before(heap_[c], heap_[least])) least = c;
      if (least == p) return;
      swap(p, least);
      p = least;
    }
  }

  std::vector<int> heap_, place_;
  std::vector<double> key_;
  int size_ = 0;
};

// The generic algorithm over the profiles of Centroids. Slots 0 ... m-1
// hold clusters, some merged away (inactive); the last slot is always
// active. Every active slot x below it has a candidate neighbour nn[x] > x,
// active, and a key mindist[x] no larger than its distance to any active
// slot above it; the key is exact when the candidate is at that distance.
// The heap's first slot whose candidate is at its key then holds the
// closest pair. Distances are squared for Ward, the median and centroid
// linkage by 'E' (the heights their roots), Ward's weighted by its sizes.
class Generic {
 public:
  // Scratch for the whole run; may throw std::bad_alloc.
  Generic(const ElementSet& set, char dist, char method)
      : method_(method),
        squared_(method != 'c' || dist == 'E'),
        n_(set.elements()),
        centroids_(set, squared_ ? 'Q' : dist),
        size_(n_, 1),
        id_(n_),
        nn_(n_),
        mindist_(n_),
        out_(n_),
        active_(n_, 1),
        heap_(n_),
        place_(n_),
        crew_(threadsfor(0.5 * n_ * n_ * centroids_.cost())) {
    for (int t = 0; t < crew_.size(); t++) {
      measures_.emplace_back(squared_ ? 'Q' : dist, set.dimensions());
      rows_.emplace_back(n_);
    }
  }

  Status run(Node tree[]);

 private:
  Status neighbours();
  bool sweep(int x, int first, int end, double out[], int t);
  bool shared_sweep(int x, int first, int end);
  int nearest(int x, const double out[], int end) const;
  void merge(int a, int b, Node* record, int k);
  void compact();
  double height(double d) const { return squared_ ? std::sqrt(std::max(d, 0.0)) : d; }

  char method_;
  bool squared_;
  int n_, m_ = 0, inactive_ = 0;
  Centroids centroids_;
  std::vector<int> size_, id_, nn_;
  std::vector<double> mindist_, out_;
  std::vector<unsigned char> active_;
  SlotHeap heap_;
  std::vector<int> place_;  // compact's new place of each slot
  Crew crew_;
  std::vector<Measure> measures_;
  std::vector<std::vector<double>> rows_;  // per thread, for the first neighbours
};

// The distances from slot x to slots first ... end-1 into out, in thread t;
// false when one to an active slot other than x is not finite.
bool Generic::sweep(int x, int first, int end, double out[], int t) {
  centroids_.distances(x, first, end, out, measures_[t]);
  if (method_ == 'w') {
    const double nx = size_[x];
    for (int y = first; y < end; y++) out[y] *= 2 * nx * size_[y] / (nx + size_[y]);
  }
  for (int y = first; y < end; y++)
    if (!std::isfinite(out[y]) && active_[y] && y != x) return false;
  return true;
}

// sweep into out_ with the blocks shared among the crew.
bool Generic::shared_sweep(int x, int first, int end) {
  UnitQueue blocks(end - first, kSweepBlock);
  std::atomic<bool> finite{true};
  auto work = [&](int t) {
    for (int b, e; blocks.take(&b, &e);)
      if (!sweep(x, first + b, first + e, out_.data(), t))
        finite.store(false, std::memory_order_relaxed);
  };
  if (end - first >= 2 * kSweepBlock)
    crew_.run(work);
  else
    work(0);
  return finite.load(std::memory_order_relaxed);
}

// The first active slot above x at the smallest distance in out (up to end).
int Generic::nearest(int x, const double out[], int end) const {
  int best = -1;
  for (int y = x + 1; y < end; y++)
    if (active_[y] && (best < 0 || out[y] < out[best])) best = y;
  return best;
}

// Every slot's first candidate and its exact key, the slots shared among
// the crew.
Status Generic::neighbours() {
  UnitQueue slots(n_ - 1, 1);
  std::atomic<bool> finite{true};
  std::atomic<long> done{0};
  auto work = [&](int t) {
    double* const out = rows_[t].data();
    for (int x, e; slots.take(&x, &e);) {
      if (!sweep(x, x + 1, n_, out, t)) finite.store(false, std::memory_order_relaxed);
      nn_[x] = nearest(x, out, n_);
      mindist_[x] = out[nn_[x]];
      const long now = done.fetch_add(1, std::memory_order_relaxed) + 1;
      if (t == 0) reportprogress("distances", now, n_ - 1);
    }
  };
  crew_.run(work);
  if (!finite.load()) return Status::kNotFinite;
  reportprogress("distances", n_ - 1, n_ - 1);
  return Status::kOk;
}

// Slot b takes the merger of a < b; a goes out. The distances from b to
// every active slot are measured once: those below b lower their keys,
// those above give b its new candidate.
void Generic::merge(int a, int b, Node* record, int k) {
  *record = {id_[a], id_[b], 0};
  if (method_ == 'd')
    centroids_.midpoint(b, a);
  else
    centroids_.merge(b, a);
  size_[b] += size_[a];
  id_[b] = -(k + 1);
  active_[a] = 0;
  inactive_++;
  heap_.remove(a);
  for (int z = 0; z < a; z++)
    if (active_[z] && nn_[z] == a) nn_[z] = b;
}

Status Generic::run(Node tree[]) {
  for (int i = 0; i < n_; i++) id_[i] = i;
  m_ = n_;
  if (const Status found = neighbours(); found != Status::kOk) return found;
  heap_.build(n_ - 1, mindist_.data());
  for (int k = 0; k < n_ - 1; k++) {
    int a, b;
    double d;
    for (;;) {
      a = heap_.top();
      b = nn_[a];
      if (!sweep(a, b, b + 1, out_.data(), 0)) return Status::kNotFinite;
      d = out_[b];
      if (d == mindist_[a]) break;
      if (!shared_sweep(a, a + 1, m_)) return Status::kNotFinite;
      nn_[a] = nearest(a, out_.data(), m_);
      mindist_[a] = out_[nn_[a]];
      heap_.update(a, mindist_[a]);
    }
    merge(a, b, &tree[k], k);
    tree[k].distance = height(d);
    if (k == n_ - 2) break;
    if (!shared_sweep(b, 0, m_)) return Status::kNotFinite;
    for (int z = 0; z < b; z++)
      if (active_[z] && out_[z] < mindist_[z]) {
        nn_[z] = b;
        mindist_[z] = out_[z];
        heap_.update(z, mindist_[z]);
      }
    if (b < m_ - 1) {
      nn_[b] = nearest(b, out_.data(), m_);
      mindist_[b] = out_[nn_[b]];
      heap_.update(b, mindist_[b]);
    }
    if (4 * inactive_ > m_) compact();
    reportprogress("merging", k + 1, n_ - 1);
  }
  return Status::kOk;
}

// The active slots moved down in order, so that sweeps pass over no slot
// merged away; the order keeps every candidate above its slot.
void Generic::compact() {
  int m = 0;
  for (int s = 0; s < m_; s++) {
    if (!active_[s]) continue;
    place_[s] = m;
    if (m != s) {
      centroids_.move(s, m);
      size_[m] = size_[s];
      id_[m] = id_[s];
      nn_[m] = nn_[s];
      mindist_[m] = mindist_[s];
    }
    m++;
  }
  for (int x = 0; x < m - 1; x++) nn_[x] = place_[nn_[x]];
  std::fill(active_.begin(), active_.begin() + m, 1);
  std::fill(active_.begin() + m, active_.begin() + m_, 0);
  m_ = m;
  inactive_ = 0;
  heap_.build(m_ - 1, mindist_.data());
}

// Whether treeclusterdata can build a tree: the sizes, method and code it
// takes, and for Ward and the median every value present.
bool Takes(const ElementSet& set, char dist, char method) {
  if (set.nrows < 0 || set.ncolumns < 0 || set.elements() < 2) return false;
  if (method != 's' && method != 'c' && method != 'w' && method != 'd') return false;
  if (set.dimensions() > 0 && !set.weight) return false;
  if (!finitedata(set.nrows, set.ncolumns, set.data, set.mask)) return false;
  if (method == 'w' || method == 'd') {
    if (dist != 'E') return false;
    for (int i = 0; i < set.nrows; i++)
      if (std::find(set.mask[i], set.mask[i] + set.ncolumns, 0) != set.mask[i] + set.ncolumns)
        return false;
  }
  return true;
}

}  // namespace
}  // namespace detail

Node* treeclusterdata(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                      const double weight[], int transpose, char dist, char method) {
  using detail::Status;
  const detail::ElementSet set{nrows, ncolumns, data, mask, weight, transpose};
  if (!detail::Takes(set, dist, method)) return nullptr;
  const int nelements = set.elements();
  detail::Owned<Node> tree(static_cast<Node*>(detail::allocate((nelements - 1) * sizeof(Node))));
  if (!tree) return nullptr;
  const Status built =
      method == 's'
          ? detail::pslcluster(nrows, ncolumns, data, mask, weight, nullptr, dist, transpose,
                               tree.get())
          : detail::guarded([&] { return detail::Generic(set, dist, method).run(tree.get()); });
  return built == Status::kOk ? tree.release() : nullptr;
}

}  // namespace lopper
