// Text in the SVG document: numbers, names as labels, XML escaping.
#ifndef LOPPER_PICTURE_SVG_TEXT_H
#define LOPPER_PICTURE_SVG_TEXT_H

#include <ostream>
#include <string>

namespace lopper::picture_detail {

// Longest label in characters; longer names are cut to one less and "…".
inline constexpr int kMaxLabelCharacters = 40;

// A coordinate or size with at most two decimals, without trailing zeros.
std::string Number(double x);

// name: any bytes. The label drawn for it: valid UTF-8 with each invalid
// byte and control character replaced by U+FFFD (XML allows neither), cut
// to kMaxLabelCharacters characters.
std::string Label(const std::string& name);

// name: any bytes. The same as valid UTF-8, uncut: each invalid byte and
// control character replaced by U+FFFD.
std::string ValidText(const std::string& name);

// Number of characters of valid UTF-8 text.
int CharacterCount(const std::string& utf8);

// Writes text with &, <, >, " and ' escaped, for content and attributes.
void WriteEscaped(std::ostream& out, const std::string& text);

}  // namespace lopper::picture_detail

#endif
