// A data table as lopper-cluster reads it: a header line, then one line per
// element (its name, then one value per column). Reading only checks the
// text; it does no clustering.
//
// Text format:
//  - Cells are separated by a tab, or by a comma for names ending in .csv or
//    .csv.gz (any case), unless the caller gives a separator.
//  - A cell that starts with a double quote is quoted as in RFC 4180: it
//    ends at the next lone quote, "" inside it is one quote, and it may hold
//    separators and line breaks. A quote later in a cell is plain text.
//    This holds for every separator, so tab-separated tables that R writes
//    with quoted names read too.
//  - Line 1 is the header: the label of the name column (may be empty), then
//    the column names (each non-empty and unique). A header one cell shorter
//    than the first data line is R's row-names form (write.table with
//    row names): all its cells name columns, and the name column has no
//    label.
//  - A file whose first line is "#1.2" or "#1.3" is GenePattern's GCT,
//    tab-separated whatever the separator asked for: a dimensions line
//    (rows and columns; in 1.3 also the counts of row and column
//    annotations), the header (name column, Description or the row
//    annotations' columns, then the samples), in 1.3 the column annotation
//    rows, then the data lines. The annotations are left out, and the
//    dimensions must match what is read.
//  - A value cell is a decimal floating-point number as strtod reads it in
//    the C locale, without hexadecimal, infinities or NaN; blanks (spaces,
//    tabs) around it are ignored; a magnitude too small for a double reads
//    as 0. An empty cell, NA or NaN (any case) is a missing value. With a
//    decimal comma, a comma takes the point's place (and a point is no
//    part of a number).
//  - CR LF line ends and a UTF-8 byte order mark read as plain text; empty
//    lines at the end are ignored, elsewhere they are rows without cells.
//  - Input whose bytes start as gzip data (1f 8b) is inflated first, whatever
//    its name; UTF-16 text (with its byte order mark) is read as UTF-8.
// Messages that a command-line option would fix name lopper-cluster's
// option (--sep, --decimal, --exclude-columns).
// Line numbers in messages count physical lines from 1; a row spanning
// several lines (quoted line breaks) is named by its first. Column numbers
// count cells of the line, the name column as column 1.
#ifndef LOPPER_TABLE_TABLE_H
#define LOPPER_TABLE_TABLE_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "result.h"

namespace lopper {

// Invariants: names.size() == nrows(), columns.size() == ncolumns(), values
// and mask hold nrows() * ncolumns() entries row-major; every present value
// (mask 1) is finite, every missing one (mask 0) is 0.0; names are unique
// and non-empty, and so are columns. file_lines has one entry per data line
// and file_columns one per value column of the file.
struct Table {
  std::string source;      // the table's display name in messages
  std::string name_label;  // the header's label of the name column, or empty
  std::vector<std::string> names;
  std::vector<std::string> columns;
  std::vector<double> values;
  std::vector<int> mask;
  // Line in the file of each data line, in file order: of row i, or of
  // column i when transposed.
  std::vector<long> file_lines;
  // Column in the file (1-based) of each value column, in file order: of
  // column i, or of row i when transposed. Left-out columns leave gaps.
  std::vector<long> file_columns;
  long header_line = 1;
  // How many cells left of its column each column name stands in the
  // header: 1 in R's row-names form, 0 otherwise.
  long header_shift = 0;
  bool transposed = false;

  std::size_t nrows() const { return names.size(); }
  std::size_t ncolumns() const { return columns.size(); }

  // The header of the name column in files written for the elements: the
  // table's label, or "name" when it has none, holds a tab or line break,
  // or the elements are the table's columns.
  std::string ElementsLabel() const;

  // One pointer per row into values / mask, as the clustering library takes
  // its data; valid until values or mask is reallocated or destroyed.
  std::vector<const double*> ValueRows() const;
  std::vector<const int*> MaskRows() const;

  // The columns as rows and the rows as columns; file places follow.
  Table Transposed() const;

  // "line L, column C (HEADER)": where the cell at row, column stood in the
  // file, with the header of its file column, for messages.
  std::string CellLocation(std::size_t row, std::size_t column) const;
  // Where the name of the file's value column file_columns[index] stood in
  // the header: "line H, column C".
  std::string HeaderLocation(std::size_t index) const;
  // Where the name of a row stood in the file: "line L" of its data line,
  // or "line H, column C" in the header once transposed.
  std::string NameLocation(std::size_t row) const;
  // Where the name of a column stood in the file: "line H, column C" in the
  // header, or "line L" as a row's name once transposed.
  std::string ColumnLocation(std::size_t column) const;
  // "SOURCE: " and the cell's location.
  std::string CellPlace(std::size_t row, std::size_t column) const {
    return source + ": " + CellLocation(row, column);
  }
};

// How value cells are read, whatever the separator.
struct CellOptions {
  char decimal = '.';  // the decimal mark: '.' or ','
  // Columns left out, by their header names; each must be a column.
  std::vector<std::string> exclude_columns;
};

struct ReadOptions {
  // Cell separator; none: by the path's name (see above), a semicolon
  // instead of a comma with a decimal comma.
  std::optional<char> separator;
  // Name of the table in messages; empty: the path, or "standard input"
  // for "-".
  std::string display_name;
  CellOptions cells = {};
};

// Reads the table at path ("-": standard input). Fails with a message for
// an unreadable file (with the system's reason), corrupt gzip data, data
// packed by another tool, or any text that breaks the format above.
Result<Table> ReadTable(const std::string& path, const ReadOptions& options = {});

// Reads a table from text already in memory; source names it in messages.
// Takes text by value: quoted cells are unescaped in place.
Result<Table> ParseTable(std::string text, char separator, const std::string& source,
                         const CellOptions& cells = {});

}  // namespace lopper

#endif  // LOPPER_TABLE_TABLE_H
