#include "cuts.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>
#include <utility>

#include "HeightCut.h"

namespace lopper {

namespace {

// A cut's clusters as the library gives them: numbered from 0, -1 for an
// element in none; by_size when the numbers go by size, as R's dynamic cut.
struct Cut {
  std::string label;
  std::vector<int> ids;
  bool by_size = false;
};

constexpr char kOutOfMemory[] = "out of memory cutting the tree";

Result<std::vector<Cut>> ThresholdCuts(const Settings& s, Dataset& d, const Node* tree) {
  const int n = d.size();
  std::vector<Cut> cuts;
  const auto add = [&cuts, n](std::string label, auto cut) -> bool {
    Cut column{std::move(label), std::vector<int>(static_cast<std::size_t>(n)), false};
    if (cut(column.ids.data()) < 0) return false;
    cuts.push_back(std::move(column));
    return true;
  };
  for (const int k : s.ks)
    if (!add("k=" + std::to_string(k), [&](int* ids) {
          cuttree(n, tree, k, ids);
          return ids[0];
        }))
      return Failure{kOutOfMemory};
  for (const double h : s.heights)
    if (!add("h=" + ShortestDecimal(h), [&](int* ids) { return cuttree_height(n, tree, h, ids); }))
      return Failure{kOutOfMemory};
  for (const double t : s.cuts.inconsistent)
    if (!add("inconsistent=" + ShortestDecimal(t),
             [&](int* ids) { return cuttree_inconsistent(n, tree, t, s.cuts.depth, ids); }))
      return Failure{kOutOfMemory};
  return cuts;
}

Result<Cut> DynamicCut(const Settings& s, Dataset& d, const Node* given) {
  const TreeCuts& c = s.cuts;
  const int n = d.size();
  const std::vector<Node> oriented = AsHclustLists(n, given);
  const Node* const tree = n > 1 ? oriented.data() : given;
  Cut cut{c.hybrid ? "dynamic-hybrid" : "dynamic", std::vector<int>(static_cast<std::size_t>(n)),
          true};
  int found = -1;
  if (c.hybrid) {
    auto distances = Distances(s, d);
    if (!distances.ok()) return Failure{distances.error()};
    found = cuttree_hybrid(n, tree, distances.value()->rows(), c.cut_height, c.deep_split,
                           c.min_size, c.pam, cut.ids.data());
  } else {
    found = cuttree_dynamic(n, tree, c.cut_height, c.deep_split, c.min_size, cut.ids.data());
  }
  if (found < 0) return Failure{kOutOfMemory};
  return cut;
}

// The options leave out the linkages whose trees can have inversions, so
// the branch lengths are the differences of the heights.
Result<std::vector<Cut>> CladeCuts(const Settings& s, int n, const Node* tree) {
  const std::string name = CladeRuleName(s.cuts.clade);
  std::vector<Cut> cuts;
  for (const double t : s.cuts.clade_thresholds) {
    Cut cut{name + "-clade=" + ShortestDecimal(t), std::vector<int>(static_cast<std::size_t>(n))};
    if (cuttree_clade(n, tree, nullptr, nullptr, nullptr, s.cuts.clade, t, 0.0, cut.ids.data()) < 0)
      return Failure{kOutOfMemory};
    cuts.push_back(std::move(cut));
  }
  return cuts;
}

// The column of the clusters file: numbered on writing when every element
// is in a cluster (as before there were leftovers), else numbered here
// with 0 for the elements in none.
ClusterColumn ColumnOf(Cut cut) {
  if (!cut.by_size && std::find(cut.ids.begin(), cut.ids.end(), -1) == cut.ids.end())
    return ClusterColumn{std::move(cut.label), std::move(cut.ids), true};
  if (cut.by_size) {
    for (int& id : cut.ids) id++;
  } else {
    // number_of[c]: the number cluster c is written as, 0 until its first element.
    std::vector<int> number_of(cut.ids.size(), 0);
    int next = 0;
    for (int& id : cut.ids) {
      if (id < 0) {
        id = 0;
        continue;
      }
      int& number = number_of[static_cast<std::size_t>(id)];
      if (!number) number = ++next;
      id = number;
    }
  }
  return ClusterColumn{std::move(cut.label), std::move(cut.ids), false};
}

}  // namespace

Result<std::vector<ClusterColumn>> CutColumns(const Settings& s, Dataset& d, const Node* tree) {
  const int n = d.size();
  auto threshold = ThresholdCuts(s, d, tree);
  if (!threshold.ok()) return Failure{threshold.error()};
  std::vector<Cut> cuts = std::move(threshold).value();
  if (s.cuts.dynamic) {
    auto dynamic = DynamicCut(s, d, tree);
    if (!dynamic.ok()) return Failure{dynamic.error()};
    cuts.push_back(std::move(dynamic).value());
  }
  if (s.cuts.clade) {
    auto clades = CladeCuts(s, n, tree);
    if (!clades.ok()) return Failure{clades.error()};
    for (Cut& cut : clades.value()) cuts.push_back(std::move(cut));
  }
  std::vector<ClusterColumn> columns;
  for (Cut& cut : cuts) {
    if (s.cuts.min_size > 0 && !cut.by_size &&
        dropsmallclusters(n, cut.ids.data(), s.cuts.min_size) < 0)
      return Failure{kOutOfMemory};
    columns.push_back(ColumnOf(std::move(cut)));
  }
  return columns;
}

Result<std::vector<std::vector<std::string>>> CutReport(const Settings& s, Dataset& d,
                                                        const std::vector<ClusterColumn>& cuts) {
  const bool leftovers = s.cuts.dynamic || s.cuts.min_size > 0;
  std::vector<std::vector<std::string>> report{{"cut", "clusters"}};
  if (leftovers) report[0].push_back("unassigned");
  if (s.silhouette) report[0].push_back("silhouette");
  for (const ClusterColumn& cut : cuts) {
    // Numbered columns hold 0 for an element in no cluster.
    const long none = cut.renumber ? 0 : std::count(cut.clusterid.begin(), cut.clusterid.end(), 0);
    report.push_back({cut.label, std::to_string(ClusterCount(cut.clusterid) - (none > 0))});
    if (leftovers) report.back().push_back(std::to_string(none));
    if (!s.silhouette) continue;
    auto width =
        none ? Result<std::string>(std::string("NA")) : SilhouetteText(s, d, cut.clusterid);
    if (!width.ok()) return Failure{width.error()};
    report.back().push_back(width.value());
  }
  return report;
}

int ClusterCount(const std::vector<int>& clusterid) {
  const std::vector<int> numbered = NumberClustersByFirstElement(clusterid);
  return numbered.empty() ? 0 : *std::max_element(numbered.begin(), numbered.end());
}

Result<std::string> SilhouetteText(const Settings& s, Dataset& d,
                                   const std::vector<int>& clusterid) {
  const int n = static_cast<int>(clusterid.size());
  std::vector<int> numbered = NumberClustersByFirstElement(clusterid);
  const int k = n > 0 ? *std::max_element(numbered.begin(), numbered.end()) : 0;
  if (k < 2 || k >= n) return std::string("NA");
  auto distances = Distances(s, d);
  if (!distances.ok()) return Failure{distances.error()};
  for (int& id : numbered) id--;
  const double width = silhouette(n, distances.value()->rows(), numbered.data());
  if (width < -1) return Failure{"out of memory computing the silhouette widths"};
  return ShortestDecimal(width);
}

}  // namespace lopper
