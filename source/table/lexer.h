// Splitting a table's text into rows of cells (quoting, line ends).
#ifndef LOPPER_TABLE_LEXER_H
#define LOPPER_TABLE_LEXER_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lopper::detail {

// Reads text row by row. text is the caller's and must outlive the lexer
// and the cells it yields, which point into it: quoted cells are unescaped
// in place. A leading byte order mark and the line ends at the end of text
// are skipped.
class CellLexer {
 public:
  enum class Status { kRow, kEnd, kError };

  CellLexer(std::string& text, char separator);

  // Fills cells with the next row's cells (none for an empty line). kError:
  // error() says what is wrong and where, and the lexer stops there.
  Status Next(std::vector<std::string_view>& cells);

  // Line on which the row last read starts (1-based).
  long row_line() const { return row_line_; }
  // "line L, column C: ..." for kError.
  const std::string& error() const { return error_; }

 private:
  // Each appends the cell at pos_ to cells.
  bool ReadQuotedCell(std::vector<std::string_view>& cells);
  void ReadPlainCell(std::vector<std::string_view>& cells);
  // Whether pos_ is at LF or CR LF; and past it, counting the line.
  bool AtLineEnd() const;
  void SkipLineEnd();
  // Sets error_ for the cell at line, column (1-based); always false.
  bool Fail(long line, std::size_t column, const char* what);

  std::string& text_;
  char separator_;
  std::size_t pos_ = 0;
  std::size_t end_;
  long line_ = 1;
  long row_line_ = 0;
  std::string error_;
};

}  // namespace lopper::detail

#endif  // LOPPER_TABLE_LEXER_H
