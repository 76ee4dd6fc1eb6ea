#include "number.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace lopper::detail {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// lower: the word in lower case.
bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if ((text[i] | 0x20) != lower[i]) return false;
  return true;
}

bool IsMissing(std::string_view text) {
  return text.empty() || EqualsIgnoringCase(text, "na") || EqualsIgnoringCase(text, "nan");
}

}  // namespace

CellKind ReadValueCell(std::string_view cell, double& value, char decimal) {
  std::string_view text = TrimBlanks(cell);
  if (IsMissing(text)) return CellKind::kMissing;
  if (decimal != '.') {
    // The number with its mark as from_chars reads it; a '.' then is no
    // part of a number (a thousands mark is not read either).
    if (text.find('.') != std::string_view::npos) return CellKind::kInvalid;
    std::string usual(text);
    for (char& c : usual)
      if (c == decimal) c = '.';
    return ReadValueCell(usual, value);
  }
  // strtod takes a '+' sign; from_chars does not.
  if (text.front() == '+') {
    text.remove_prefix(1);
    if (text.empty() || text.front() == '-') return CellKind::kInvalid;
  }
  const char* const first = text.data();
  const char* const last = first + text.size();
  double read = 0.0;
  auto [stop, status] = std::from_chars(first, last, read);
  if (status == std::errc::result_out_of_range) {
    // Over- or underflow. long double's wider range tells which, and rounds
    // an underflow to the nearest double (0 or subnormal) as strtod would.
    long double wide = 0.0L;
    const auto [wide_stop, wide_status] = std::from_chars(first, last, wide);
    if (wide_status != std::errc()) return CellKind::kInvalid;
    stop = wide_stop;
    read = static_cast<double>(wide);
  } else if (status != std::errc()) {
    return CellKind::kInvalid;
  }
  if (stop != last || !std::isfinite(read)) return CellKind::kInvalid;
  value = read;
  return CellKind::kNumber;
}

std::string NumberText(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

}  // namespace lopper::detail
