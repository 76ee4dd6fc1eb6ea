// Number <-> text conversions shared by the Nexus reader and writer. None
// uses the global locale or a caller's stream (only fresh streams in the
// classic locale), so neither leaks into a file.
#ifndef LOPPER_MISC_H
#define LOPPER_MISC_H

#include <charconv>
#include <iomanip>
#include <locale>
#include <sstream>
#include <string>
#include <system_error>

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

// Plain decimal text (digits, '-' and '.' only, read whole) is read with
// std::from_chars, which gives the stream's value for it at a fraction of
// the cost (the parser reads millions of such tokens); anything else goes
// through the stream.
template <class T>
T ReadNumber(const std::string& text) {
  T value{};
  if (!text.empty() && text.find_first_not_of("0123456789-.") == std::string::npos) {
    const char* const end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec == std::errc() && ptr == end) return value;
    value = T{};
  }
  std::istringstream s(text);
  s.imbue(std::locale::classic());
  s >> value;
  return value;
}

}  // namespace detail

// The int at the start of text (after leading blanks); 0 when there is none.
// A value out of range gives the stream's clamped value (INT_MAX or INT_MIN).
inline int str2int(const std::string& text) { return detail::ReadNumber<int>(text); }

// The double at the start of text (after leading blanks); 0.0 when there is
// none.
inline double str2dbl(const std::string& text) { return detail::ReadNumber<double>(text); }

}  // namespace lopper

#endif
