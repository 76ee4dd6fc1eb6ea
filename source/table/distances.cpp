#include "distances.h"

#include <string>

#include "number.h"

namespace lopper {

DistanceMatrix::DistanceMatrix(std::size_t n) : storage_(n > 0 ? n * (n - 1) / 2 : 0), rows_(n) {
  for (std::size_t i = 1; i < n; ++i) rows_[i] = storage_.data() + i * (i - 1) / 2;
}

DistanceMatrix DistanceMatrix::Copy() const {
  DistanceMatrix copy(size());
  copy.storage_ = storage_;
  return copy;
}

namespace {

// Empty when rows and columns are the same elements in the same order.
std::string NamesFault(const Table& table) {
  if (table.nrows() != table.ncolumns())
    return table.source + ": " + std::to_string(table.nrows()) + " rows and " +
           std::to_string(table.ncolumns()) + " columns; a distance matrix is square";
  for (std::size_t i = 0; i < table.nrows(); ++i)
    if (table.names[i] != table.columns[i])
      return table.CellPlace(i, i) + ": row name '" + table.names[i] +
             "' differs from the column name (a distance matrix names its rows and columns "
             "alike, in the same order)";
  return "";
}

// Empty when the cell at row i, column j is a distance; its mirror cell
// (j, i) with j < i has passed already.
std::string CellFault(const Table& table, std::size_t i, std::size_t j) {
  const std::size_t n = table.ncolumns();
  const auto fault = [&](const std::string& what) { return table.CellPlace(i, j) + ": " + what; };
  if (!table.mask[i * n + j]) return fault("missing distance");
  const double d = table.values[i * n + j];
  if (d < 0) return fault("distance " + detail::NumberText(d) + " is negative");
  if (i == j && d != 0)
    return fault("distance " + detail::NumberText(d) + " of an element to itself is not 0");
  const double mirror = table.values[j * n + i];
  if (j < i && d != mirror)
    return fault("distance " + detail::NumberText(d) + " differs from " +
                 detail::NumberText(mirror) + " at " + table.CellLocation(j, i));
  return "";
}

}  // namespace

Result<DistanceMatrix> ToDistanceMatrix(const Table& table) {
  if (std::string fault = NamesFault(table); !fault.empty()) return Failure{fault};
  DistanceMatrix matrix(table.nrows());
  for (std::size_t i = 0; i < table.nrows(); ++i) {
    for (std::size_t j = 0; j < table.ncolumns(); ++j) {
      if (std::string fault = CellFault(table, i, j); !fault.empty()) return Failure{fault};
      if (j < i) matrix.at(i, j) = table.values[i * table.ncolumns() + j];
    }
  }
  return matrix;
}

}  // namespace lopper
