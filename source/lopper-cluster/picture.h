// What lopper-cluster draws with --svg: the profiles as a heatmap, beside
// the tree (rows in its leaf order) or grouped by the first partition.
#ifndef LOPPER_CLUSTER_COMMAND_PICTURE_H
#define LOPPER_CLUSTER_COMMAND_PICTURE_H

#include <lopper/cluster.h>

#include <vector>

#include "dataset.h"
#include "formats.h"
#include "heatmap_svg.h"

namespace lopper {

// tree: the elements' tree for tree methods, else null; column_tree: the
// columns' tree, or null; cuts: the clusters file's columns (the first cut
// or k is the band; a map's two columns are its cells). The picture points
// into d, which must outlive it.
HeatmapPicture PictureOf(const Settings& s, const Dataset& d, const Node* tree,
                         const Node* column_tree, const std::vector<ClusterColumn>& cuts);

}  // namespace lopper

#endif
