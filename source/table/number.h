// Reading value cells and writing numbers into messages.
#ifndef LOPPER_TABLE_NUMBER_H
#define LOPPER_TABLE_NUMBER_H

#include <string>
#include <string_view>

namespace lopper::detail {

enum class CellKind { kNumber, kMissing, kInvalid };

// Reads a value cell as table.h describes: kNumber with value set, kMissing
// (value untouched) for an empty cell, NA or NaN, kInvalid otherwise.
// decimal is the decimal mark, '.' or ','.
CellKind ReadValueCell(std::string_view cell, double& value, char decimal = '.');

// The shortest text that reads back as value, whatever the locale.
std::string NumberText(double value);

}  // namespace lopper::detail

#endif  // LOPPER_TABLE_NUMBER_H
