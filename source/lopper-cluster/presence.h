// Which elements a distance can be measured between. The library gives a
// distance of 0 to an element without values and to two elements with no
// column in common, which every method would take as "identical": the
// command finds them first and says so.
#ifndef LOPPER_CLUSTER_COMMAND_PRESENCE_H
#define LOPPER_CLUSTER_COMMAND_PRESENCE_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "table.h"

namespace lopper {

// The rows of t without a present value, in row order.
std::vector<int> EmptyElements(const Table& t);

// The first pair (i < j, least i, then least j) of rows of t, neither of
// them empty, that have no column where both have a value; none when
// every such pair shares one. Rows with every value present share a
// column with every non-empty row and are not compared; the others are
// compared as bit sets, 64 columns a word, in threads.
std::optional<std::pair<int, int>> FirstDisjointPair(const Table& t);

// Rows whose removal leaves every pair of non-empty rows of t a column in
// common: of each pair without one, unless one of the two is already
// taken, the row with more such partners (then fewer values, then the
// later one).
std::vector<int> RowsToDrop(const Table& t);

// t without the rows listed (in increasing order); file places follow.
Table WithoutRows(const Table& t, const std::vector<int>& rows);

}  // namespace lopper

#endif
