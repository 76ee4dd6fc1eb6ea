// Numbers and words read from text by the command layers (the Nexus reader,
// the table reader): one reading of a decimal number and one comparison of
// a word in any case, so that every file reads them by the same rule.
// Neither uses a locale. Header only: both layers include it without a
// library of its own between them.
#ifndef LOPPER_TEXT_SCAN_H
#define LOPPER_TEXT_SCAN_H

#include <algorithm>
#include <charconv>
#include <limits>
#include <string_view>
#include <system_error>

namespace lopper::detail {

// A decimal number read from the start of a text.
struct Decimal {
  // Past the number's last character: the text's start when it does not
  // open with a number.
  const char* end = nullptr;
  // Rounded to the nearest double (ties to even), as strtod rounds;
  // +-infinity beyond the largest double, +-0 below half the smallest
  // subnormal one. 0 when there is no number.
  double value = 0.0;
};

namespace scan {

inline bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

// Past the digits from p.
inline const char* SkipDigits(const char* p, const char* last) {
  while (p != last && IsDigit(*p)) ++p;
  return p;
}

// Whether a mantissa [first, last) (digits and at most one point) times
// 10^exponent is at least 1: what tells an overflow from an underflow, as
// from_chars reports both alike.
inline bool AtLeastOne(const char* first, const char* last, long long exponent) {
  const char* const point = std::find(first, last, '.');
  const char* const leading = std::find_if(first, last, [](char ch) { return ch > '0'; });
  if (leading == last) return false;
  // The power of ten of the leading digit, plus one.
  const long long order =
      leading < point ? point - leading : -static_cast<long long>(leading - point - 1);
  return order + exponent > 0;
}

}  // namespace scan

// Reads the longest decimal number at the start of text: an optional sign
// ('+' or '-'), digits with at most one '.' among them (at least one
// digit), then optionally 'e' or 'E', an optional sign and digits; a marker
// without digits after it is no part of the number (as for strtod). No
// blanks, hexadecimal, infinities or NaN are read.
inline Decimal ReadDecimal(std::string_view text) {
  const char* const first = text.data();
  const char* const last = first + text.size();
  const char* p = first;
  const bool negative = p != last && *p == '-';
  if (p != last && (*p == '+' || *p == '-')) ++p;
  // The unsigned mantissa: from_chars takes a '-' but no '+'.
  const char* const mantissa = p;
  p = scan::SkipDigits(p, last);
  const bool whole_digits = p != mantissa;
  if (p != last && *p == '.') p = scan::SkipDigits(p + 1, last);
  if (!whole_digits && p - mantissa < 2) return Decimal{first, 0.0};
  const char* const mantissa_end = p;
  long long exponent = 0;
  if (p != last && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    const bool exponent_negative = q != last && *q == '-';
    if (q != last && (*q == '+' || *q == '-')) ++q;
    const char* const digits = q;
    // Past the cap an exponent is out of range whatever mantissa a text can
    // hold: later digits are not counted, so it cannot overflow.
    constexpr long long kCap = 1LL << 56;
    for (; q != last && scan::IsDigit(*q); ++q)
      if (exponent < kCap) exponent = exponent * 10 + (*q - '0');
    if (exponent_negative) exponent = -exponent;
    if (q != digits) p = q;
  }
  double magnitude = 0.0;
  if (std::from_chars(mantissa, p, magnitude).ec == std::errc::result_out_of_range)
    magnitude = scan::AtLeastOne(mantissa, mantissa_end, exponent)
                    ? std::numeric_limits<double>::infinity()
                    : 0.0;
  return Decimal{p, negative ? -magnitude : magnitude};
}

// Whether text is the word `lower` (written in lower case) in any case of
// its ASCII letters; no string is built, as readers ask it of every line's
// first word.
inline bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char ch =
        text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    if (ch != lower[i]) return false;
  }
  return true;
}

}  // namespace lopper::detail

#endif  // LOPPER_TEXT_SCAN_H
