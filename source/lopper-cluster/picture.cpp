#include "picture.h"

#include <algorithm>
#include <numeric>

#include "partition.h"

namespace lopper {

namespace {

// The elements ordered by key, ties in element order.
std::vector<int> OrderedBy(const std::vector<int>& key) {
  std::vector<int> order(key.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&key](int a, int b) { return key[a] < key[b]; });
  return order;
}

// The band's clusters: the first cut, or a map's cells in grid order.
std::vector<int> BandClusters(const Settings& s, const std::vector<ClusterColumn>& cuts) {
  if (cuts.empty()) return {};
  if (s.partitioning != Partitioning::kSom) return NumberClustersByFirstElement(cuts[0].clusterid);
  std::vector<int> cell(cuts[0].clusterid.size());
  for (std::size_t e = 0; e < cell.size(); e++)
    cell[e] = CellNumber(s, cuts[0].clusterid[e], cuts[1].clusterid[e]);
  return cell;
}

}  // namespace

HeatmapPicture PictureOf(const Settings& s, const Dataset& d, const Node* tree,
                         const Node* column_tree, const std::vector<ClusterColumn>& cuts) {
  const Table& t = d.table;
  HeatmapPicture p;
  p.nrows = d.size();
  p.ncolumns = static_cast<int>(t.ncolumns());
  p.values = t.values.data();
  p.mask = t.mask.data();
  p.row_names = t.names;
  p.column_names = t.columns;
  p.row_tree = tree;
  p.column_tree = column_tree;
  p.row_clusters = BandClusters(s, cuts);
  if (!tree && !p.row_clusters.empty()) p.row_order = OrderedBy(p.row_clusters);
  p.title = t.source.substr(t.source.find_last_of('/') + 1);
  return p;
}

}  // namespace lopper
