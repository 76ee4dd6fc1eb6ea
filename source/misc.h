// Number <-> text conversions shared by the Nexus reader and writer.
// Each goes through a fresh string stream, so the global locale and any
// stream state left by a caller never leak into the result.
#ifndef LOPPER_MISC_H
#define LOPPER_MISC_H

#include <charconv>
#include <iomanip>
#include <sstream>
#include <string>
#include <system_error>

namespace lopper {

// Plain decimal text (digits, '-' and '.' only, read whole) is read with
// std::from_chars, which gives the stream's value for it at a fraction of
// the cost; anything else goes through the stream.
template <class T>
bool PlainNumber(const std::string& text, T& value) {
  if (text.empty() || text.find_first_not_of("0123456789-.") != std::string::npos) return false;
  const char* const end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

// The int at the start of text (after leading blanks); 0 when there is none.
// A value out of range gives the stream's clamped value (INT_MAX or INT_MIN).
inline int str2int(const std::string& text) {
  int i = 0;
  if (PlainNumber(text, i)) return i;
  std::istringstream s(text);
  s >> i;
  return i;
}

// The double at the start of text (after leading blanks); 0.0 when there is
// none.
inline double str2dbl(const std::string& text) {
  double d = 0.0;
  if (PlainNumber(text, d)) return d;
  std::istringstream s(text);
  s >> d;
  return d;
}

}  // namespace lopper

#endif
