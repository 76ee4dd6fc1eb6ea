#include "lexer.h"

#include <string>

namespace lopper::detail {

CellLexer::CellLexer(std::string& text, char separator)
    : text_(text), separator_(separator), end_(text.size()) {
  if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
  // Empty lines at the end are no rows: editors and tools often leave them.
  while (end_ > pos_ && (text_[end_ - 1] == '\n' || text_[end_ - 1] == '\r')) --end_;
}

bool CellLexer::AtLineEnd() const {
  // A lone CR is plain text; after trimming, a CR before the end is never
  // the last byte, so pos_ + 1 is in range when it matters.
  return pos_ < end_ && (text_[pos_] == '\n' ||
                         (text_[pos_] == '\r' && pos_ + 1 < end_ && text_[pos_ + 1] == '\n'));
}

void CellLexer::SkipLineEnd() {
  if (text_[pos_] == '\r') ++pos_;
  ++pos_;
  ++line_;
}

CellLexer::Status CellLexer::Next(std::vector<std::string_view>& cells) {
  cells.clear();
  if (!error_.empty()) return Status::kError;
  if (pos_ >= end_) return Status::kEnd;
  row_line_ = line_;
  if (AtLineEnd()) {
    SkipLineEnd();
    return Status::kRow;
  }
  for (;;) {
    if (pos_ < end_ && text_[pos_] == '"') {
      if (!ReadQuotedCell(cells)) return Status::kError;
    } else {
      ReadPlainCell(cells);
    }
    if (pos_ >= end_) return Status::kRow;
    if (text_[pos_] != separator_) {
      SkipLineEnd();
      return Status::kRow;
    }
    ++pos_;
  }
}

// Leaves pos_ on the separator or line end after the cell, or at the end.
void CellLexer::ReadPlainCell(std::vector<std::string_view>& cells) {
  const std::size_t start = pos_;
  while (pos_ < end_ && text_[pos_] != separator_ && text_[pos_] != '\n') ++pos_;
  if (pos_ < end_ && text_[pos_] == '\n' && pos_ > start && text_[pos_ - 1] == '\r') --pos_;
  cells.emplace_back(text_.data() + start, pos_ - start);
}

// The cell's text is written over its own quoted form, from the opening
// quote on: unescaping only shortens it. Leaves pos_ as ReadPlainCell does;
// false, with error_ set, for a quote never closed or text after it.
bool CellLexer::ReadQuotedCell(std::vector<std::string_view>& cells) {
  const long open_line = line_;
  const std::size_t start = pos_;
  std::size_t read = pos_ + 1, write = pos_;
  for (;;) {
    if (read >= end_) {
      return Fail(open_line, cells.size() + 1, "quoted cell has no closing quote");
    }
    const char c = text_[read++];
    if (c == '"') {
      if (read >= end_ || text_[read] != '"') break;
      ++read;
    } else if (c == '\n') {
      ++line_;
    }
    text_[write++] = c;
  }
  cells.emplace_back(text_.data() + start, write - start);
  pos_ = read;
  if (pos_ < end_ && text_[pos_] != separator_ && !AtLineEnd())
    return Fail(line_, cells.size(), "text after the closing quote");
  return true;
}

bool CellLexer::Fail(long line, std::size_t column, const char* what) {
  error_ = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what;
  return false;
}

}  // namespace lopper::detail
