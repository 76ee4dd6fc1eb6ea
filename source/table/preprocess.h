// Preprocessing of element profiles before clustering.
#ifndef LOPPER_TABLE_PREPROCESS_H
#define LOPPER_TABLE_PREPROCESS_H

#include "result.h"
#include "table.h"

namespace lopper {

enum class Centering { kNone, kMean, kMedian };
enum class Scaling { kNone, kStandardDeviation, kNorm };

struct Preprocessing {
  bool log2 = false;
  Centering center = Centering::kNone;
  Scaling scale = Scaling::kNone;
};

// Applies the steps to each row of table (each element's profile, so after
// any transpose), in this order, to the present values only; missing values
// stay missing:
//  - log2: base-2 logarithm; a present value of 0 or below fails, naming
//    its cell as the file has it.
//  - center: subtract the mean, or the median (mean of the two middle
//    values for an even count), of the row's present values.
//  - scale: divide by the sample standard deviation (n - 1) or by the
//    Euclidean norm of the row's present values. A row with fewer than two
//    present values (standard deviation), or whose spread is 0, is left
//    unscaled: it has no scale to divide by.
Result<Table> Preprocess(Table table, const Preprocessing& steps);

}  // namespace lopper

#endif  // LOPPER_TABLE_PREPROCESS_H
