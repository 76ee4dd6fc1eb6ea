#include "heatmap_html.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>

#include "colour.h"
#include "page_assets.h"
#include "png.h"
#include "svg_text.h"

namespace lopper {

namespace {

using picture_detail::HexColour;

// The scale's levels: level k stands for value/limit = (k - kScaleMiddle)
// / kScaleMiddle; one byte more marks a missing value.
constexpr int kScaleMiddle = 125;
constexpr int kMissingLevel = 255;

// A JSON writer for the data block. '<' is written as \u003c so that no
// text can close the script element that holds it.
class Json {
 public:
  explicit Json(std::ostream& out) : out_(out) {}

  void String(const std::string& text) {
    out_ << '"';
    for (const char c : picture_detail::ValidText(text)) {
      if (c == '"' || c == '\\') {
        out_ << '\\' << c;
      } else if (c == '<') {
        out_ << "\\u003c";
      } else {
        out_ << c;  // ValidText leaves no control character
      }
    }
    out_ << '"';
  }

  // Finite x as the shortest decimal that reads back as x.
  void Number(double x) {
    char text[32];
    out_.write(text, std::to_chars(text, text + sizeof text, x).ptr - text);
  }

  void Key(const char* name) {
    out_ << (first_ ? "" : ",") << '"' << name << "\":";
    first_ = false;
  }

  template <typename T, typename Write>
  void Array(const std::vector<T>& items, Write write) {
    out_ << '[';
    for (std::size_t i = 0; i < items.size(); i++) {
      if (i) out_ << ',';
      write(items[i]);
    }
    out_ << ']';
  }

  void Strings(const std::vector<std::string>& items) {
    Array(items, [this](const std::string& s) { String(s); });
  }
  void Ints(const std::vector<int>& items) {
    Array(items, [this](int i) { out_ << i; });
  }

  std::ostream& out() { return out_; }

 private:
  std::ostream& out_;
  bool first_ = true;
};

// A tree as three arrays of its records: children (as treecluster refers
// to them) and heights; null for none (or one element).
void WriteTree(Json& json, int n, const Node* tree) {
  if (!tree || n < 2) {
    json.out() << "null";
    return;
  }
  std::vector<int> left, right;
  std::vector<double> height;
  for (int i = 0; i + 1 < n; i++) {
    left.push_back(tree[i].left);
    right.push_back(tree[i].right);
    height.push_back(tree[i].distance);
  }
  json.out() << "{\"left\":";
  json.Ints(left);
  json.out() << ",\"right\":";
  json.Ints(right);
  json.out() << ",\"height\":";
  json.Array(height, [&json](double h) { json.Number(h); });
  json.out() << '}';
}

void WriteAnnotations(Json& json, const HeatmapPicture& p) {
  json.Array(p.column_annotations, [&json](const HeatmapPicture::ColumnAnnotation& a) {
    const std::map<std::string, int> rank = picture_detail::CategoryRanks(a.categories);
    std::vector<std::string> names, colours;
    for (const auto& [category, k] : rank) {
      names.push_back(category);
      colours.push_back(HexColour(picture_detail::CategoryColour(k)));
    }
    std::vector<int> of_column;  // each column's category, -1 missing
    for (const std::string& c : a.categories) of_column.push_back(c.empty() ? -1 : rank.at(c));
    json.out() << "{\"name\":";
    json.String(a.name);
    json.out() << ",\"categories\":";
    json.Strings(names);
    json.out() << ",\"colours\":";
    json.Strings(colours);
    json.out() << ",\"columns\":";
    json.Ints(of_column);
    json.out() << '}';
  });
}

// The colour of each level of the scale, then of the missing level.
std::vector<std::string> ScalePalette(double limit) {
  std::vector<std::string> palette;
  for (int k = 0; k <= 2 * kScaleMiddle; k++)
    palette.push_back(HexColour(picture_detail::ScaleColour(
        limit * (k - kScaleMiddle) / static_cast<double>(kScaleMiddle), limit)));
  palette.push_back(HexColour(picture_detail::kMissingColour));
  return palette;
}

// What is drawn: names, orders, trees and their labels, the band of a
// partition, the annotations.
void WriteDrawing(Json& json, const HeatmapPicture& p) {
  json.Key("title");
  json.String(p.title);
  json.Key("nrows");
  json.out() << p.nrows;
  json.Key("ncolumns");
  json.out() << p.ncolumns;
  json.Key("rowNames");
  json.Strings(p.row_names);
  json.Key("columnNames");
  json.Strings(p.column_names);
  json.Key("rowOrder");
  json.Ints(picture_detail::DrawingOrder(p.nrows, p.row_tree, p.row_order));
  json.Key("columnOrder");
  json.Ints(picture_detail::DrawingOrder(p.ncolumns, p.column_tree, p.column_order));
  json.Key("rowTree");
  WriteTree(json, p.nrows, p.row_tree);
  json.Key("columnTree");
  WriteTree(json, p.ncolumns, p.column_tree);
  json.Key("treeLabels");
  json.Strings(p.row_tree_labels);
  json.Key("band");
  json.Ints(p.row_tree ? std::vector<int>{} : p.row_clusters);
  json.Key("annotations");
  WriteAnnotations(json, p);
}

// The scale's limit and the colours of its levels and of the band.
void WriteColours(Json& json, double limit) {
  json.Key("limit");
  json.Number(limit);
  json.Key("scale");
  json.Strings(ScalePalette(limit));
  json.Key("clusterColours");
  std::vector<std::string> clusters(picture_detail::kClusterColours);
  for (int k = 0; k < picture_detail::kClusterColours; k++)
    clusters[k] = HexColour(picture_detail::ClusterColour(k));
  json.Strings(clusters);
}

// Where the cut starts and how its clusters file is written.
void WriteCutSettings(Json& json, const HeatmapPage& page) {
  json.Key("cut");
  if (std::isnan(page.cut_height))
    json.out() << "null";
  else
    json.Number(page.cut_height);
  json.Key("minSize");
  json.out() << page.min_size;
  json.Key("elementsLabel");
  json.String(page.elements_label);
  json.Key("fileNames");
  json.Strings(page.file_names);
  json.Key("fileRows");
  json.Ints(page.file_rows);
}

void WriteData(std::ostream& out, const HeatmapPage& page, double limit) {
  Json json(out);
  out << '{';
  WriteDrawing(json, page.picture);
  WriteColours(json, limit);
  WriteCutSettings(json, page);
  out << '}';
}

// The cells' levels, row-major in table order, gzip-compressed.
std::string CompressedLevels(const HeatmapPicture& p, double limit) {
  picture_detail::Deflater deflater(picture_detail::Deflater::Format::kGzip);
  std::vector<unsigned char> row(static_cast<std::size_t>(p.ncolumns));
  for (long r = 0; r < p.nrows; r++) {
    for (long c = 0; c < p.ncolumns; c++) {
      const long i = r * p.ncolumns + c;
      const double t = std::fmax(-1.0, std::fmin(1.0, p.values[i] / limit));
      row[c] = p.mask && !p.mask[i]
                   ? kMissingLevel
                   : static_cast<unsigned char>(std::lround(t * kScaleMiddle) + kScaleMiddle);
    }
    deflater.Add(row.data(), row.size());
  }
  return deflater.Finish();
}

// The values as text, gzip-compressed: what the page shows on hover.
std::string CompressedValues(const HeatmapPicture& p) {
  picture_detail::Deflater deflater(picture_detail::Deflater::Format::kGzip);
  std::string line;
  char number[32];
  for (long r = 0; r < p.nrows; r++) {
    line.clear();
    for (long c = 0; c < p.ncolumns; c++) {
      const long i = r * p.ncolumns + c;
      if (c) line += '\t';
      if (!p.mask || p.mask[i])
        line.append(number, std::to_chars(number, number + sizeof number, p.values[i]).ptr);
    }
    line += '\n';
    deflater.Add(reinterpret_cast<const unsigned char*>(line.data()), line.size());
  }
  return deflater.Finish();
}

bool IsPage(const HeatmapPage& page) {
  if (!picture_detail::IsDrawable(page.picture) || page.min_size < 0) return false;
  if (page.file_names.size() != page.file_rows.size()) return false;
  if (page.file_rows.empty()) return true;
  std::vector<bool> seen(static_cast<std::size_t>(page.picture.nrows), false);
  for (const int row : page.file_rows) {
    if (row < -1 || row >= page.picture.nrows || (row >= 0 && seen[row])) return false;
    if (row >= 0) seen[row] = true;
  }
  return std::find(seen.begin(), seen.end(), false) == seen.end();
}

}  // namespace

bool WriteHeatmapHtml(std::ostream& out, const HeatmapPage& page) {
  if (!IsPage(page)) return false;
  const HeatmapPicture& p = page.picture;
  const double limit =
      picture_detail::ScaleLimit(static_cast<long>(p.nrows) * p.ncolumns, p.values, p.mask);
  // Compressed first: the only step that can fail, before anything is written.
  const std::string levels = CompressedLevels(p, limit);
  const std::string values = CompressedValues(p);
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
         "script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data: blob:\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<link rel=\"icon\" href=\"data:,\">\n<title>";
  picture_detail::WriteEscaped(out, picture_detail::ValidText(p.title));
  out << " \xE2\x80\x94 lopper</title>\n<style>\n"
      << picture_detail::kPageStyle << "</style>\n</head>\n<body>\n"
      << picture_detail::kPageBody << "<script type=\"application/json\" id=\"lopper-data\">";
  WriteData(out, page, limit);
  out << "</script>\n<script type=\"application/octet-stream\" id=\"lopper-levels\">";
  picture_detail::WriteBase64(out, levels);
  out << "</script>\n<script type=\"application/octet-stream\" id=\"lopper-values\">";
  picture_detail::WriteBase64(out, values);
  out << "</script>\n<script>\n" << picture_detail::kPageScript << "</script>\n</body>\n</html>\n";
  return true;
}

}  // namespace lopper
