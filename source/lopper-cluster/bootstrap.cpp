#include "bootstrap.h"

#include <algorithm>
#include <cmath>

#include "formats.h"
#include "memory.h"
#include "tree_check.h"

namespace lopper {

namespace {

// The number of elements under each record.
std::vector<int> RecordSizes(int nelements, const Node* tree) {
  std::vector<int> size(static_cast<std::size_t>(nelements - 1));
  const auto of = [&size](int ref) { return ref >= 0 ? 1 : size[-ref - 1]; };
  for (int i = 0; i + 1 < nelements; i++) size[i] = of(tree[i].left) + of(tree[i].right);
  return size;
}

// A support value as pvclust prints it in the plot: whole percent, R's
// rounding (half to even); "NA" where the fit has none.
std::string Percent(double p) {
  if (!std::isfinite(p)) return "NA";
  return std::to_string(static_cast<int>(std::nearbyint(100 * p)));
}

std::string Decimal(double x) { return std::isfinite(x) ? ShortestDecimal(x) : "NA"; }

// The scales to resample at: each draws floor(r * nvalues) values, as
// pvclust draws; a scale drawing as many as an earlier one is left out,
// as pvclust leaves it, since the fit needs distinct scales.
Result<std::vector<double>> DistinctScales(const std::vector<double>& scales, int nvalues) {
  std::vector<double> distinct;
  std::vector<double> sizes;
  for (const double r : scales) {
    const double size = std::floor(r * nvalues);
    if (size < 1)
      return Failure{"--bootstrap-scales " + ShortestDecimal(r) + " draws no value: the " +
                     std::to_string(nvalues) + " values of each element need a scale of at least " +
                     ShortestDecimal(1.0 / nvalues)};
    if (std::find(sizes.begin(), sizes.end(), size) != sizes.end()) continue;
    sizes.push_back(size);
    distinct.push_back(r);
  }
  return distinct;
}

}  // namespace

Result<std::vector<BootstrapSupport>> BootstrapTree(const Settings& s, const Dataset& d,
                                                    const Node* tree, int seed,
                                                    ProgressLine& progress) {
  const int n = d.size();
  const BootstrapSettings& b = s.bootstrap;
  // Each thread at work holds a resample's matrix and a working copy.
  if (const auto sizes = Shortfall({MatrixBlock(n, 2 * getthreads())}))
    return Failure{*sizes +
                   ": the resamples of --bootstrap each need one; give --threads 1 or "
                   "cluster fewer elements"};
  const Table& t = d.table;
  const auto asked = DistinctScales(b.scales, static_cast<int>(t.ncolumns()));
  if (!asked.ok()) return Failure{asked.error()};
  const int nscales = static_cast<int>(asked.value().size());
  std::vector<int> counts(static_cast<std::size_t>(nscales) * (n - 1));
  std::vector<double> scales(asked.value().size());
  {
    const LibraryProgress reports(progress, n);
    const int done = bootstrapcounts(n, static_cast<int>(t.ncolumns()), t.ValueRows().data(),
                                     t.MaskRows().data(), d.weights.data(), 0, s.distance, s.method,
                                     tree, nscales, asked.value().data(), b.nboot, seed, 0,
                                     nscales * b.nboot, counts.data(), scales.data());
    if (done < 0)
      return Failure{"out of memory resampling the values of " + std::to_string(n) + " elements"};
  }
  progress.Finish();
  std::vector<BootstrapSupport> support(static_cast<std::size_t>(n - 1));
  std::vector<int> merge_counts(scales.size());
  for (int m = 0; m + 1 < n; m++) {
    for (int k = 0; k < nscales; k++) merge_counts[k] = counts[k * (n - 1) + m];
    if (multiscalefit(nscales, scales.data(), merge_counts.data(), b.nboot, &support[m]) < 0)
      return Failure{"out of memory fitting the bootstrap's scales"};
  }
  return support;
}

std::vector<std::vector<std::string>> SupportTable(int nelements, const Node* tree,
                                                   const std::vector<BootstrapSupport>& support) {
  std::vector<std::vector<std::string>> rows{
      {"merge", "size", "height", "bp", "au", "se.bp", "se.au", "v", "c", "pchi"}};
  const std::vector<int> size = RecordSizes(nelements, tree);
  for (std::size_t m = 0; m < support.size(); m++) {
    const BootstrapSupport& f = support[m];
    rows.push_back({std::to_string(m + 1), std::to_string(size[m]), Decimal(tree[m].distance),
                    Decimal(f.bp), Decimal(f.au), Decimal(f.se_bp), Decimal(f.se_au), Decimal(f.v),
                    Decimal(f.c), Decimal(f.pchi)});
  }
  return rows;
}

std::vector<std::string> SupportLabels(const Settings& s,
                                       const std::vector<BootstrapSupport>& support) {
  std::vector<std::string> labels;
  labels.reserve(support.size());
  for (const BootstrapSupport& f : support)
    labels.push_back(Percent(s.bootstrap.label_bp ? f.bp : f.au));
  return labels;
}

std::vector<std::vector<std::string>> SupportedClusters(
    const Settings& s, const Dataset& d, const Node* tree,
    const std::vector<BootstrapSupport>& support) {
  std::vector<std::vector<std::string>> rows{{"merge", "size", "au", "bp", "elements"}};
  // From the root down, a supported record hides the records inside it.
  // The root, a cluster of everything, is no finding (pvpick skips it too).
  const int nrecords = static_cast<int>(support.size());
  std::vector<char> inside(support.size(), 0);
  std::vector<int> picked;
  for (int m = nrecords - 2; m >= 0; m--) {
    const bool chosen = !inside[m] && support[m].au >= s.bootstrap.alpha;
    if (inside[m] || chosen)
      for (const int child : {tree[m].left, tree[m].right})
        if (child < 0) inside[-child - 1] = 1;
    if (chosen) picked.push_back(m);
  }
  std::sort(picked.begin(), picked.end());
  const std::vector<int> size = RecordSizes(d.size(), tree);
  for (const int m : picked) {
    std::string names;
    for (const int e : formats_detail::LeavesUnder(tree, -(m + 1)))
      names += (names.empty() ? "" : ",") + d.table.names[e];
    rows.push_back({std::to_string(m + 1), std::to_string(size[m]), Decimal(support[m].au),
                    Decimal(support[m].bp), names});
  }
  return rows;
}

}  // namespace lopper
