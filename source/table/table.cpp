#include "table.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
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

std::string Table::ElementsLabel() const {
  const bool writable = name_label.find_first_of("\t\n\r") == std::string::npos;
  return transposed || name_label.empty() || !writable ? "name" : name_label;
}

Table Table::Transposed() const {
  Table t;
  t.source = source;
  t.name_label = name_label;
  t.names = columns;
  t.columns = names;
  t.file_lines = file_lines;
  t.file_columns = file_columns;
  t.header_line = header_line;
  t.header_shift = header_shift;
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
  return "line " + std::to_string(file_lines[file_row]) + ", column " +
         std::to_string(file_columns[file_column]) + " (" + header + ")";
}

std::string Table::HeaderLocation(std::size_t index) const {
  return "line " + std::to_string(header_line) + ", column " +
         std::to_string(file_columns[index] - header_shift);
}

std::string Table::NameLocation(std::size_t row) const {
  return transposed ? HeaderLocation(row) : "line " + std::to_string(file_lines[row]);
}

std::string Table::ColumnLocation(std::size_t column) const {
  return transposed ? "line " + std::to_string(file_lines[column]) : HeaderLocation(column);
}

namespace {

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// "1 cell", "2 cells".
std::string Counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string_view WithoutByteOrderMark(std::string_view text) {
  return text.substr(0, 3) == "\xEF\xBB\xBF" ? text.substr(3) : text;
}

// 2 or 3 for text whose first line is GCT's "#1.2" or "#1.3" (blanks may
// follow), 0 otherwise.
int GctVersion(std::string_view text) {
  text = WithoutByteOrderMark(text);
  if (text.substr(0, 4) != "#1.2" && text.substr(0, 4) != "#1.3") return 0;
  for (std::size_t i = 4; i < text.size() && text[i] != '\n'; ++i)
    if (text[i] != '\t' && text[i] != ' ' && text[i] != '\r') return 0;
  return text[3] - '0';
}

// The first n physical lines of text, without line ends or byte order mark.
std::vector<std::string_view> FirstLines(std::string_view text, std::size_t n) {
  text = WithoutByteOrderMark(text);
  std::vector<std::string_view> lines;
  while (lines.size() < n && !text.empty()) {
    std::string_view line = text.substr(0, text.find('\n'));
    text.remove_prefix(std::min(text.size(), line.size() + 1));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
  }
  return lines;
}

// A separator users often mean, as messages name it and --sep takes it.
struct SeparatorName {
  char separator;
  const char* plural;
  const char* option;
};
constexpr SeparatorName kSeparatorNames[] = {
    {'\t', "tabs", "tab"}, {',', "commas", ","}, {';', "semicolons", "';'"}};

// Cells of a line split at separator; quotes keep what they hold.
std::size_t CellsAt(std::string_view line, char separator) {
  std::size_t cells = 1;
  bool quoted = false;
  for (const char c : line) {
    if (c == '"') quoted = !quoted;
    if (c == separator && !quoted) ++cells;
  }
  return cells;
}

// For a line that is one cell at separator: which other separator splits
// it, as the end of a message; empty when none does.
std::string SeparatorHint(std::string_view line, char separator) {
  const SeparatorName* best = nullptr;
  std::size_t most = 1;
  for (const SeparatorName& name : kSeparatorNames) {
    const std::size_t cells = name.separator == separator ? 1 : CellsAt(line, name.separator);
    if (cells > most) most = cells, best = &name;
  }
  if (!best) return "";
  return "; it splits into " + std::to_string(most) + " cells at " + best->plural +
         ": give --sep " + best->option;
}

// The hint of each of the first two lines of text.
std::vector<std::string> SeparatorHints(std::string_view text, char separator) {
  std::vector<std::string> hints;
  for (const std::string_view line : FirstLines(text, 2))
    hints.push_back(SeparatorHint(line, separator));
  return hints;
}

// word as one shell word, quoted when the shell would change it.
std::string ShellWord(const std::string& word) {
  const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || (c && std::strchr("._-+=/:@%", c));
  });
  if (plain) return word;
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A whole number of at least 0, or -1.
long WholeNumber(std::string_view cell) {
  long n = -1;
  const auto [end, status] = std::from_chars(cell.data(), cell.data() + cell.size(), n);
  return status == std::errc() && end == cell.data() + cell.size() && n >= 0 ? n : -1;
}

// Fills a Table from a table's text, line by line, stopping at the first
// fault.
class TableParser {
 public:
  TableParser(std::string& text, char separator, const std::string& source,
              const CellOptions& options)
      : hints_(SeparatorHints(text, separator)),
        lexer_(text, separator),
        separator_(separator),
        options_(options),
        gct_(GctVersion(text)),
        // Each row takes a line or more: the lines bound the rows.
        max_rows_(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1) {
    table_.source = source;
  }

  Result<Table> Parse() {
    if (!ReadGctDimensions() || !ReadHeader() || !ReadRows() || !CheckGctRows())
      return Failure{failure_};
    return std::move(table_);
  }

 private:
  // Each reads its part of the text into table_; false, with failure_ set,
  // on the first fault.
  bool ReadGctDimensions();
  // The header, and the first data line that settles how it reads (left in
  // cells_).
  bool ReadHeader();
  // Header cells from `first` on name the value columns, which stand
  // `shift` cells further right in the data lines.
  bool SetColumns(std::size_t first, std::size_t shift);
  bool ExcludeColumns();
  bool ReadRows();
  bool ReadRow();  // the row in cells_
  bool CheckGctRows();
  bool FailNotANumber(std::size_t column);
  // Whether the next few rows (one at least) hold text too in cell
  // `index`; uses up the lexer.
  bool TextBelow(std::size_t index);
  // Next row into cells_; false at the end or (failure_ set) on a fault.
  bool NextRow();
  // Sets failure_ to "SOURCE: " and where_and_what; always false.
  bool Fail(const std::string& where_and_what) {
    failure_ = table_.source + ": " + where_and_what;
    return false;
  }
  // "line L" of the row last read.
  std::string Line() const { return "line " + std::to_string(lexer_.row_line()); }
  // The separator hint for a row of one cell on physical line `line`.
  std::string HintFor(long line) const {
    if (gct_ || line < 1 || static_cast<std::size_t>(line) > hints_.size()) return "";
    return hints_[line - 1];
  }

  // The separator hints of lines 1 and 2, found before the lexer unescapes
  // quoted cells in place.
  std::vector<std::string> hints_;
  detail::CellLexer lexer_;
  char separator_;
  const CellOptions& options_;
  int gct_;  // 2 or 3 for GCT 1.2 or 1.3, 0 for a plain table
  // GCT's dimensions: data rows, columns, and annotation columns and rows.
  long gct_rows_ = 0, gct_columns_ = 0, row_annotations_ = 0, column_annotations_ = 0;
  Table table_;
  std::vector<std::string_view> cells_;
  std::vector<std::string_view> header_;
  // Cell of each value column in a data line, and cells per data line.
  std::vector<std::size_t> kept_;
  std::size_t line_cells_ = 0;
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
      // Quotes misread at another separator end the header or first row.
      return Fail(lexer_.error() + (table_.nrows() == 0 ? HintFor(lexer_.row_line()) : ""));
    case detail::CellLexer::Status::kEnd:
      break;
  }
  return false;
}

bool TableParser::ReadGctDimensions() {
  if (!gct_) return true;
  NextRow();  // "#1.2" or "#1.3"
  if (!NextRow()) return failure_.empty() ? Fail("line 2: no GCT dimensions line") : false;
  std::vector<long> numbers;
  for (const std::string_view cell : cells_)
    if (!cell.empty()) numbers.push_back(WholeNumber(cell));
  const std::size_t wanted = gct_ == 2 ? 2 : 4;
  if (numbers.size() != wanted || std::count(numbers.begin(), numbers.end(), -1) > 0)
    return Fail(Line() +
                (gct_ == 2 ? ": GCT 1.2 dimensions must be the rows and columns"
                           : ": GCT 1.3 dimensions must be the rows, columns, row "
                             "annotations and column annotations") +
                ", as whole numbers");
  gct_rows_ = numbers[0];
  gct_columns_ = numbers[1];
  row_annotations_ = gct_ == 2 ? 1 : numbers[2];
  column_annotations_ = gct_ == 2 ? 0 : numbers[3];
  return true;
}

bool TableParser::ReadHeader() {
  if (!NextRow()) return failure_.empty() ? Fail("empty table (no header line)") : false;
  header_ = cells_;
  table_.header_line = lexer_.row_line();
  for (long i = 0; i < column_annotations_; ++i)
    if (!NextRow()) return failure_.empty() ? Fail("no data lines after the header") : false;
  const bool data = NextRow();
  if (!failure_.empty()) return false;
  // R writes row names under a header without a label for them.
  const bool row_names = !gct_ && data && cells_.size() == header_.size() + 1;
  const std::size_t first = row_names ? 0 : 1 + static_cast<std::size_t>(row_annotations_);
  if (header_.size() <= first) {
    const std::string hint = HintFor(table_.header_line);
    return Fail("line " + std::to_string(table_.header_line) + ": the header names no columns" +
                (hint.empty() && data ? HintFor(lexer_.row_line()) : hint));
  }
  table_.name_label = row_names ? "" : header_[0];
  table_.header_shift = row_names ? 1 : 0;
  if (!SetColumns(first, row_names ? 1 : 0)) return false;
  if (gct_ && table_.ncolumns() != static_cast<std::size_t>(gct_columns_))
    return Fail("line 2: the GCT dimensions give " + Counted(gct_columns_, "column", "columns") +
                ", the header (line " + std::to_string(table_.header_line) + ") names " +
                std::to_string(table_.ncolumns()));
  if (!ExcludeColumns()) return false;
  return data || Fail("no data lines after the header");
}

bool TableParser::SetColumns(std::size_t first, std::size_t shift) {
  const std::string line = "line " + std::to_string(table_.header_line);
  std::unordered_map<std::string_view, std::size_t> column_numbers;
  for (std::size_t c = first; c < header_.size(); ++c) {
    const std::string column = ", column " + std::to_string(c + 1);
    if (header_[c].empty()) return Fail(line + column + ": empty column name");
    const auto [seen, fresh] = column_numbers.emplace(header_[c], c + 1);
    if (!fresh)
      return Fail(line + column + ": column name " + Quoted(header_[c]) +
                  " occurs twice (also column " + std::to_string(seen->second) + ")");
    table_.columns.emplace_back(header_[c]);
    kept_.push_back(c + shift);
    table_.file_columns.push_back(static_cast<long>(c + shift + 1));
  }
  line_cells_ = header_.size() + shift;
  return true;
}

bool TableParser::ExcludeColumns() {
  std::vector<bool> excluded(table_.ncolumns(), false);
  for (const std::string& name : options_.exclude_columns) {
    const auto found = std::find(table_.columns.begin(), table_.columns.end(), name);
    if (found == table_.columns.end())
      return Fail("line " + std::to_string(table_.header_line) + ": --exclude-columns names " +
                  Quoted(name) + ", which is not a column");
    excluded[static_cast<std::size_t>(found - table_.columns.begin())] = true;
  }
  std::size_t kept = 0;
  for (std::size_t c = 0; c < excluded.size(); ++c) {
    if (excluded[c]) continue;
    if (kept != c) table_.columns[kept] = std::move(table_.columns[c]);
    kept_[kept] = kept_[c];
    table_.file_columns[kept] = table_.file_columns[c];
    ++kept;
  }
  table_.columns.resize(kept);
  kept_.resize(kept);
  table_.file_columns.resize(kept);
  return kept > 0 || Fail("line " + std::to_string(table_.header_line) +
                          ": --exclude-columns leaves no columns");
}

bool TableParser::ReadRows() {
  // Sized once: large tables are read without copying what was read.
  table_.names.reserve(max_rows_);
  table_.file_lines.reserve(max_rows_);
  table_.values.reserve(max_rows_ * table_.ncolumns());
  table_.mask.reserve(max_rows_ * table_.ncolumns());
  name_lines_.reserve(max_rows_);
  do {
    if (!ReadRow()) return false;
  } while (NextRow());
  return failure_.empty();
}

bool TableParser::ReadRow() {
  const std::size_t ncolumns = table_.ncolumns();
  if (cells_.size() != line_cells_) {
    const std::size_t left_out = line_cells_ - 1 - ncolumns;
    const bool first = table_.nrows() == 0 && cells_.size() == 1;
    return Fail(Line() + ": " + Counted(cells_.size(), "cell", "cells") + ", expected " +
                std::to_string(line_cells_) + " (a name" + (left_out ? ", " : " and ") +
                Counted(ncolumns, "value", "values") +
                (left_out ? " and " + std::to_string(left_out) + " left out" : "") + ")" +
                (first ? HintFor(lexer_.row_line()) : ""));
  }
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
    const detail::CellKind kind = detail::ReadValueCell(cells_[kept_[c]], value, options_.decimal);
    if (kind == detail::CellKind::kInvalid) return FailNotANumber(c);
    const bool present = kind == detail::CellKind::kNumber;
    table_.values.push_back(present ? value : 0.0);
    table_.mask.push_back(present);
  }
  return true;
}

// The message says what would read the cell: a decimal comma, or leaving
// out a column that holds text (names, symbols) from its first line on.
bool TableParser::FailNotANumber(std::size_t column) {
  const std::string_view cell = cells_[kept_[column]];
  failure_ =
      table_.CellPlace(table_.nrows() - 1, column) + ": " + Quoted(cell) + " is not a number";
  double value = 0.0;
  if (options_.decimal == '.' && separator_ != ',' &&
      detail::ReadValueCell(cell, value, ',') == detail::CellKind::kNumber) {
    failure_ += "; with a decimal comma it reads: give --decimal ,";
  } else if (table_.nrows() == 1 && TextBelow(kept_[column])) {
    failure_ += "; the column's first cells are all text: give --exclude-columns " +
                ShellWord(table_.columns[column]) + " to leave it out";
  }
  return false;
}

bool TableParser::TextBelow(std::size_t index) {
  // One cell alone is too little to call a column text; missing values
  // tell nothing.
  constexpr int kRowsLookedAt = 4;
  int text = 0;
  // The lexer alone: a fault further on must not replace the message.
  for (int i = 0; i < kRowsLookedAt && lexer_.Next(cells_) == detail::CellLexer::Status::kRow;
       ++i) {
    if (cells_.size() != line_cells_) continue;
    double value = 0.0;
    const detail::CellKind kind = detail::ReadValueCell(cells_[index], value, options_.decimal);
    if (kind == detail::CellKind::kNumber) return false;
    text += kind == detail::CellKind::kInvalid;
  }
  return text > 0;
}

bool TableParser::CheckGctRows() {
  if (!gct_ || table_.nrows() == static_cast<std::size_t>(gct_rows_)) return true;
  return Fail("line 2: the GCT dimensions give " + Counted(gct_rows_, "row", "rows") +
              ", the file has " + Counted(table_.nrows(), "data line", "data lines"));
}

// ',' for .csv and .csv.gz names (any case), a tab otherwise; with a decimal
// comma, ';' for ',' as such files use it.
char SeparatorFor(const std::string& path, char decimal) {
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto ends_with = [&lower](std::string_view suffix) {
    return lower.size() >= suffix.size() &&
           lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  if (!ends_with(".csv") && !ends_with(".csv.gz")) return '\t';
  return decimal == ',' ? ';' : ',';
}

}  // namespace

Result<Table> ParseTable(std::string text, char separator, const std::string& source,
                         const CellOptions& cells) {
  if (GctVersion(text)) separator = '\t';
  if (separator == '"' || separator == '\n' || separator == '\r')
    return Failure{source + ": cells cannot be separated by a quote or line end"};
  if (cells.decimal != '.' && cells.decimal != ',')
    return Failure{source + ": the decimal mark must be '.' or ','"};
  if (separator == ',' && cells.decimal == ',')
    return Failure{source + ": a comma cannot both separate cells and mark decimals"};
  return TableParser(text, separator, source, cells).Parse();
}

Result<Table> ReadTable(const std::string& path, const ReadOptions& options) {
  const std::string source = !options.display_name.empty() ? options.display_name
                             : path == "-"                 ? "standard input"
                                                           : path;
  Result<std::string> text = detail::ReadWholeInput(path, source);
  if (!text.ok()) return Failure{text.error()};
  const char separator = options.separator.value_or(SeparatorFor(path, options.cells.decimal));
  return ParseTable(std::move(text).value(), separator, source, options.cells);
}

}  // namespace lopper
