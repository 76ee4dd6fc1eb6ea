// A clustering as one self-contained HTML page for exploring it: the
// heatmap and trees of heatmap_svg.h drawn on a canvas that zooms and
// pans, with names, hover, search, and a cut line on the row tree that
// can be dragged, its clusters downloaded as the clusters file of a
// --height cut. No request leaves the page: its script, style and data
// are all in the file, and its content security policy forbids loads.
//
// The data: a JSON block (id "lopper-data": names, trees, orders, colours,
// the cut's settings), the cells' colours as one byte per cell (a level
// of the picture's diverging scale, or missing) and the values as text
// (the shortest decimal that reads back as the value, tab-separated, a
// line per row, missing values empty), each gzip-compressed and in
// base64. The page decodes them with the browser's DecompressionStream.
//
// The page's script (page/page.js) documents its window.lopper object and
// the element ids scripts and tests rely on.
#ifndef LOPPER_PICTURE_HEATMAP_HTML_H
#define LOPPER_PICTURE_HEATMAP_HTML_H

#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "heatmap_svg.h"

namespace lopper {

// The picture (row_clusters: the band of a partition without a tree; with
// a row tree the page cuts it itself and the band follows the cut; gaps and
// fit sizes do not apply), and what the page needs to write the clusters
// file of a --height cut as lopper-cluster writes it.
struct HeatmapPage {
  HeatmapPicture picture;
  // Where the cut line starts; NaN: at the root's height (one cluster).
  double cut_height = std::numeric_limits<double>::quiet_NaN();
  int min_size = 0;            // clusters of fewer elements are written as 0
  std::string elements_label;  // the clusters file's first header cell
  // With elements left out of the clustering: every element's name in the
  // file's order and the row each is (-1: left out, written NA); both empty
  // otherwise.
  std::vector<std::string> file_names;
  std::vector<int> file_rows;
};

// Writes the page. Returns false, writing nothing, when the picture is not
// one WriteHeatmapSvg accepts, file_names and file_rows differ in length
// or file_rows does not hold each row once, or min_size is negative. A
// failing stream is left for the caller to detect.
bool WriteHeatmapHtml(std::ostream& out, const HeatmapPage& page);

}  // namespace lopper

#endif
