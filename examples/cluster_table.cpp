// Clusters the rows of a tab-separated table and writes the tree as a Nexus
// tree file that lopper cuts:
//   lopper_cluster_table TABLE METHOD DIST OUTFILE
// TABLE: a header row, then one row per element: its name, then its values;
// an empty cell is a missing value. METHOD: s, m, a or c (single, maximum,
// average, centroid linkage). DIST: a distance code (e, b, c, a, u, x, s, k).
//   lopper_cluster_table examples/profiles.tsv a e profiles.nex
//   lopper -N profiles.nex -L 3
#include <lopper/NexusTree.h>
#include <lopper/cluster.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The rows of the table: names[i], then values[i][j] where present[i][j]
// is 1; an empty cell has present 0 and value 0.
struct Table {
  std::vector<std::string> names;
  std::vector<std::vector<double>> values;
  std::vector<std::vector<int>> present;
};

// The tab-separated cells of line; a final tab ends an empty last cell.
std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  std::string cell;
  std::istringstream in(line);
  while (std::getline(in, cell, '\t')) cells.push_back(cell);
  if (!line.empty() && line.back() == '\t') cells.emplace_back();
  return cells;
}

// The table in the file at path; std::nullopt, after saying on standard
// error what is wrong where, when it cannot be read or is not a table.
std::optional<Table> ReadTable(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    std::cerr << "lopper_cluster_table: " << path << ": cannot open\n";
    return std::nullopt;
  }
  Table t;
  std::string line;
  std::getline(in, line);
  const std::size_t width = Cells(line).size();
  for (int number = 2; std::getline(in, line); number++) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::vector<std::string> cells = Cells(line);
    if (cells.size() != width) {
      std::cerr << "lopper_cluster_table: " << path << ": line " << number << " has "
                << cells.size() << " cells, the header " << width << "\n";
      return std::nullopt;
    }
    t.names.push_back(cells[0]);
    t.values.emplace_back();
    t.present.emplace_back();
    for (std::size_t c = 1; c < cells.size(); c++) {
      char* end = nullptr;
      const double v = std::strtod(cells[c].c_str(), &end);
      const bool empty = cells[c].empty();
      if (!empty && *end != '\0') {
        std::cerr << "lopper_cluster_table: " << path << ": line " << number << ", column " << c + 1
                  << ": not a number: " << cells[c] << "\n";
        return std::nullopt;
      }
      t.values.back().push_back(empty ? 0.0 : v);
      t.present.back().push_back(empty ? 0 : 1);
    }
  }
  if (t.names.size() < 2 || width < 2) {
    std::cerr << "lopper_cluster_table: " << path
              << ": need at least two rows and one column of values\n";
    return std::nullopt;
  }
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 || std::string("smac").find(argv[2][0]) == std::string::npos || argv[2][1] ||
      !argv[3][0] || argv[3][1]) {
    std::cerr
        << "usage: lopper_cluster_table TABLE METHOD(s|m|a|c) DIST(e|b|c|a|u|x|s|k) OUTFILE\n";
    return 2;
  }
  std::optional<Table> table = ReadTable(argv[1]);
  if (!table) return 1;
  Table& t = *table;  // treecluster takes the rows as writable pointers
  std::vector<double*> rows;
  std::vector<int*> masks;
  for (std::size_t i = 0; i < t.names.size(); i++) {
    rows.push_back(t.values[i].data());
    masks.push_back(t.present[i].data());
  }
  const int nrows = static_cast<int>(t.names.size());
  const int ncolumns = static_cast<int>(t.values[0].size());
  const std::vector<double> weight(ncolumns, 1.0);
  lopper::Node* tree = lopper::treecluster(nrows, ncolumns, rows.data(), masks.data(),
                                           weight.data(), 0, argv[3][0], argv[2][0], nullptr);
  if (!tree) {
    std::cerr << "lopper_cluster_table: out of memory\n";
    return 1;
  }
  const bool written = lopper::NexusTreeOut(nrows, tree, argv[4], t.names);
  std::free(tree);
  if (!written) {
    std::cerr << "lopper_cluster_table: " << argv[4] << ": cannot write\n";
    return 1;
  }
  return 0;
}
