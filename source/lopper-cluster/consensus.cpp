#include "consensus.h"

#include <lopper/cluster.h>

#include <algorithm>
#include <cmath>

#include "memory.h"

namespace lopper {

namespace {

std::size_t Pairs(int n) { return static_cast<std::size_t>(n) * (n - 1) / 2; }

std::string Decimal(double x) { return std::isfinite(x) ? ShortestDecimal(x) : "NA"; }

// The library's code for the settings' method: a linkage, or the
// partitioning method's letter.
char Algorithm(const Settings& s) {
  switch (s.partitioning) {
    case Partitioning::kMeans:
      return 'k';
    case Partitioning::kMedians:
      return 'e';
    case Partitioning::kMedoids:
      return 'p';
    default:
      return s.method;
  }
}

// What a resample draws must hold each k and at least one value; said in
// the user's terms before any work.
Result<bool> CheckDraws(const Settings& s, const Dataset& d, const std::vector<int>& ks) {
  const ConsensusSettings& c = s.consensus;
  const int n = d.size();
  const auto drawn = static_cast<int>(std::floor(c.items * n));
  const std::string share = "--subsample-items " + ShortestDecimal(c.items) + " of " +
                            std::to_string(n) + " elements draws " + std::to_string(drawn);
  if (drawn < 2) return Failure{share + ": a resample needs at least 2"};
  if (ks.back() > drawn)
    return Failure{"-k " + std::to_string(ks.back()) +
                   " is more than the resamples hold: " + share};
  const auto ncolumns = static_cast<int>(d.table.ncolumns());
  if (std::floor(c.values * ncolumns) < 1)
    return Failure{"--subsample-values " + ShortestDecimal(c.values) + " of " +
                   std::to_string(ncolumns) + " values draws none: give at least " +
                   ShortestDecimal(1.0 / ncolumns)};
  return true;
}

// Adds the resamples' counts in ranges, so that the progress line moves;
// the library's counts of split ranges add up to the whole run's.
Result<bool> CountResamples(const Settings& s, const Dataset& d, int seed,
                            const std::vector<int>& ks, Consensus& result, ProgressLine& progress) {
  const Table& t = d.table;
  const int n = d.size(), reps = s.consensus.reps;
  const int range = std::max(reps / 50, 4 * getthreads());
  progress.Start("resampling " + std::to_string(n) + " elements");
  for (int first = 0; first < reps;) {
    const int last = first + std::min(range, reps - first);
    if (consensuscounts(n, static_cast<int>(t.ncolumns()), t.ValueRows().data(),
                        t.MaskRows().data(), d.weights.data(), 0, s.distance, Algorithm(s), s.npass,
                        static_cast<int>(ks.size()), ks.data(), s.consensus.items,
                        s.consensus.values, seed, first, last, result.together.data(),
                        result.sampled.data()) < 0)
      return Failure{
          "a resample of --consensus could not be clustered: memory is short, or two "
          "elements drawn have no value in common"};
    first = last;
    progress.Update(static_cast<double>(first) / reps);
  }
  progress.Finish();
  return true;
}

// k's matrix, CDF, final clusters and their consensus, from the counts of
// ks[t]; consensus is the matrix's room.
Result<ConsensusOfK> FinishK(int n, int k, const int* together, const int* sampled,
                             std::vector<double>& consensus) {
  ConsensusOfK r;
  r.k = k;
  r.cdf.resize(100);
  r.clusters.resize(static_cast<std::size_t>(n));
  r.cluster.resize(static_cast<std::size_t>(k));
  r.item.resize(static_cast<std::size_t>(n) * k);
  consensusmatrix(n, together, sampled, consensus.data());
  r.area = consensuscdf(n, consensus.data(), r.cdf.data());
  if (consensusclusters(n, consensus.data(), k, r.clusters.data()) < 0 ||
      !clusterconsensus(n, consensus.data(), k, r.clusters.data(), r.cluster.data(), r.item.data()))
    return Failure{"out of memory clustering the consensus of " + std::to_string(n) + " elements"};
  return r;
}

}  // namespace

std::vector<int> ConsensusKs(const Settings& s) {
  std::vector<int> ks = s.ks;
  std::sort(ks.begin(), ks.end());
  ks.erase(std::unique(ks.begin(), ks.end()), ks.end());
  return ks;
}

std::string ConsensusMatrixPath(const Settings& s, int k) {
  return s.consensus.matrices + "k=" + std::to_string(k) + ".tsv";
}

Result<Consensus> ConsensusClustering(const Settings& s, const Dataset& d, int seed,
                                      ProgressLine& progress) {
  const std::vector<int> ks = ConsensusKs(s);
  if (auto fits = CheckDraws(s, d, ks); !fits.ok()) return Failure{fits.error()};
  const int n = d.size();
  const std::size_t pairs = Pairs(n);
  // Each thread at work holds a resample's distances; the final clusters
  // take the consensus matrix and a working copy of it.
  const auto drawn = static_cast<std::uint64_t>(std::floor(s.consensus.items * n));
  if (const auto short_by =
          Shortfall({{"the consensus counts of " + std::to_string(n) + " elements",
                      (ks.size() + 1) * pairs * sizeof(int)},
                     MatrixBlock(static_cast<std::uint64_t>(n), 2),
                     MatrixBlock(drawn, getthreads(), "elements drawn by the resamples at work")}))
    return Failure{*short_by +
                   ": --consensus needs them; give --threads 1, fewer ks or cluster "
                   "fewer elements"};
  Consensus result;
  result.together.resize(ks.size() * pairs);
  result.sampled.resize(pairs);
  if (auto counted = CountResamples(s, d, seed, ks, result, progress); !counted.ok())
    return Failure{counted.error()};
  std::vector<double> consensus(pairs), area, delta(ks.size());
  for (std::size_t t = 0; t < ks.size(); t++) {
    auto k = FinishK(n, ks[t], &result.together[t * pairs], result.sampled.data(), consensus);
    if (!k.ok()) return Failure{k.error()};
    area.push_back(k.value().area);
    result.ks.push_back(std::move(k).value());
  }
  consensusdelta(static_cast<int>(ks.size()), area.data(), delta.data());
  for (std::size_t t = 0; t < ks.size(); t++) result.ks[t].delta = delta[t];
  return result;
}

std::vector<ClusterColumn> ConsensusColumns(const Consensus& c) {
  std::vector<ClusterColumn> columns;
  for (const ConsensusOfK& k : c.ks)
    columns.push_back({"consensus-k=" + std::to_string(k.k), k.clusters});
  return columns;
}

std::vector<std::vector<std::string>> ConsensusReport(const Consensus& c) {
  std::vector<std::vector<std::string>> rows{{"k", "area", "delta", "cluster.consensus"}};
  for (const ConsensusOfK& k : c.ks) {
    std::string clusters;
    for (const double x : k.cluster) clusters += (clusters.empty() ? "" : ",") + Decimal(x);
    rows.push_back({std::to_string(k.k), Decimal(k.area), Decimal(k.delta), clusters});
  }
  return rows;
}

std::vector<std::vector<std::string>> ItemConsensusTable(const Dataset& d, const Consensus& c) {
  std::vector<std::vector<std::string>> rows{
      {d.table.ElementsLabel(), "k", "cluster", "consensus"}};
  for (std::size_t e = 0; e < d.table.names.size(); e++)
    for (const ConsensusOfK& k : c.ks)
      for (int cluster = 0; cluster < k.k; cluster++)
        rows.push_back({d.table.names[e], std::to_string(k.k), std::to_string(cluster + 1),
                        Decimal(k.item[e * k.k + cluster])});
  return rows;
}

bool WriteConsensusMatrix(std::ostream& out, const Dataset& d, const Consensus& c, std::size_t t) {
  const int n = d.size();
  const std::size_t pairs = Pairs(n);
  std::vector<double> consensus(pairs);
  if (!consensusmatrix(n, &c.together[t * pairs], c.sampled.data(), consensus.data())) return false;
  const auto& names = d.table.names;
  out << d.table.ElementsLabel();
  for (const std::string& name : names) out << '\t' << name;
  out << '\n';
  for (int i = 0; i < n; i++) {
    out << names[i];
    for (int j = 0; j < n; j++) {
      const int high = std::max(i, j), low = std::min(i, j);
      const double x = i == j ? 1.0 : consensus[Pairs(high) + low];
      out << '\t' << ShortestDecimal(x);
    }
    out << '\n';
  }
  return static_cast<bool>(out);
}

ConsensusPicture ConsensusPictureOf(const Consensus& c) {
  ConsensusPicture p;
  for (const ConsensusOfK& k : c.ks) {
    p.ks.push_back(k.k);
    p.cdf.push_back(k.cdf);
    p.delta.push_back(k.delta);
  }
  return p;
}

}  // namespace lopper
