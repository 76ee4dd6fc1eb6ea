// Fuzz target: the table reader on arbitrary bytes. The first byte picks the
// separator (tab, comma, semicolon, space, bar), the second the options (bit
// 0: decimal comma, bit 1: leave out column "b"); the rest is the file as
// read from disk (gzip, UTF-16 and other packers included). The result is a
// table that keeps its invariants, or a message naming the source and,
// for faults in the text, the line.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "fuzz_util.h"
#include "input.h"
#include "table.h"

namespace {

using lopper_fuzz::Check;

// Messages about the whole input rather than a place in it.
bool IsWholeInputFault(std::string_view what) {
  for (const std::string_view start :
       {"empty table", "no data lines", "cells cannot be separated", "a comma cannot both",
        "corrupt gzip data", "UTF-16 text ends"})
    if (what.substr(0, start.size()) == start) return true;
  return what.find("-compressed data, which is not read here") != std::string_view::npos;
}

void CheckFailure(const std::string& message) {
  const std::string_view prefix = "fuzz: ";
  Check(message.compare(0, prefix.size(), prefix) == 0);
  const std::string_view what = std::string_view(message).substr(prefix.size());
  Check(what.substr(0, 5) == "line " || IsWholeInputFault(what));
}

template <class Names>
void CheckNames(const Names& names) {
  std::unordered_set<std::string> seen;
  for (const std::string& name : names) Check(!name.empty() && seen.insert(name).second);
}

// Places grow in file order, after the header.
void CheckPlaces(const lopper::Table& t) {
  Check(t.file_lines.size() == t.nrows() && t.file_columns.size() == t.ncolumns());
  long line = t.header_line, column = 1;
  for (const long l : t.file_lines) Check(l > line), line = l;
  for (const long c : t.file_columns) Check(c > column), column = c;
}

void CheckTable(const lopper::Table& t, bool exclude_b) {
  Check(t.nrows() >= 1 && t.ncolumns() >= 1);
  Check(t.values.size() == t.nrows() * t.ncolumns() && t.mask.size() == t.values.size());
  for (std::size_t i = 0; i < t.values.size(); ++i) {
    Check(t.mask[i] == 0 || t.mask[i] == 1);
    Check(t.mask[i] ? std::isfinite(t.values[i]) : t.values[i] == 0.0);
  }
  CheckNames(t.names);
  CheckNames(t.columns);
  for (const std::string& column : t.columns) Check(!exclude_b || column != "b");
  CheckPlaces(t);
  const lopper::Table back = t.Transposed().Transposed();
  Check(back.values == t.values && back.mask == t.mask);
  Check(t.CellPlace(t.nrows() - 1, t.ncolumns() - 1) ==
        t.Transposed().CellPlace(t.ncolumns() - 1, t.nrows() - 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  constexpr char kSeparators[] = {'\t', ',', ';', ' ', '|'};
  const char separator = kSeparators[data[0] % sizeof kSeparators];
  lopper::CellOptions options;
  if (data[1] & 1) options.decimal = ',';
  const bool exclude_b = (data[1] & 2) != 0;
  if (exclude_b) options.exclude_columns = {"b"};
  std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);

  auto text = lopper::detail::DecodeInput(std::move(bytes), "fuzz", "f");
  if (!text.ok()) {
    CheckFailure(text.error());
    return 0;
  }
  const auto table = lopper::ParseTable(std::move(text).value(), separator, "fuzz", options);
  if (table.ok())
    CheckTable(table.value(), exclude_b);
  else
    CheckFailure(table.error());
  return 0;
}
