// Column weights for clustering, read from a table of their own.
#ifndef LOPPER_TABLE_WEIGHTS_H
#define LOPPER_TABLE_WEIGHTS_H

#include <string>
#include <vector>

#include "result.h"
#include "table.h"

namespace lopper {

// One weight per column of data (as clustered, so after any transpose), in
// data's column order, from weights: a table with a header line and one
// value column, each row naming a column of data and giving its weight.
// Fails naming the line for a name that is not a column of data, the cell
// of a missing or negative weight, and the first column of data that gets
// no weight (with where data names it). (The reader has rejected repeated names and non-numbers.)
// Rows naming a column in left_out, one the data was read without, are
// passed over: a weights file serves the table with and without it.
Result<std::vector<double>> WeightsFor(const Table& weights, const Table& data,
                                       const std::vector<std::string>& left_out = {});

// WeightsFor the table read from path.
Result<std::vector<double>> ReadWeights(const std::string& path, const Table& data,
                                        const ReadOptions& options = {},
                                        const std::vector<std::string>& left_out = {});

}  // namespace lopper

#endif  // LOPPER_TABLE_WEIGHTS_H
