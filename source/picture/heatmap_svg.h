// A clustering drawn as an SVG file: the data as a heatmap, the trees of
// its rows and columns as dendrograms beside and above it, the row
// clusters as a coloured band between tree and heatmap.
//
// Colours: values run from blue through white (0) to red on a scale that
// is symmetric about 0. Its limit is the 99th percentile of |value| over
// the present values (nearest rank; the largest when there are fewer than
// 100), so that a few outliers do not wash the rest out; values beyond it
// take the end colours. All-zero or all-missing data get the limit 1.
// Missing values are grey. The legend below the heatmap shows the scale
// with -limit, 0 and +limit and the missing-value colour.
//
// Layout, in pixels: cells are at most 20 wide and 20 high; the heatmap is
// at most 2000 wide and 4000 high (with a fit size: as large as lets the
// whole drawing fit in it, the other parts keeping their sizes, so that a
// fit smaller than they need is exceeded), cells
// shrinking to fit, one pixel per
// cell at least up to 2000 columns and 4000 rows and fractions of a pixel
// beyond. The heatmap is one embedded PNG image with whole cells at its
// drawn size, so cells are crisp at 100% in any renderer; zoomed in,
// browsers keep them crisp (image-rendering pixelated) while rsvg-convert
// 2.54 blends a few pixels at cell edges.
//
// Names: row names are written right of the rows when nrows <= 500 and
// column names below the columns when ncolumns <= 250 (cells of at least 8
// pixels); otherwise they are left out. Names are XML-escaped; valid UTF-8
// passes through, other bytes and control characters become U+FFFD; names
// longer than 40 characters are cut to 39 and "…".
//
// Gaps: a gap of 4 pixels between consecutive drawn rows of different
// band clusters; the heatmap is then one image per run of rows.
//
// Column annotations: one bar of cells per annotation, between the column
// tree and the heatmap; a category's colour is its rank among the
// annotation's categories in byte order, from a colour-blind-safe list of
// 9 that repeats (the legend then says so); empty categories are missing
// and grey. Each annotation and the band have a legend below the scale:
// the band's lists clusters in drawing order, at most 24, then "…".
//
// Tooltips: each drawn row is covered by a transparent rectangle holding a
// <title> with the row's name, written as names are (or "row N", counting
// from 1), and, with a band, ", cluster ID".
//
// Reading the drawing back: the element <g id="rows"> carries
// data-order="e0 e1 ..." with the row numbers from top to bottom, and
// <g id="columns"> the column numbers from left to right; the row
// dendrogram is the single <path id="row-tree"> and the column dendrogram
// <path id="column-tree">, one subpath ("M" and three "L") per merge;
// the row tree's labels are the <text> elements of <g id="row-tree-labels">.
// <g id="column-annotations"> holds one <g data-annotation="NAME"> per
// annotation, with one <rect fill="#rrggbb" data-category="CATEGORY"> per
// column in drawing order (names and categories written as names are).
// <g id="row-titles"> holds one <rect> per row in drawing order, its y and
// height giving the row's place, its <title> the tooltip.
// <g id="cluster-legend"> and each <g class="annotation-legend"
// data-annotation="NAME"> hold the legends' swatches (<rect
// data-cluster="ID"> or <rect data-category="CATEGORY">), each followed
// by its <text>.
#ifndef LOPPER_PICTURE_HEATMAP_SVG_H
#define LOPPER_PICTURE_HEATMAP_SVG_H

#include <lopper/cluster.h>

#include <ostream>
#include <string>
#include <vector>

namespace lopper {

// What to draw. Trees are those of treecluster: n-1 Node records for n
// elements, children before parents, the root last, a reference r >= 0
// being element r and r < 0 record -r-1, heights in `distance` (finite;
// inversions, where a parent is lower than a child, and zero heights are
// drawn as they are).
struct HeatmapPicture {
  int nrows = 0;
  int ncolumns = 0;
  const double* values = nullptr;         // nrows*ncolumns, row-major
  const int* mask = nullptr;              // same shape, 0 = missing; null: all present
  std::vector<std::string> row_names;     // nrows names or none
  std::vector<std::string> column_names;  // ncolumns names or none
  // Row tree, drawn left of the rows; the rows are then drawn in its leaf
  // order, each left subtree before its right one. Without a tree, rows
  // are drawn top to bottom in row_order (a permutation of 0 ... nrows-1;
  // empty for table order), which must be empty when a tree is given.
  const Node* row_tree = nullptr;
  std::vector<int> row_order;
  // Text beside each record of row_tree (e.g. its bootstrap support), one
  // per record, empty for none; none at all when the vector is empty.
  // Drawn while rows are at least 6 pixels high.
  std::vector<std::string> row_tree_labels;
  // The same for columns, the tree drawn above, columns left to right.
  const Node* column_tree = nullptr;
  std::vector<int> column_order;
  std::vector<int> row_clusters;  // one cluster id per row, any numbering; empty: no band
  bool gaps = false;              // with row_clusters: gaps between clusters
  // Categories of the columns: one string per column, empty for missing.
  struct ColumnAnnotation {
    std::string name;
    std::vector<std::string> categories;
  };
  std::vector<ColumnAnnotation> column_annotations;
  // The largest drawing wanted, in pixels; 0 for the default maxima.
  int fit_width = 0;
  int fit_height = 0;
  std::string title;
};

// Writes picture as a standalone SVG document. Returns false, writing
// nothing, when the arguments are inconsistent: nrows or ncolumns < 1, no
// values, a present value that is not finite, name, label, cluster or
// category lists of the wrong length, gaps without clusters, a negative
// fit size, an order that is not a permutation or is given beside a
// tree, a tree that is not such a tree of nrows (ncolumns) elements. A
// failing stream is left for the caller to detect.
bool WriteHeatmapSvg(std::ostream& out, const HeatmapPicture& picture);

namespace picture_detail {

// Whether picture holds what WriteHeatmapSvg accepts (see there).
bool IsDrawable(const HeatmapPicture& picture);

// The elements of an axis of n in drawing order: the tree's leaf order,
// else the order given, else 0 ... n-1.
std::vector<int> DrawingOrder(int n, const Node* tree, const std::vector<int>& order);

}  // namespace picture_detail

}  // namespace lopper

#endif
