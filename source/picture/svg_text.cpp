#include "svg_text.h"

#include <cstdio>

namespace lopper::picture_detail {

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";

// text[at] starts a character; returns its length in bytes when it is
// valid UTF-8 and not a control character, else 0.
std::size_t CharacterLength(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
  const unsigned char lead = byte(0);
  if (lead < 0x20 || lead == 0x7f) return 0;
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xbf;  // bounds of the second byte
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;   // overlong
    if (lead == 0xed) high = 0x9f;  // surrogates
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;   // overlong
    if (lead == 0xf4) high = 0x8f;  // beyond U+10FFFF
  }
  if (length == 0 || at + length > text.size()) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < length; k++) {
    if ((byte(k) & 0xc0) != 0x80) return 0;
  }
  // C1 controls, U+0080 ... U+009F.
  return lead == 0xc2 && byte(1) < 0xa0 ? 0 : length;
}

}  // namespace

std::string Number(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", x);
  std::string s = text;
  s.erase(s.find_last_not_of('0') + 1);
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

std::string ValidText(const std::string& name) {
  std::string text;
  for (std::size_t at = 0; at < name.size();) {
    const std::size_t length = CharacterLength(name, at);
    text += length > 0 ? name.substr(at, length) : kReplacement;
    at += length > 0 ? length : 1;
  }
  return text;
}

std::string Label(const std::string& name) {
  std::string label = ValidText(name);
  std::size_t cut = 0;  // bytes of the first kMaxLabelCharacters-1 characters
  int characters = 0;
  for (std::size_t at = 0; at < label.size(); at++) {
    if ((static_cast<unsigned char>(label[at]) & 0xc0) == 0x80) continue;
    if (characters == kMaxLabelCharacters - 1) cut = at;
    characters++;
  }
  if (characters > kMaxLabelCharacters) label = label.substr(0, cut) + "\xE2\x80\xA6";
  return label;
}

int CharacterCount(const std::string& utf8) {
  int count = 0;
  for (const char c : utf8) count += (static_cast<unsigned char>(c) & 0xc0) != 0x80;
  return count;
}

void WriteEscaped(std::ostream& out, const std::string& text) {
  for (const char c : text) {
    switch (c) {
      case '&':
        out << "&amp;";
        break;
      case '<':
        out << "&lt;";
        break;
      case '>':
        out << "&gt;";
        break;
      case '"':
        out << "&quot;";
        break;
      case '\'':
        out << "&apos;";
        break;
      default:
        out << c;
    }
  }
}

}  // namespace lopper::picture_detail
