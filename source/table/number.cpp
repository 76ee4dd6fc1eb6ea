#include "number.h"

#include <charconv>
#include <cmath>
#include <string>

#include "text/scan.h"

namespace lopper::detail {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsMissing(std::string_view text) {
  return text.empty() || EqualsIgnoringCase(text, "na") || EqualsIgnoringCase(text, "nan");
}

}  // namespace

CellKind ReadValueCell(std::string_view cell, double& value, char decimal) {
  const std::string_view text = TrimBlanks(cell);
  if (IsMissing(text)) return CellKind::kMissing;
  if (decimal != '.') {
    // The number with its mark as ReadDecimal reads it; a '.' then is no
    // part of a number (a thousands mark is not read either).
    if (text.find('.') != std::string_view::npos) return CellKind::kInvalid;
    std::string usual(text);
    for (char& c : usual)
      if (c == decimal) c = '.';
    return ReadValueCell(usual, value);
  }
  const Decimal read = ReadDecimal(text);
  // Beyond the largest double no number (below the smallest, 0).
  if (read.end == text.data() || read.end != text.data() + text.size() || std::isinf(read.value))
    return CellKind::kInvalid;
  value = read.value;
  return CellKind::kNumber;
}

std::string NumberText(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

}  // namespace lopper::detail
