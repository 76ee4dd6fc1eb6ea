#include "heatmap_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>

#include "colour.h"
#include "dendrogram.h"
#include "png.h"
#include "svg_text.h"
#include "tree_check.h"

namespace lopper {

namespace {

using picture_detail::Rgb;

// Sizes in pixels.
constexpr int kMargin = 10;
constexpr int kGap = 4;
constexpr int kTitleHeight = 28;
constexpr int kTreeDepth = 120;
constexpr int kBandWidth = 12;
constexpr int kMaxCell = 20;
constexpr int kMaxHeatmapWidth = 2000;
constexpr int kMaxHeatmapHeight = 4000;
constexpr int kMinLabelledCell = 8;         // smaller cells get no names
constexpr double kSmallestLabelledRow = 6;  // lower rows get no tree labels
constexpr int kLegendWidth = 320;
constexpr int kLegendHeight = 40;
constexpr int kScaleWidth = 200;

// order: n numbers. True when it holds each of 0 ... n-1 once.
bool IsPermutation(const std::vector<int>& order, int n) {
  if (order.size() != static_cast<std::size_t>(n)) return false;
  std::vector<bool> seen(order.size(), false);
  for (const int e : order) {
    if (e < 0 || e >= n || seen[e]) return false;
    seen[e] = true;
  }
  return true;
}

// The arguments of one axis (rows or columns) of n elements.
bool IsConsistentAxis(int n, const Node* tree, const std::vector<int>& order,
                      const std::vector<std::string>& names) {
  if (!names.empty() && names.size() != static_cast<std::size_t>(n)) return false;
  if (tree != nullptr) return order.empty() && formats_detail::IsClusterTree(n, tree);
  return order.empty() || IsPermutation(order, n);
}

// What WriteHeatmapSvg accepts, as its header says.
bool IsConsistent(const HeatmapPicture& p) {
  if (p.nrows < 1 || p.ncolumns < 1 || p.values == nullptr) return false;
  if (!IsConsistentAxis(p.nrows, p.row_tree, p.row_order, p.row_names) ||
      !IsConsistentAxis(p.ncolumns, p.column_tree, p.column_order, p.column_names)) {
    return false;
  }
  if (!p.row_clusters.empty() && p.row_clusters.size() != static_cast<std::size_t>(p.nrows)) {
    return false;
  }
  if (!p.row_tree_labels.empty() &&
      (p.row_tree == nullptr || p.row_tree_labels.size() + 1 != static_cast<std::size_t>(p.nrows)))
    return false;
  const long n = static_cast<long>(p.nrows) * p.ncolumns;
  for (long i = 0; i < n; i++) {
    if ((p.mask == nullptr || p.mask[i] != 0) && !std::isfinite(p.values[i])) return false;
  }
  return true;
}

// The elements of an axis in drawing order: the tree's leaf order, else
// the order given, else 0 ... n-1.
std::vector<int> DrawingOrder(int n, const Node* tree, const std::vector<int>& order) {
  if (tree != nullptr) return picture_detail::LeafOrder(n, tree);
  if (!order.empty()) return order;
  std::vector<int> identity(static_cast<std::size_t>(n));
  std::iota(identity.begin(), identity.end(), 0);
  return identity;
}

// One axis of the heatmap: the drawn size of a cell and the pixels of the
// embedded image per cell (the cell size when whole, else 1).
struct Axis {
  double cell;
  int pixels_per_cell;
};

// n cells along at most max_extent pixels.
Axis FitAxis(int n, int max_extent) {
  if (n <= max_extent / kMaxCell) return {kMaxCell, kMaxCell};
  const int whole = max_extent / n;
  if (whole >= 1) return {static_cast<double>(whole), whole};
  return {static_cast<double>(max_extent) / n, 1};
}

// The names of an axis in drawing order as labels, with their font size;
// none when there are no names or the cells are too small for them.
struct Names {
  std::vector<std::string> labels;
  double font = 0;
  double extent = 0;  // estimated length of the longest label
};

// names: one per element or none; order: the axis's drawing order; axis:
// its cells.
Names FitNames(const std::vector<std::string>& names, const std::vector<int>& order, Axis axis) {
  Names fitted;
  if (names.empty() || axis.cell < kMinLabelledCell) return fitted;
  fitted.font = std::min(12.0, axis.cell - 1);
  int longest = 0;
  for (const int e : order) {
    fitted.labels.push_back(picture_detail::Label(names[e]));
    longest = std::max(longest, picture_detail::CharacterCount(fitted.labels.back()));
  }
  fitted.extent = 0.6 * fitted.font * longest;
  return fitted;
}

// Where everything goes, in pixels: left edges (x), top edges (y) and sizes.
struct Layout {
  Axis row, column;
  int row_tree_left, band_left, heatmap_left;
  int column_tree_top, heatmap_top;
  double heatmap_width, heatmap_height, legend_top, width, height;
};

// From left to right: row tree, cluster band, heatmap, row names; from top
// to bottom: title, column tree, heatmap, column names, legend. Parts left
// out take no room. row, column: the heatmap's axes; row_names,
// column_names: their fitted names.
Layout ComputeLayout(const HeatmapPicture& p, Axis row, Axis column, const Names& row_names,
                     const Names& column_names) {
  Layout l{};
  l.row = row;
  l.column = column;
  l.heatmap_width = l.column.cell * p.ncolumns;
  l.heatmap_height = l.row.cell * p.nrows;
  l.row_tree_left = kMargin;
  l.band_left = l.row_tree_left + (p.row_tree != nullptr ? kTreeDepth + kGap : 0);
  l.heatmap_left = l.band_left + (p.row_clusters.empty() ? 0 : kBandWidth + kGap);
  l.column_tree_top = kMargin + (p.title.empty() ? 0 : kTitleHeight);
  l.heatmap_top = l.column_tree_top + (p.column_tree != nullptr ? kTreeDepth + kGap : 0);
  l.legend_top = l.heatmap_top + l.heatmap_height + kGap + column_names.extent + 2 * kGap;
  const double names_right = l.heatmap_left + l.heatmap_width + kGap + row_names.extent;
  l.width = std::ceil(std::max(names_right, static_cast<double>(kMargin + kLegendWidth))) + kMargin;
  l.height = std::ceil(l.legend_top + kLegendHeight) + kMargin;
  return l;
}

using picture_detail::Number;

// The document's start: root element, the legend's gradient, a white
// background and the title.
void WriteOpening(std::ostream& out, const HeatmapPicture& p, const Layout& l, double limit) {
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\""
      << " width=\"" << Number(l.width) << "\" height=\"" << Number(l.height) << "\" viewBox=\"0 0 "
      << Number(l.width) << ' ' << Number(l.height) << "\" font-family=\"sans-serif\">\n"
      << "<defs><linearGradient id=\"scale\">";
  const double stops[] = {-limit, 0, limit};
  for (int k = 0; k < 3; k++) {
    out << "<stop offset=\"" << Number(k / 2.0) << "\" stop-color=\""
        << HexColour(picture_detail::ScaleColour(stops[k], limit)) << "\"/>";
  }
  out << "</linearGradient></defs>\n<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n";
  if (!p.title.empty()) {
    out << "<text x=\"" << kMargin << "\" y=\"" << kMargin + 18
        << "\" font-size=\"16\" font-weight=\"bold\">";
    picture_detail::WriteEscaped(out, picture_detail::Label(p.title));
    out << "</text>\n";
  }
}

// The heatmap as one PNG image, cells in drawing order.
void WriteHeatmapImage(std::ostream& out, const HeatmapPicture& p, const Layout& l,
                       const std::vector<int>& rows, const std::vector<int>& columns,
                       double limit) {
  const int width = p.ncolumns * l.column.pixels_per_cell;
  const int height = p.nrows * l.row.pixels_per_cell;
  const std::string png = picture_detail::EncodePng(width, height, [&](int y, unsigned char* rgb) {
    const long first = static_cast<long>(rows[y / l.row.pixels_per_cell]) * p.ncolumns;
    for (int x = 0; x < width; x++) {
      const long at = first + columns[x / l.column.pixels_per_cell];
      const bool present = p.mask == nullptr || p.mask[at] != 0;
      const Rgb c = present ? picture_detail::ScaleColour(p.values[at], limit)
                            : picture_detail::kMissingColour;
      unsigned char* pixel = rgb + 3 * static_cast<std::ptrdiff_t>(x);
      pixel[0] = c.r;
      pixel[1] = c.g;
      pixel[2] = c.b;
    }
  });
  // The style keeps cells crisp where the image is scaled; renderers that
  // do not know "pixelated" fall back to the attribute.
  out << "<image x=\"" << l.heatmap_left << "\" y=\"" << l.heatmap_top << "\" width=\""
      << Number(l.heatmap_width) << "\" height=\"" << Number(l.heatmap_height)
      << "\" preserveAspectRatio=\"none\" image-rendering=\"optimizeSpeed\""
      << " style=\"image-rendering:pixelated\" xlink:href=\"data:image/png;base64,";
  picture_detail::WriteBase64(out, png);
  out << "\"/>\n";
}

// The group <g id="id" data-order="..."> of an axis with its names: row
// names right of the heatmap, column names below it, reading downwards.
// start: the heatmap's first pixel along the axis; beyond: its far edge
// across the axis.
void WriteAxisGroup(std::ostream& out, const char* id, bool rows, const std::vector<int>& order,
                    const Names& names, double start, double cell, double beyond) {
  out << "<g id=\"" << id << "\" data-order=\"";
  for (std::size_t k = 0; k < order.size(); k++) out << (k > 0 ? " " : "") << order[k];
  out << "\" font-size=\"" << Number(names.font) << "\">\n";
  for (std::size_t k = 0; k < names.labels.size(); k++) {
    const double along = start + (static_cast<double>(k) + 0.5) * cell + 0.35 * names.font;
    const double across = beyond + kGap;
    if (rows) {
      out << "<text x=\"" << Number(across) << "\" y=\"" << Number(along) << "\">";
    } else {
      // Rotated a quarter turn, the baseline moves the other way.
      out << "<text transform=\"translate(" << Number(along - 0.7 * names.font) << ' '
          << Number(across) << ") rotate(90)\">";
    }
    picture_detail::WriteEscaped(out, names.labels[k]);
    out << "</text>\n";
  }
  out << "</g>\n";
}

// The row clusters as a band of rectangles, one per run of rows of the
// same cluster, coloured by the order in which clusters first appear.
void WriteClusterBand(std::ostream& out, const HeatmapPicture& p, const Layout& l,
                      const std::vector<int>& rows) {
  std::map<int, int> rank;
  out << "<g id=\"clusters\">\n";
  for (std::size_t start = 0, end; start < rows.size(); start = end) {
    const int id = p.row_clusters[rows[start]];
    for (end = start + 1; end < rows.size() && p.row_clusters[rows[end]] == id; end++) {
    }
    const int k = rank.emplace(id, static_cast<int>(rank.size())).first->second;
    out << "<rect x=\"" << l.band_left << "\" y=\""
        << Number(l.heatmap_top + static_cast<double>(start) * l.row.cell) << "\" width=\""
        << kBandWidth << "\" height=\"" << Number(static_cast<double>(end - start) * l.row.cell)
        << "\" fill=\"" << HexColour(picture_detail::ClusterColour(k)) << "\"/>\n";
  }
  out << "</g>\n";
}

// x, y: a legend number's anchor point; anchor: SVG text-anchor.
void WriteLegendNumber(std::ostream& out, double x, double y, const char* anchor, double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", value);
  out << "<text x=\"" << Number(x) << "\" y=\"" << Number(y) << "\" text-anchor=\"" << anchor
      << "\">" << text << "</text>\n";
}

// The colour scale from -limit to +limit with its numbers, and the colour
// of missing values.
void WriteLegend(std::ostream& out, const Layout& l, double limit) {
  const double top = l.legend_top;
  out << "<g id=\"legend\" font-size=\"11\">\n<rect x=\"" << kMargin << "\" y=\"" << Number(top)
      << "\" width=\"" << kScaleWidth << "\" height=\"12\" fill=\"url(#scale)\" stroke=\"#333\""
      << " stroke-width=\"0.5\"/>\n";
  WriteLegendNumber(out, kMargin, top + 26, "start", -limit);
  WriteLegendNumber(out, kMargin + kScaleWidth / 2.0, top + 26, "middle", 0);
  WriteLegendNumber(out, kMargin + kScaleWidth, top + 26, "end", limit);
  const int swatch = kMargin + kScaleWidth + 24;
  out << "<rect x=\"" << swatch << "\" y=\"" << Number(top)
      << "\" width=\"12\" height=\"12\" fill=\"" << HexColour(picture_detail::kMissingColour)
      << "\"/>\n<text x=\"" << swatch + 16 << "\" y=\"" << Number(top + 10)
      << "\">missing</text>\n</g>\n";
}

// position[e]: centre of element e's cell along the axis whose drawing
// order is order.
std::vector<double> CellCentres(const std::vector<int>& order, double start, double cell) {
  std::vector<double> position(order.size());
  for (std::size_t k = 0; k < order.size(); k++) {
    position[order[k]] = start + (static_cast<double>(k) + 0.5) * cell;
  }
  return position;
}

// The dendrograms: the row tree's leaves meet the band (or heatmap), the
// column tree's the heatmap's top.
void WriteTrees(std::ostream& out, const HeatmapPicture& p, const Layout& l,
                const std::vector<int>& rows, const std::vector<int>& columns) {
  if (p.row_tree != nullptr) {
    const picture_detail::TreeFrame frame{true, static_cast<double>(l.band_left - kGap),
                                          static_cast<double>(l.row_tree_left)};
    const bool labelled = l.row.cell >= kSmallestLabelledRow;
    picture_detail::WriteDendrogram(
        out, "row-tree", p.nrows, p.row_tree, CellCentres(rows, l.heatmap_top, l.row.cell), frame,
        labelled ? p.row_tree_labels : std::vector<std::string>{}, std::min(9.0, l.row.cell));
  }
  if (p.column_tree != nullptr) {
    const picture_detail::TreeFrame frame{false, static_cast<double>(l.heatmap_top - kGap),
                                          static_cast<double>(l.column_tree_top)};
    picture_detail::WriteDendrogram(out, "column-tree", p.ncolumns, p.column_tree,
                                    CellCentres(columns, l.heatmap_left, l.column.cell), frame);
  }
}

}  // namespace

bool WriteHeatmapSvg(std::ostream& out, const HeatmapPicture& picture) {
  if (!IsConsistent(picture)) return false;
  const HeatmapPicture& p = picture;
  const std::vector<int> rows = DrawingOrder(p.nrows, p.row_tree, p.row_order);
  const std::vector<int> columns = DrawingOrder(p.ncolumns, p.column_tree, p.column_order);
  const Axis row = FitAxis(p.nrows, kMaxHeatmapHeight);
  const Axis column = FitAxis(p.ncolumns, kMaxHeatmapWidth);
  const Names row_names = FitNames(p.row_names, rows, row);
  const Names column_names = FitNames(p.column_names, columns, column);
  const Layout l = ComputeLayout(p, row, column, row_names, column_names);
  const double limit =
      picture_detail::ScaleLimit(static_cast<long>(p.nrows) * p.ncolumns, p.values, p.mask);
  WriteOpening(out, p, l, limit);
  WriteHeatmapImage(out, p, l, rows, columns, limit);
  WriteAxisGroup(out, "rows", true, rows, row_names, l.heatmap_top, l.row.cell,
                 l.heatmap_left + l.heatmap_width);
  WriteAxisGroup(out, "columns", false, columns, column_names, l.heatmap_left, l.column.cell,
                 l.heatmap_top + l.heatmap_height);
  if (!p.row_clusters.empty()) WriteClusterBand(out, p, l, rows);
  WriteTrees(out, p, l, rows, columns);
  WriteLegend(out, l, limit);
  out << "</svg>\n";
  return true;
}

}  // namespace lopper
