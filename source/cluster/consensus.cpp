// Consensus clustering: Monti, Tamayo, Mesirov and Golub (2003),
// "Consensus clustering: a resampling-based method for class discovery and
// visualization of gene expression microarray data", Machine Learning 52,
// 91-118; the rules the paper leaves open (subsample sizes, pairs never
// drawn together, the CDF's breaks and area, the first delta, item
// consensus) as Bioconductor's ConsensusClusterPlus has them.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "cluster_internal.h"

namespace lopper {

namespace {

using detail::Status;

long TriangleSize(int n) { return static_cast<long>(n) * (n - 1) / 2; }
long PairIndex(int i, int j) { return static_cast<long>(i) * (i - 1) / 2 + j; }

// What every resample of one call shares.
struct Resampling {
  detail::ElementSet set;
  char dist, algorithm;
  int npass, nks;
  const int* ks;
  int nitems, nfeatures;  // drawn per resample
};

bool TreeAlgorithm(char algorithm) {
  return std::string_view("smacwqd").find(algorithm) != std::string_view::npos;
}

// One thread's resamples: the drawn table (elements as rows) and the
// counts, nks together triangles then the sampled one.
class Resampler {
 public:
  Resampler(const Resampling& r, long triangle)
      : r_(r),
        triangle_(triangle),
        items_(r.nitems),
        features_(r.nfeatures),
        values_(static_cast<std::size_t>(r.nitems) * r.nfeatures),
        present_(values_.size()),
        rows_(r.nitems),
        masks_(r.nitems),
        weight_(r.nfeatures),
        clusterid_(r.nitems),
        counts_(static_cast<std::size_t>(r.nks + 1) * triangle) {}

  Status run(long q) {
    detail::seedstream(seed_, q);
    draw();
    count_sampled();
    if (TreeAlgorithm(r_.algorithm)) return cut_tree();
    if (r_.algorithm == 'p') return medoids();
    return means();
  }
  void set_seed(int seed) { seed_ = seed; }
  std::vector<int> take_counts() { return std::move(counts_); }

 private:
  void draw();
  void count_sampled();
  void count_together(int t);
  Status cut_tree();
  Status means();
  Status medoids();

  const Resampling& r_;
  long triangle_;
  int seed_ = 0;
  std::vector<int> items_, features_;
  std::vector<double> values_;
  std::vector<int> present_;
  std::vector<double*> rows_;
  std::vector<int*> masks_;
  std::vector<double> weight_;
  std::vector<int> clusterid_;
  std::vector<int> counts_;
};

void Resampler::draw() {
  const detail::ElementSet& set = r_.set;
  detail::drawsubset(set.elements(), r_.nitems, items_.data());
  if (r_.nfeatures < set.dimensions())
    detail::drawsubset(set.dimensions(), r_.nfeatures, features_.data());
  else
    for (int f = 0; f < r_.nfeatures; f++) features_[f] = f;
  for (int a = 0; a < r_.nitems; a++) {
    rows_[a] = &values_[static_cast<std::size_t>(a) * r_.nfeatures];
    masks_[a] = &present_[static_cast<std::size_t>(a) * r_.nfeatures];
    for (int f = 0; f < r_.nfeatures; f++) {
      const int e = items_[a], d = features_[f];
      rows_[a][f] = set.transpose ? set.data[d][e] : set.data[e][d];
      masks_[a][f] = set.transpose ? set.mask[d][e] : set.mask[e][d];
    }
  }
  for (int f = 0; f < r_.nfeatures; f++) weight_[f] = set.weight[features_[f]];
}

// items_ ascends, so item a > b is the pair's first index.
void Resampler::count_sampled() {
  int* sampled = &counts_[static_cast<std::size_t>(r_.nks) * triangle_];
  for (int a = 1; a < r_.nitems; a++)
    for (int b = 0; b < a; b++) sampled[PairIndex(items_[a], items_[b])]++;
}

void Resampler::count_together(int t) {
  int* together = &counts_[static_cast<std::size_t>(t) * triangle_];
  for (int a = 1; a < r_.nitems; a++)
    for (int b = 0; b < a; b++)
      if (clusterid_[a] == clusterid_[b]) together[PairIndex(items_[a], items_[b])]++;
}

Status Resampler::cut_tree() {
  const detail::Owned<Node> tree(treecluster(r_.nitems, r_.nfeatures, rows_.data(), masks_.data(),
                                             weight_.data(), 0, r_.dist, r_.algorithm, nullptr));
  if (!tree) return Status::kOutOfMemory;
  for (int t = 0; t < r_.nks; t++) {
    cuttree(r_.nitems, tree.get(), r_.ks[t], clusterid_.data());
    if (clusterid_[0] < 0) return Status::kOutOfMemory;
    count_together(t);
  }
  return Status::kOk;
}

Status Resampler::means() {
  const char method = r_.algorithm == 'e' ? 'm' : 'a';
  for (int t = 0; t < r_.nks; t++) {
    double error;
    int ifound = 0;
    kcluster(r_.ks[t], r_.nitems, r_.nfeatures, rows_.data(), masks_.data(), weight_.data(), 0,
             r_.npass, method, r_.dist, clusterid_.data(), &error, &ifound);
    if (ifound < 1) return ifound == 0 ? Status::kBadArguments : Status::kOutOfMemory;
    count_together(t);
  }
  return Status::kOk;
}

Status Resampler::medoids() {
  detail::TriangularMatrix distances;
  if (distances.obtain(r_.nitems) != Status::kOk) return Status::kOutOfMemory;
  const Status measured =
      detail::filldistances(r_.nitems, r_.nfeatures, rows_.data(), masks_.data(), weight_.data(),
                            r_.dist, 0, distances.rows());
  if (measured != Status::kOk) return measured;
  for (int t = 0; t < r_.nks; t++) {
    double error;
    int ifound = 0;
    kmedoids(r_.ks[t], r_.nitems, distances.rows(), r_.npass, clusterid_.data(), &error, &ifound);
    if (ifound < 1) return ifound == 0 ? Status::kBadArguments : Status::kOutOfMemory;
    count_together(t);
  }
  return Status::kOk;
}

Status CheckCounting(const Resampling& r, int first, int last) {
  if (first < 0 || last < first || r.nitems < 2 || r.nfeatures < 1 || r.nks < 1 || !r.ks ||
      r.npass < 1)
    return Status::kBadArguments;
  if (!TreeAlgorithm(r.algorithm) &&
      std::string_view("kep").find(r.algorithm) == std::string_view::npos)
    return Status::kBadArguments;
  for (int t = 0; t < r.nks; t++)
    if (r.ks[t] < 1 || r.ks[t] > r.nitems) return Status::kBadArguments;
  if (!r.set.weight || !detail::finitedata(r.set.nrows, r.set.ncolumns, r.set.data, r.set.mask))
    return Status::kBadArguments;
  return Status::kOk;
}

// Resamples first ... last-1 over the threads worth starting, each thread
// counting its own; the sums into together and sampled only when all ran.
Status CountResamples(const Resampling& r, int seed, int first, int last, int together[],
                      int sampled[]) {
  const long triangle = TriangleSize(r.set.elements());
  const double cost = static_cast<double>(r.nitems) * r.nitems * (r.nfeatures + r.nks);
  const int nthreads =
      std::max(1, std::min(detail::threadsfor(cost * (last - first)), last - first));
  std::vector<std::vector<int>> counts(nthreads);
  std::vector<Status> status(nthreads, Status::kOk);
  std::atomic<bool> failed{false};
  detail::UnitQueue queue(last - first, 1);
  const detail::KeptGenerator kept;
  auto work = [&](int t) {
    const detail::Nested alone(true);
    status[t] = detail::guarded([&] {
      Resampler resampler(r, triangle);
      resampler.set_seed(seed);
      for (int begin, end; !failed.load() && queue.take(&begin, &end);)
        for (int q = begin; q < end; q++)
          if (const Status s = resampler.run(first + static_cast<long>(q)); s != Status::kOk)
            return s;
      counts[t] = resampler.take_counts();
      return Status::kOk;
    });
    if (status[t] != Status::kOk) failed.store(true);
  };
  detail::runthreads(nthreads, work);
  for (const Status s : status)
    if (s != Status::kOk) return s;
  for (const std::vector<int>& c : counts) {
    if (c.empty()) continue;  // a thread that did not start
    for (long p = 0; p < r.nks * triangle; p++) together[p] += c[p];
    for (long p = 0; p < triangle; p++) sampled[p] += c[r.nks * triangle + p];
  }
  return Status::kOk;
}

}  // namespace

int consensuscounts(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                    const double weight[], int transpose, char dist, char algorithm, int npass,
                    int nks, const int ks[], double pitem, double pfeature, int seed, int first,
                    int last, int together[], int sampled[]) {
  if (nrows < 0 || ncolumns < 0 || !data || !mask || !together || !sampled) return -1;
  if (!(pitem > 0 && pitem <= 1) || !(pfeature > 0 && pfeature <= 1)) return -1;
  const detail::ElementSet set{nrows, ncolumns, data, mask, weight, transpose};
  // floor(p * n), as ConsensusClusterPlus sizes its subsamples.
  const Resampling r{set,
                     dist,
                     algorithm,
                     npass,
                     nks,
                     ks,
                     static_cast<int>(std::floor(pitem * set.elements())),
                     static_cast<int>(std::floor(pfeature * set.dimensions()))};
  const Status status = detail::guarded([&] {
    const Status checked = CheckCounting(r, first, last);
    if (checked != Status::kOk) return checked;
    return CountResamples(r, seed, first, last, together, sampled);
  });
  return status == Status::kOk ? last - first : -1;
}

int consensusmatrix(int nelements, const int together[], const int sampled[], double consensus[]) {
  if (nelements < 2 || !together || !sampled || !consensus) return 0;
  const long triangle = TriangleSize(nelements);
  for (long p = 0; p < triangle; p++)
    if (together[p] < 0 || together[p] > sampled[p]) return 0;
  for (long p = 0; p < triangle; p++)
    consensus[p] = sampled[p] ? static_cast<double>(together[p]) / sampled[p] : 0.0;
  return 1;
}

double consensuscdf(int nelements, const double consensus[], double cdf[]) {
  constexpr int kBins = 100;
  if (nelements < 2 || !consensus || !cdf) return -1.0;
  // R's hist: breaks 0, 0.01, ..., 1 as seq() makes them, each raised by a
  // fuzz of 1e-7 of a bin so that a value a rounding above a break falls
  // below it.
  double breaks[kBins + 1], upper[kBins];
  for (int b = 0; b <= kBins; b++) breaks[b] = b * (1.0 / kBins);
  for (int b = 0; b < kBins; b++) upper[b] = breaks[b + 1] + 1e-7 / kBins;
  const long triangle = TriangleSize(nelements);
  long counts[kBins] = {};
  for (long p = 0; p < triangle; p++) {
    if (!(consensus[p] >= 0 && consensus[p] <= upper[kBins - 1])) return -1.0;
    counts[std::lower_bound(upper, upper + kBins, consensus[p]) - upper]++;
  }
  double area = 0.0;
  long below = 0;
  for (int b = 0; b < kBins; b++) {
    below += counts[b];
    cdf[b] = static_cast<double>(below) / static_cast<double>(triangle);
    area += cdf[b] * (breaks[b + 1] - breaks[b]);
  }
  return area;
}

void consensusdelta(int nks, const double area[], double delta[]) {
  if (nks < 1 || !area || !delta) return;
  delta[0] = area[0];
  for (int t = 1; t < nks; t++) delta[t] = (area[t] - area[t - 1]) / area[t - 1];
}

int consensusclusters(int nelements, const double consensus[], int k, int clusterid[]) {
  if (nelements < 1 || !clusterid) return -1;
  const Status status = detail::guarded([&] {
    if (nelements < 2 || !consensus || k < 1 || k > nelements) return Status::kBadArguments;
    std::vector<double> apart(static_cast<std::size_t>(TriangleSize(nelements)));
    std::vector<double*> rows(nelements, nullptr);
    for (int i = 1; i < nelements; i++) {
      rows[i] = &apart[PairIndex(i, 0)];
      for (int j = 0; j < i; j++) {
        const double c = consensus[PairIndex(i, j)];
        if (!(c >= 0 && c <= 1)) return Status::kBadArguments;
        rows[i][j] = 1 - c;
      }
    }
    const detail::Owned<Node> tree(
        treecluster(nelements, 0, nullptr, nullptr, nullptr, 0, 'e', 'a', rows.data()));
    if (!tree) return Status::kOutOfMemory;
    cuttree(nelements, tree.get(), k, clusterid);
    if (clusterid[0] < 0) return Status::kOutOfMemory;
    // Numbers in the order of each cluster's first element, as R's cutree.
    std::vector<int> number(k, -1);
    int next = 0;
    for (int e = 0; e < nelements; e++) {
      int& n = number[clusterid[e]];
      if (n < 0) n = next++;
      clusterid[e] = n;
    }
    return Status::kOk;
  });
  return detail::cutresult(status, nelements, clusterid, k);
}

namespace {

// cluster[c]: the mean consensus of the pairs within c.
void ClusterMeans(int nelements, const double consensus[], int nclusters, const int clusterid[],
                  const std::vector<long>& size, double cluster[]) {
  std::vector<double> within(nclusters, 0.0);
  for (int i = 1; i < nelements; i++)
    for (int j = 0; j < i; j++)
      if (clusterid[i] == clusterid[j]) within[clusterid[i]] += consensus[PairIndex(i, j)];
  for (int c = 0; c < nclusters; c++)
    cluster[c] = within[c] / (static_cast<double>(size[c]) * static_cast<double>(size[c] - 1) / 2);
}

// item[i * nclusters + c]: element i's mean consensus with the other
// members of c.
void ItemMeans(int nelements, const double consensus[], int nclusters, const int clusterid[],
               const std::vector<long>& size, double item[]) {
  const long cells = static_cast<long>(nelements) * nclusters;
  std::fill(item, item + cells, 0.0);
  for (int i = 1; i < nelements; i++)
    for (int j = 0; j < i; j++) {
      const double c = consensus[PairIndex(i, j)];
      item[static_cast<long>(i) * nclusters + clusterid[j]] += c;
      item[static_cast<long>(j) * nclusters + clusterid[i]] += c;
    }
  for (int i = 0; i < nelements; i++)
    for (int c = 0; c < nclusters; c++)
      item[static_cast<long>(i) * nclusters + c] /=
          static_cast<double>(size[c] - (clusterid[i] == c ? 1 : 0));
}

}  // namespace

int clusterconsensus(int nelements, const double consensus[], int nclusters, const int clusterid[],
                     double cluster[], double item[]) {
  if (nelements < 2 || !consensus || !clusterid || nclusters < 1) return 0;
  for (int e = 0; e < nelements; e++)
    if (clusterid[e] < 0 || clusterid[e] >= nclusters) return 0;
  const Status status = detail::guarded([&] {
    std::vector<long> size(nclusters, 0);
    for (int e = 0; e < nelements; e++) size[clusterid[e]]++;
    // Both sums are made before either output is written, so that short
    // memory leaves both as they were.
    std::vector<double> means(nclusters);
    if (cluster) ClusterMeans(nelements, consensus, nclusters, clusterid, size, means.data());
    if (item) ItemMeans(nelements, consensus, nclusters, clusterid, size, item);
    if (cluster) std::copy(means.begin(), means.end(), cluster);
    return Status::kOk;
  });
  return status == Status::kOk ? 1 : 0;
}

}  // namespace lopper
