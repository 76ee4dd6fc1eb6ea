// What lopper-cluster draws with --svg: the profiles as a heatmap, beside
// the tree (rows in its leaf order) or grouped by the first partition.
#ifndef LOPPER_CLUSTER_COMMAND_PICTURE_H
#define LOPPER_CLUSTER_COMMAND_PICTURE_H

#include <lopper/cluster.h>

#include <vector>

#include "dataset.h"
#include "formats.h"
#include "heatmap_html.h"
#include "heatmap_svg.h"
#include "result.h"
#include "table.h"

namespace lopper {

// tree: the elements' tree for tree methods, else null; column_tree: the
// columns' tree, or null; cuts: the clusters file's columns (the first cut
// or k is the band; a map's two columns are its cells). The picture points
// into d, which must outlive it.
HeatmapPicture PictureOf(const Settings& s, const Dataset& d, const Node* tree,
                         const Node* column_tree, const std::vector<ClusterColumn>& cuts);

// The page of --html around picture: the cut line starts at the first
// --height, else where the first -k cuts the tree (midway between the
// heights that bound it), and its clusters file is --clusters' for a
// --height cut, with --min-size and the elements --drop-empty left out.
HeatmapPage PageOf(const Settings& s, const Dataset& d, HeatmapPicture picture);

using ColumnAnnotations = std::vector<HeatmapPicture::ColumnAnnotation>;

// The file of --column-annotations for the columns of table t (as the
// command sees them: the table's rows with --transpose), none without the
// option. The file is read as tables are (separator, quoting, gzip): a
// header (a label, then the annotations' names), then a line per column,
// its name then its categories; empty cells and NA are missing. Lines of
// columns not in t are ignored, so one file serves subsets of the
// columns. Fails, naming the file and line, for unreadable text, a line
// whose length differs from the header's, a column named twice, and
// naming the table's column, for a column without a line.
Result<ColumnAnnotations> ReadColumnAnnotations(const Settings& s, const Table& t);

}  // namespace lopper

#endif
