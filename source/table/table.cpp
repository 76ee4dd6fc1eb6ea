#include "table.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "input.h"
#include "lexer.h"
#include "number.h"

namespace lopper {

std::vector<const double*> Table::ValueRows() const {
  std::vector<const double*> rows(nrows());
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = values.data() + i * ncolumns();
  return rows;
}

std::vector<const int*> Table::MaskRows() const {
  std::vector<const int*> rows(nrows());
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = mask.data() + i * ncolumns();
  return rows;
}

Table Table::Transposed() const {
  Table t;
  t.source = source;
  t.name_label = name_label;
  t.names = columns;
  t.columns = names;
  t.file_lines = file_lines;
  t.transposed = !transposed;
  t.values.resize(values.size());
  t.mask.resize(mask.size());
  for (std::size_t r = 0; r < nrows(); ++r) {
    for (std::size_t c = 0; c < ncolumns(); ++c) {
      t.values[c * nrows() + r] = values[r * ncolumns() + c];
      t.mask[c * nrows() + r] = mask[r * ncolumns() + c];
    }
  }
  return t;
}

std::string Table::CellLocation(std::size_t row, std::size_t column) const {
  const std::size_t file_row = transposed ? column : row;
  const std::size_t file_column = transposed ? row : column;
  const std::string& header = transposed ? names[row] : columns[column];
  // + 2: 1-based, after the name column.
  return "line " + std::to_string(file_lines[file_row]) + ", column " +
         std::to_string(file_column + 2) + " (" + header + ")";
}

std::string Table::ColumnLocation(std::size_t column) const {
  if (transposed) return "line " + std::to_string(file_lines[column]);
  return "line 1, column " + std::to_string(column + 2);
}

namespace {

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// "1 cell", "2 cells".
std::string Counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Fills a Table from a table's text, line by line, stopping at the first
// fault.
class TableParser {
 public:
  TableParser(std::string& text, char separator, const std::string& source)
      : lexer_(text, separator),
        // Each row takes a line or more: the lines bound the rows.
        max_rows_(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1) {
    table_.source = source;
  }

  Result<Table> Parse() {
    if (!ReadHeader() || !ReadRows()) return Failure{failure_};
    return std::move(table_);
  }

 private:
  // Each reads its part of the text into table_; false, with failure_ set,
  // on the first fault.
  bool ReadHeader();
  bool ReadRows();
  bool ReadRow();  // the row in cells_
  // Next row into cells_; false at the end or (failure_ set) on a fault.
  bool NextRow();
  // Sets failure_ to "SOURCE: " and where_and_what; always false.
  bool Fail(const std::string& where_and_what) {
    failure_ = table_.source + ": " + where_and_what;
    return false;
  }
  // "line L" of the row last read.
  std::string Line() const { return "line " + std::to_string(lexer_.row_line()); }

  detail::CellLexer lexer_;
  Table table_;
  std::vector<std::string_view> cells_;
  // Names seen so far, with their lines; the views point into the text.
  std::unordered_map<std::string_view, long> name_lines_;
  std::size_t max_rows_;
  std::string failure_;
};

bool TableParser::NextRow() {
  switch (lexer_.Next(cells_)) {
    case detail::CellLexer::Status::kRow:
      return true;
    case detail::CellLexer::Status::kError:
      return Fail(lexer_.error());
    case detail::CellLexer::Status::kEnd:
      break;
  }
  return false;
}

bool TableParser::ReadHeader() {
  if (!NextRow()) return failure_.empty() ? Fail("empty table (no header line)") : false;
  if (cells_.size() < 2) return Fail(Line() + ": the header names no columns");
  table_.name_label = cells_[0];
  std::unordered_map<std::string_view, std::size_t> column_numbers;
  for (std::size_t c = 1; c < cells_.size(); ++c) {
    const std::string column = ", column " + std::to_string(c + 1);
    if (cells_[c].empty()) return Fail(Line() + column + ": empty column name");
    const auto [seen, fresh] = column_numbers.emplace(cells_[c], c + 1);
    if (!fresh)
      return Fail(Line() + column + ": column name " + Quoted(cells_[c]) +
                  " occurs twice (also column " + std::to_string(seen->second) + ")");
    table_.columns.emplace_back(cells_[c]);
  }
  return true;
}

bool TableParser::ReadRows() {
  // Sized once: large tables are read without copying what was read.
  table_.names.reserve(max_rows_);
  table_.file_lines.reserve(max_rows_);
  table_.values.reserve(max_rows_ * table_.ncolumns());
  table_.mask.reserve(max_rows_ * table_.ncolumns());
  name_lines_.reserve(max_rows_);
  while (NextRow())
    if (!ReadRow()) return false;
  if (!failure_.empty()) return false;
  if (table_.names.empty()) return Fail("no data lines after the header");
  return true;
}

bool TableParser::ReadRow() {
  const std::size_t ncolumns = table_.ncolumns();
  if (cells_.size() != ncolumns + 1)
    return Fail(Line() + ": " + Counted(cells_.size(), "cell", "cells") + ", expected " +
                std::to_string(ncolumns + 1) + " (a name and " +
                Counted(ncolumns, "value", "values") + ")");
  const std::string_view name = cells_[0];
  if (name.empty()) return Fail(Line() + ", column 1: empty name");
  const auto [seen, fresh] = name_lines_.emplace(name, lexer_.row_line());
  if (!fresh)
    return Fail(Line() + ": name " + Quoted(name) + " occurs twice (also on line " +
                std::to_string(seen->second) + ")");
  table_.names.emplace_back(name);
  table_.file_lines.push_back(lexer_.row_line());
  for (std::size_t c = 0; c < ncolumns; ++c) {
    double value = 0.0;
    const detail::CellKind kind = detail::ReadValueCell(cells_[c + 1], value);
    if (kind == detail::CellKind::kInvalid) {
      failure_ = table_.CellPlace(table_.nrows() - 1, c) + ": " + Quoted(cells_[c + 1]) +
                 " is not a number";
      return false;
    }
    const bool present = kind == detail::CellKind::kNumber;
    table_.values.push_back(present ? value : 0.0);
    table_.mask.push_back(present);
  }
  return true;
}

// ',' for .csv and .csv.gz names (any case), a tab otherwise.
char SeparatorFor(const std::string& path) {
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto ends_with = [&lower](std::string_view suffix) {
    return lower.size() >= suffix.size() &&
           lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  return ends_with(".csv") || ends_with(".csv.gz") ? ',' : '\t';
}

}  // namespace

Result<Table> ParseTable(std::string text, char separator, const std::string& source) {
  if (separator == '"' || separator == '\n' || separator == '\r')
    return Failure{source + ": cells cannot be separated by a quote or line end"};
  return TableParser(text, separator, source).Parse();
}

Result<Table> ReadTable(const std::string& path, const ReadOptions& options) {
  const std::string source = !options.display_name.empty() ? options.display_name
                             : path == "-"                 ? "standard input"
                                                           : path;
  Result<std::string> text = detail::ReadWholeInput(path, source);
  if (!text.ok()) return Failure{text.error()};
  return ParseTable(std::move(text).value(), options.separator.value_or(SeparatorFor(path)),
                    source);
}

}  // namespace lopper
