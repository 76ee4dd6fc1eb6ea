#include "picture.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <numeric>
#include <string_view>

#include "input.h"
#include "lexer.h"
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

// The separator asked for, else by the name as for tables: a comma for
// .csv and .csv.gz, a tab otherwise.
char AnnotationSeparator(const Settings& s) {
  if (s.separator) return *s.separator;
  std::string lower = s.column_annotations;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto ends_with = [&lower](std::string_view suffix) {
    return lower.size() >= suffix.size() &&
           lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  return ends_with(".csv") || ends_with(".csv.gz") ? ',' : '\t';
}

bool IsMissingCategory(std::string_view cell) {
  return cell.empty() || ((cell[0] == 'N' || cell[0] == 'n') && cell.size() == 2 &&
                          (cell[1] == 'A' || cell[1] == 'a'));
}

// The annotations' names from the header, and each line's categories by
// the column it names.
struct AnnotationLines {
  std::vector<std::string> names;
  std::map<std::string, std::vector<std::string>> categories;
};

Result<AnnotationLines> ReadAnnotationLines(const Settings& s, std::string& text) {
  const std::string& path = s.column_annotations;
  detail::CellLexer lexer(text, AnnotationSeparator(s));
  std::vector<std::string_view> cells;
  AnnotationLines lines;
  for (bool header = true;; header = false) {
    const auto status = lexer.Next(cells);
    if (status == detail::CellLexer::Status::kError) return Failure{path + ": " + lexer.error()};
    if (status == detail::CellLexer::Status::kEnd) break;
    const std::string where = path + ": line " + std::to_string(lexer.row_line());
    if (header) {
      if (cells.size() < 2)
        return Failure{where + ": expected a label, then the annotations' names"};
      lines.names.assign(cells.begin() + 1, cells.end());
      continue;
    }
    if (cells.size() != lines.names.size() + 1)
      return Failure{where + ": " + std::to_string(cells.size()) + " cells, the header has " +
                     std::to_string(lines.names.size() + 1)};
    std::vector<std::string> row;
    for (std::size_t k = 1; k < cells.size(); k++)
      row.emplace_back(IsMissingCategory(cells[k]) ? std::string_view() : cells[k]);
    if (!lines.categories.emplace(std::string(cells[0]), std::move(row)).second)
      return Failure{where + ": column '" + std::string(cells[0]) + "' is named twice"};
  }
  if (lines.names.empty()) return Failure{path + ": no header naming the annotations"};
  return lines;
}

// The number of fewest significant digits strictly between low and high
// (low < high), so that the page shows a short height; their midpoint when
// none is.
double ShortNumberBetween(double low, double high) {
  for (int digits = 1; digits <= 17; digits++) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*g", digits, (low + high) / 2);
    const double x = std::strtod(text, nullptr);
    if (x > low && x < high) return x;
  }
  return (low + high) / 2;
}

// Between the heights of the tree's k-1-th and k-th highest records: where
// a monotone tree falls into k clusters; NaN for one cluster.
double HeightOfK(int n, const Node* tree, int k) {
  if (k <= 1 || k > n) return std::numeric_limits<double>::quiet_NaN();
  std::vector<double> heights;
  for (int i = 0; i + 1 < n; i++) heights.push_back(tree[i].distance);
  std::sort(heights.begin(), heights.end(), std::greater<double>());
  const double low = k == n ? std::min(0.0, heights.back()) - 1 : heights[k - 1];
  return heights[k - 2] > low ? ShortNumberBetween(low, heights[k - 2]) : heights[k - 2];
}

}  // namespace

Result<ColumnAnnotations> ReadColumnAnnotations(const Settings& s, const Table& t) {
  if (s.column_annotations.empty()) return ColumnAnnotations{};
  auto text = detail::ReadWholeInput(s.column_annotations, s.column_annotations);
  if (!text.ok()) return Failure{text.error()};
  auto lines = ReadAnnotationLines(s, text.value());
  if (!lines.ok()) return Failure{lines.error()};
  ColumnAnnotations annotations;
  for (const std::string& name : lines.value().names) annotations.push_back({name, {}});
  for (std::size_t c = 0; c < t.ncolumns(); c++) {
    const auto found = lines.value().categories.find(t.columns[c]);
    if (found == lines.value().categories.end())
      return Failure{s.column_annotations + ": no line for the column '" + t.columns[c] + "' (" +
                     t.source + ": " + t.ColumnLocation(c) + ")"};
    for (std::size_t a = 0; a < annotations.size(); a++)
      annotations[a].categories.push_back(found->second[a]);
  }
  return annotations;
}

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
  p.gaps = s.gaps && !p.row_clusters.empty();
  p.fit_width = s.fit_width;
  p.fit_height = s.fit_height;
  p.title = t.source.substr(t.source.find_last_of('/') + 1);
  return p;
}

HeatmapPage PageOf(const Settings& s, const Dataset& d, HeatmapPicture picture) {
  HeatmapPage page;
  if (picture.row_tree && !s.heights.empty())
    page.cut_height = s.heights[0];
  else if (picture.row_tree && !s.ks.empty())
    page.cut_height = HeightOfK(picture.nrows, picture.row_tree, s.ks[0]);
  page.picture = std::move(picture);
  page.min_size = s.cuts.min_size;
  const std::string label = d.table.ElementsLabel();
  page.elements_label = label.empty() || !IsWritableName(label) ? "name" : label;
  page.file_rows = d.FileRows();
  if (!page.file_rows.empty()) page.file_names = d.all_names;
  return page;
}

}  // namespace lopper
