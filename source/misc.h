// Number <-> text conversions shared by the Nexus reader and writer. None
// uses the global locale or a caller's stream (the writers make fresh
// streams in the classic locale, the readers read as text/scan.h does), so
// neither leaks into a file.
#ifndef LOPPER_MISC_H
#define LOPPER_MISC_H

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iomanip>
#include <limits>
#include <locale>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>

#include "text/scan.h"

namespace lopper {

// Plain decimal text of i, whatever the global locale.
inline std::string int2str(int i) { return std::to_string(i); }

// Fixed-point text of d with prec digits after the point, right-aligned in
// at least width characters; never an exponent, always a '.' (files written
// with it must read the same everywhere).
inline std::string dbl2str(double d, int prec, int width) {
  std::ostringstream s;
  s.imbue(std::locale::classic());
  s << std::fixed << std::setprecision(prec) << std::setw(width) << d;
  return s.str();
}

namespace detail {

// Past the white space at the start of text, as a stream skips it.
inline const char* AfterSpace(const std::string& text) {
  const char* p = text.c_str();
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  return p;
}

}  // namespace detail

// The int at the start of text (after leading blanks), as a stream reads
// it; 0 when there is none. A value out of range gives the stream's clamped
// value (INT_MAX or INT_MIN).
inline int str2int(const std::string& text) {
  const char* p = detail::AfterSpace(text);
  const char* const last = text.c_str() + text.size();
  // from_chars takes a '-' but no '+', nor a sign after it.
  if (*p == '+' && *++p == '-') return 0;
  int value = 0;
  const std::errc status = std::from_chars(p, last, value).ec;
  if (status == std::errc::result_out_of_range)
    return *p == '-' ? std::numeric_limits<int>::min() : std::numeric_limits<int>::max();
  return status == std::errc() ? value : 0;
}

// The double at the start of text (after leading blanks), as a stream reads
// it: 0.0 when there is none, or when an exponent's 'e' has no digits after
// it (the stream takes the 'e', then fails); a value beyond the doubles
// gives the largest double of its sign.
inline double str2dbl(const std::string& text) {
  const char* const first = detail::AfterSpace(text);
  const std::string_view rest(first, text.size() - static_cast<std::size_t>(first - text.c_str()));
  const detail::Decimal read = detail::ReadDecimal(rest);
  const auto is_marker = [](char ch) { return ch == 'e' || ch == 'E'; };
  if (read.end == first || (is_marker(*read.end) && std::none_of(first, read.end, is_marker)))
    return 0.0;
  if (std::isinf(read.value)) return std::copysign(std::numeric_limits<double>::max(), read.value);
  return read.value;
}

}  // namespace lopper

#endif
