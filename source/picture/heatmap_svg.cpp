#include "heatmap_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>
#include <sstream>

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
constexpr int kClusterGap = 4;
constexpr int kAnnotationHeight = 12;
constexpr int kAnnotationGap = 2;
constexpr double kAnnotationFont = 10;
constexpr int kLegendFont = 11;
constexpr int kLegendLine = 16;
constexpr int kSwatch = 12;
constexpr std::size_t kMostBandEntries = 24;

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

}  // namespace

namespace picture_detail {

bool IsDrawable(const HeatmapPicture& p) {
  if (p.nrows < 1 || p.ncolumns < 1 || p.values == nullptr) return false;
  if (!IsConsistentAxis(p.nrows, p.row_tree, p.row_order, p.row_names) ||
      !IsConsistentAxis(p.ncolumns, p.column_tree, p.column_order, p.column_names)) {
    return false;
  }
  if (!p.row_clusters.empty() && p.row_clusters.size() != static_cast<std::size_t>(p.nrows)) {
    return false;
  }
  if ((p.gaps && p.row_clusters.empty()) || p.fit_width < 0 || p.fit_height < 0) return false;
  for (const HeatmapPicture::ColumnAnnotation& a : p.column_annotations)
    if (a.categories.size() != static_cast<std::size_t>(p.ncolumns)) return false;
  if (!p.row_tree_labels.empty() &&
      (p.row_tree == nullptr || p.row_tree_labels.size() + 1 != static_cast<std::size_t>(p.nrows)))
    return false;
  const long n = static_cast<long>(p.nrows) * p.ncolumns;
  for (long i = 0; i < n; i++) {
    if ((p.mask == nullptr || p.mask[i] != 0) && !std::isfinite(p.values[i])) return false;
  }
  return true;
}

std::vector<int> DrawingOrder(int n, const Node* tree, const std::vector<int>& order) {
  if (tree != nullptr) return picture_detail::LeafOrder(n, tree);
  if (!order.empty()) return order;
  std::vector<int> identity(static_cast<std::size_t>(n));
  std::iota(identity.begin(), identity.end(), 0);
  return identity;
}

}  // namespace picture_detail

namespace {

using picture_detail::DrawingOrder;

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

// A legend below the scale: swatches with their text, after a heading.
struct LegendEntry {
  Rgb colour;
  std::string attribute;  // e.g. data-cluster="3"
  std::string text;
};
struct LegendBlock {
  std::string opening;  // the group's start tag
  std::string heading;
  std::vector<LegendEntry> entries;
  std::string note;  // a last line, or empty
};

// Where a legend's parts go: heading baseline, swatch corners, note
// baseline, and the bottom edge.
struct LegendPlaces {
  double heading_y = 0;
  std::vector<std::pair<double, double>> swatches;
  double note_y = 0;
  double bottom = 0;
};

// Entries flow left to right within width, wrapping to new lines.
LegendPlaces PlaceLegend(const LegendBlock& block, double top, double width) {
  LegendPlaces places;
  places.heading_y = top + kLegendFont;
  double x = kMargin, y = top + kLegendLine;
  for (const LegendEntry& e : block.entries) {
    const double extent = kSwatch + 4 + 0.6 * kLegendFont * picture_detail::CharacterCount(e.text);
    if (x > kMargin && x + extent > kMargin + width) {
      x = kMargin;
      y += kLegendLine;
    }
    places.swatches.emplace_back(x, y);
    x += extent + 12;
  }
  y += block.entries.empty() ? 0 : kLegendLine;
  places.note_y = y + kLegendFont;
  places.bottom = y + (block.note.empty() ? 0 : kLegendLine) + kGap;
  return places;
}

// Where everything goes, in pixels: left edges (x), top edges (y) and sizes.
struct Layout {
  Axis row, column;
  Names row_names, column_names;
  int row_tree_left, band_left, heatmap_left;
  int column_tree_top, annotations_top, heatmap_top;
  // Top edge of each drawn row, then the heatmap's bottom edge.
  std::vector<double> row_tops;
  double heatmap_width, heatmap_height, legend_top, width, height;
  std::vector<LegendPlaces> legends;
};

// Whether a gap precedes each drawn row.
std::vector<bool> GapsBefore(const HeatmapPicture& p, const std::vector<int>& rows) {
  std::vector<bool> gap(rows.size(), false);
  if (!p.gaps) return gap;
  for (std::size_t k = 1; k < rows.size(); k++)
    gap[k] = p.row_clusters[rows[k]] != p.row_clusters[rows[k - 1]];
  return gap;
}

// The rows' top edges from the heatmap's top, cells of the axis's size
// and the gaps between them.
std::vector<double> RowTops(const std::vector<bool>& gap, double top, double cell) {
  std::vector<double> tops(gap.size() + 1);
  double shift = 0;
  for (std::size_t k = 0; k <= gap.size(); k++) {
    if (k < gap.size() && gap[k]) shift += kClusterGap;
    tops[k] = top + static_cast<double>(k) * cell + shift;
  }
  return tops;
}

// The longest annotation name's estimated length.
double AnnotationNamesExtent(const HeatmapPicture& p) {
  int longest = 0;
  for (const HeatmapPicture::ColumnAnnotation& a : p.column_annotations)
    longest = std::max(longest, picture_detail::CharacterCount(picture_detail::Label(a.name)));
  return longest == 0 ? 0 : kGap + 0.6 * kAnnotationFont * longest;
}

// From left to right: row tree, cluster band, heatmap, row names; from top
// to bottom: title, column tree, annotations, heatmap, column names,
// legends. Parts left out take no room. max_width, max_height: the
// heatmap's largest size.
Layout ComputeLayout(const HeatmapPicture& p, const std::vector<int>& rows,
                     const std::vector<int>& columns, const std::vector<LegendBlock>& legends,
                     int max_width, int max_height) {
  Layout l{};
  const std::vector<bool> gap = GapsBefore(p, rows);
  const int gaps = static_cast<int>(std::count(gap.begin(), gap.end(), true));
  l.row = FitAxis(p.nrows, std::max(1, max_height - gaps * kClusterGap));
  l.column = FitAxis(p.ncolumns, std::max(1, max_width));
  l.row_names = FitNames(p.row_names, rows, l.row);
  l.column_names = FitNames(p.column_names, columns, l.column);
  l.heatmap_width = l.column.cell * p.ncolumns;
  l.row_tree_left = kMargin;
  l.band_left = l.row_tree_left + (p.row_tree != nullptr ? kTreeDepth + kGap : 0);
  l.heatmap_left = l.band_left + (p.row_clusters.empty() ? 0 : kBandWidth + kGap);
  l.column_tree_top = kMargin + (p.title.empty() ? 0 : kTitleHeight);
  l.annotations_top = l.column_tree_top + (p.column_tree != nullptr ? kTreeDepth + kGap : 0);
  l.heatmap_top = l.annotations_top + static_cast<int>(p.column_annotations.size()) *
                                          (kAnnotationHeight + kAnnotationGap);
  if (!p.column_annotations.empty()) l.heatmap_top += kGap;
  l.row_tops = RowTops(gap, l.heatmap_top, l.row.cell);
  l.heatmap_height = l.row_tops.back() - l.heatmap_top;
  l.legend_top = l.heatmap_top + l.heatmap_height + kGap + l.column_names.extent + 2 * kGap;
  const double names_right = l.heatmap_left + l.heatmap_width +
                             std::max(kGap + l.row_names.extent, AnnotationNamesExtent(p));
  l.width = std::ceil(std::max(names_right, static_cast<double>(kMargin + kLegendWidth))) + kMargin;
  double bottom = l.legend_top + kLegendHeight;
  for (const LegendBlock& block : legends) {
    l.legends.push_back(PlaceLegend(block, bottom, l.width - 2 * kMargin));
    bottom = l.legends.back().bottom;
  }
  l.height = std::ceil(bottom) + kMargin;
  return l;
}

// The layout at the default sizes, or shrunk until the drawing fits the
// fit size: each pass takes the overflow off the heatmap, whose
// neighbours (names, legends) only shrink or stay with it.
Layout FittedLayout(const HeatmapPicture& p, const std::vector<int>& rows,
                    const std::vector<int>& columns, const std::vector<LegendBlock>& legends) {
  int max_width = p.fit_width > 0 ? p.fit_width : kMaxHeatmapWidth;
  int max_height = p.fit_height > 0 ? p.fit_height : kMaxHeatmapHeight;
  Layout l = ComputeLayout(p, rows, columns, legends, max_width, max_height);
  for (int pass = 0; pass < 8; pass++) {
    const int over_width = p.fit_width > 0 ? static_cast<int>(l.width) - p.fit_width : 0;
    const int over_height = p.fit_height > 0 ? static_cast<int>(l.height) - p.fit_height : 0;
    if (over_width <= 0 && over_height <= 0) break;
    const int width_now = static_cast<int>(std::floor(l.heatmap_width));
    const int height_now = static_cast<int>(std::floor(l.heatmap_height));
    if (over_width > 0) max_width = std::max(1, std::min(max_width, width_now) - over_width);
    if (over_height > 0) max_height = std::max(1, std::min(max_height, height_now) - over_height);
    l = ComputeLayout(p, rows, columns, legends, max_width, max_height);
  }
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

// The drawn rows first ... end-1 of the heatmap as one PNG image, cells in
// drawing order.
void WriteHeatmapImage(std::ostream& out, const HeatmapPicture& p, const Layout& l,
                       const std::vector<int>& rows, std::size_t first_row, std::size_t end_row,
                       const std::vector<int>& columns, double limit) {
  const int width = p.ncolumns * l.column.pixels_per_cell;
  const int height = static_cast<int>(end_row - first_row) * l.row.pixels_per_cell;
  const std::string png = picture_detail::EncodePng(width, height, [&](int y, unsigned char* rgb) {
    const long first = static_cast<long>(rows[first_row + y / l.row.pixels_per_cell]) * p.ncolumns;
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
  const double top = l.row_tops[first_row];
  const double bottom = top + static_cast<double>(end_row - first_row) * l.row.cell;
  out << "<image x=\"" << l.heatmap_left << "\" y=\"" << Number(top) << "\" width=\""
      << Number(l.heatmap_width) << "\" height=\"" << Number(bottom - top)
      << "\" preserveAspectRatio=\"none\" image-rendering=\"optimizeSpeed\""
      << " style=\"image-rendering:pixelated\" xlink:href=\"data:image/png;base64,";
  picture_detail::WriteBase64(out, png);
  out << "\"/>\n";
}

// The group <g id="id" data-order="..."> of an axis with its names: row
// names right of the heatmap, column names below it, reading downwards.
// centres: of the cells along the axis in drawing order; beyond: the
// heatmap's far edge across the axis.
void WriteAxisGroup(std::ostream& out, const char* id, bool rows, const std::vector<int>& order,
                    const Names& names, const std::vector<double>& centres, double beyond) {
  out << "<g id=\"" << id << "\" data-order=\"";
  for (std::size_t k = 0; k < order.size(); k++) out << (k > 0 ? " " : "") << order[k];
  out << "\" font-size=\"" << Number(names.font) << "\">\n";
  for (std::size_t k = 0; k < names.labels.size(); k++) {
    const double along = centres[k] + 0.35 * names.font;
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
    out << "<rect x=\"" << l.band_left << "\" y=\"" << Number(l.row_tops[start]) << "\" width=\""
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

// The centres of n cells from start, in drawing order.
std::vector<double> Centres(std::size_t n, double start, double cell) {
  std::vector<double> centres(n);
  for (std::size_t k = 0; k < n; k++) centres[k] = start + (static_cast<double>(k) + 0.5) * cell;
  return centres;
}

std::vector<double> RowCentres(const Layout& l) {
  std::vector<double> centres(l.row_tops.size() - 1);
  for (std::size_t k = 0; k < centres.size(); k++) centres[k] = l.row_tops[k] + 0.5 * l.row.cell;
  return centres;
}

// position[e]: centre of element e's cell, from the centres in drawing
// order.
std::vector<double> ByElement(const std::vector<int>& order, const std::vector<double>& centres) {
  std::vector<double> position(order.size());
  for (std::size_t k = 0; k < order.size(); k++) position[order[k]] = centres[k];
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
        out, "row-tree", p.nrows, p.row_tree, ByElement(rows, RowCentres(l)), frame,
        labelled ? p.row_tree_labels : std::vector<std::string>{}, std::min(9.0, l.row.cell));
  }
  if (p.column_tree != nullptr) {
    const picture_detail::TreeFrame frame{false, static_cast<double>(l.annotations_top - kGap),
                                          static_cast<double>(l.column_tree_top)};
    picture_detail::WriteDendrogram(
        out, "column-tree", p.ncolumns, p.column_tree,
        ByElement(columns, Centres(columns.size(), l.heatmap_left, l.column.cell)), frame);
  }
}

// A cluster's text in tooltips and the band's legend.
std::string ClusterText(int id) { return "cluster " + std::to_string(id); }

// Transparent rectangles over the rows, each with its tooltip.
void WriteRowTitles(std::ostream& out, const HeatmapPicture& p, const Layout& l,
                    const std::vector<int>& rows) {
  out << "<g id=\"row-titles\" fill-opacity=\"0\">\n";
  for (std::size_t k = 0; k < rows.size(); k++) {
    const int e = rows[k];
    out << "<rect x=\"" << l.heatmap_left << "\" y=\"" << Number(l.row_tops[k]) << "\" width=\""
        << Number(l.heatmap_width) << "\" height=\"" << Number(l.row.cell) << "\"><title>";
    picture_detail::WriteEscaped(out, p.row_names.empty() ? "row " + std::to_string(e + 1)
                                                          : picture_detail::Label(p.row_names[e]));
    if (!p.row_clusters.empty()) out << ", " << ClusterText(p.row_clusters[e]);
    out << "</title></rect>\n";
  }
  out << "</g>\n";
}

using picture_detail::CategoryRanks;

Rgb CategoryColour(const std::map<std::string, int>& rank, const std::string& category) {
  return category.empty() ? picture_detail::kMissingColour
                          : picture_detail::CategoryColour(rank.at(category));
}

// value: a name or category, written as names are.
void WriteAttribute(std::ostream& out, const char* name, const std::string& value) {
  out << ' ' << name << "=\"";
  picture_detail::WriteEscaped(out, picture_detail::Label(value));
  out << '"';
}

// One bar per annotation, a cell per column, its name right of it.
void WriteColumnAnnotations(std::ostream& out, const HeatmapPicture& p, const Layout& l,
                            const std::vector<int>& columns) {
  out << "<g id=\"column-annotations\" shape-rendering=\"crispEdges\" font-size=\""
      << Number(kAnnotationFont) << "\">\n";
  double top = l.annotations_top;
  for (const HeatmapPicture::ColumnAnnotation& a : p.column_annotations) {
    const std::map<std::string, int> rank = CategoryRanks(a.categories);
    out << "<g";
    WriteAttribute(out, "data-annotation", a.name);
    out << ">\n";
    for (std::size_t k = 0; k < columns.size(); k++) {
      const std::string& category = a.categories[columns[k]];
      out << "<rect x=\"" << Number(l.heatmap_left + static_cast<double>(k) * l.column.cell)
          << "\" y=\"" << Number(top) << "\" width=\"" << Number(l.column.cell) << "\" height=\""
          << kAnnotationHeight << "\" fill=\"" << HexColour(CategoryColour(rank, category)) << '"';
      WriteAttribute(out, "data-category", category);
      out << "/>\n";
    }
    out << "<text x=\"" << Number(l.heatmap_left + l.heatmap_width + kGap) << "\" y=\""
        << Number(top + kAnnotationHeight - 2) << "\">";
    picture_detail::WriteEscaped(out, picture_detail::Label(a.name));
    out << "</text>\n</g>\n";
    top += kAnnotationHeight + kAnnotationGap;
  }
  out << "</g>\n";
}

// The band's legend: its clusters in drawing order, the first few.
LegendBlock BandLegend(const HeatmapPicture& p, const std::vector<int>& rows) {
  LegendBlock block{"<g id=\"cluster-legend\"", "clusters", {}, ""};
  std::map<int, int> rank;
  for (const int e : rows) {
    const int id = p.row_clusters[e];
    if (!rank.emplace(id, static_cast<int>(rank.size())).second) continue;
    if (rank.size() <= kMostBandEntries)
      block.entries.push_back({picture_detail::ClusterColour(static_cast<int>(rank.size()) - 1),
                               "data-cluster=\"" + std::to_string(id) + "\"", ClusterText(id)});
  }
  if (rank.size() > kMostBandEntries)
    block.note = "… " + std::to_string(rank.size() - kMostBandEntries) + " more";
  if (rank.size() > static_cast<std::size_t>(picture_detail::kClusterColours))
    block.note += std::string(block.note.empty() ? "" : "; ") + "colours repeat every " +
                  std::to_string(picture_detail::kClusterColours) + " clusters";
  return block;
}

// An annotation's legend: its categories, and missing when some are.
LegendBlock AnnotationLegend(const HeatmapPicture::ColumnAnnotation& a) {
  LegendBlock block{"<g class=\"annotation-legend\"", picture_detail::Label(a.name), {}, ""};
  std::ostringstream attribute;
  WriteAttribute(attribute, "data-annotation", a.name);
  block.opening += attribute.str();
  const std::map<std::string, int> rank = CategoryRanks(a.categories);
  for (const auto& [category, k] : rank) {
    std::ostringstream data;
    WriteAttribute(data, "data-category", category);
    block.entries.push_back(
        {picture_detail::CategoryColour(k), data.str().substr(1), picture_detail::Label(category)});
  }
  if (std::find(a.categories.begin(), a.categories.end(), "") != a.categories.end())
    block.entries.push_back({picture_detail::kMissingColour, "data-category=\"\"", "missing"});
  if (rank.size() > static_cast<std::size_t>(picture_detail::kCategoryColours))
    block.note =
        "colours repeat every " + std::to_string(picture_detail::kCategoryColours) + " categories";
  return block;
}

std::vector<LegendBlock> LegendBlocks(const HeatmapPicture& p, const std::vector<int>& rows) {
  std::vector<LegendBlock> blocks;
  if (!p.row_clusters.empty()) blocks.push_back(BandLegend(p, rows));
  for (const HeatmapPicture::ColumnAnnotation& a : p.column_annotations)
    blocks.push_back(AnnotationLegend(a));
  return blocks;
}

void WriteLegendBlock(std::ostream& out, const LegendBlock& block, const LegendPlaces& places) {
  out << block.opening << " font-size=\"" << kLegendFont << "\">\n<text x=\"" << kMargin
      << "\" y=\"" << Number(places.heading_y) << "\" font-weight=\"bold\">";
  picture_detail::WriteEscaped(out, block.heading);
  out << "</text>\n";
  for (std::size_t k = 0; k < block.entries.size(); k++) {
    const LegendEntry& e = block.entries[k];
    const auto [x, y] = places.swatches[k];
    out << "<rect x=\"" << Number(x) << "\" y=\"" << Number(y) << "\" width=\"" << kSwatch
        << "\" height=\"" << kSwatch << "\" fill=\"" << HexColour(e.colour) << "\" " << e.attribute
        << "/>\n<text x=\"" << Number(x + kSwatch + 4) << "\" y=\"" << Number(y + kSwatch - 2)
        << "\">";
    picture_detail::WriteEscaped(out, e.text);
    out << "</text>\n";
  }
  if (!block.note.empty()) {
    out << "<text x=\"" << kMargin << "\" y=\"" << Number(places.note_y) << "\">";
    picture_detail::WriteEscaped(out, block.note);
    out << "</text>\n";
  }
  out << "</g>\n";
}

// The heatmap: one image, or one per run of rows between gaps.
void WriteHeatmap(std::ostream& out, const HeatmapPicture& p, const Layout& l,
                  const std::vector<int>& rows, const std::vector<int>& columns, double limit) {
  const std::vector<bool> gap = GapsBefore(p, rows);
  for (std::size_t start = 0, end; start < rows.size(); start = end) {
    for (end = start + 1; end < rows.size() && !gap[end]; end++) {
    }
    WriteHeatmapImage(out, p, l, rows, start, end, columns, limit);
  }
}

}  // namespace

bool WriteHeatmapSvg(std::ostream& out, const HeatmapPicture& picture) {
  if (!picture_detail::IsDrawable(picture)) return false;
  const HeatmapPicture& p = picture;
  const std::vector<int> rows = DrawingOrder(p.nrows, p.row_tree, p.row_order);
  const std::vector<int> columns = DrawingOrder(p.ncolumns, p.column_tree, p.column_order);
  const std::vector<LegendBlock> legends = LegendBlocks(p, rows);
  const Layout l = FittedLayout(p, rows, columns, legends);
  const double limit =
      picture_detail::ScaleLimit(static_cast<long>(p.nrows) * p.ncolumns, p.values, p.mask);
  WriteOpening(out, p, l, limit);
  WriteHeatmap(out, p, l, rows, columns, limit);
  WriteAxisGroup(out, "rows", true, rows, l.row_names, RowCentres(l),
                 l.heatmap_left + l.heatmap_width);
  WriteAxisGroup(out, "columns", false, columns, l.column_names,
                 Centres(columns.size(), l.heatmap_left, l.column.cell),
                 l.heatmap_top + l.heatmap_height);
  if (!p.row_clusters.empty()) WriteClusterBand(out, p, l, rows);
  if (!p.column_annotations.empty()) WriteColumnAnnotations(out, p, l, columns);
  WriteTrees(out, p, l, rows, columns);
  WriteRowTitles(out, p, l, rows);
  WriteLegend(out, l, limit);
  for (std::size_t k = 0; k < legends.size(); k++) WriteLegendBlock(out, legends[k], l.legends[k]);
  out << "</svg>\n";
  return true;
}

}  // namespace lopper
