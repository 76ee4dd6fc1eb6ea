#include "weights.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "number.h"

namespace lopper {

Result<std::vector<double>> WeightsFor(const Table& weights, const Table& data,
                                       const std::vector<std::string>& left_out) {
  const auto fail = [&weights](const std::string& what) {
    return Failure{weights.source + ": " + what};
  };
  if (weights.ncolumns() != 1)
    return fail("line 1: " + std::to_string(weights.ncolumns() + 1) +
                " cells, expected 2 (a column name and its weight)");
  std::unordered_map<std::string_view, std::size_t> column_index;
  for (std::size_t c = 0; c < data.ncolumns(); ++c) column_index.emplace(data.columns[c], c);
  // Negative: no weight yet (a negative weight fails below).
  std::vector<double> result(data.ncolumns(), -1.0);
  for (std::size_t r = 0; r < weights.nrows(); ++r) {
    const auto found = column_index.find(weights.names[r]);
    if (found == column_index.end() &&
        std::find(left_out.begin(), left_out.end(), weights.names[r]) != left_out.end())
      continue;
    if (found == column_index.end())
      return fail("line " + std::to_string(weights.file_lines[r]) + ": '" + weights.names[r] +
                  "' is not a column of " + data.source);
    if (!weights.mask[r]) return Failure{weights.CellPlace(r, 0) + ": missing weight"};
    if (weights.values[r] < 0)
      return Failure{weights.CellPlace(r, 0) + ": weight " + detail::NumberText(weights.values[r]) +
                     " is negative"};
    result[found->second] = weights.values[r];
  }
  for (std::size_t c = 0; c < data.ncolumns(); ++c)
    if (result[c] < 0)
      return fail("no weight for column '" + data.columns[c] + "' of " + data.source + " (" +
                  data.ColumnLocation(c) + ")");
  return result;
}

Result<std::vector<double>> ReadWeights(const std::string& path, const Table& data,
                                        const ReadOptions& options,
                                        const std::vector<std::string>& left_out) {
  Result<Table> weights = ReadTable(path, options);
  if (!weights.ok()) return Failure{weights.error()};
  return WeightsFor(weights.value(), data, left_out);
}

}  // namespace lopper
