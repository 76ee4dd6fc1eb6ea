// Preprocessing of element profiles before clustering.
#ifndef LOPPER_TABLE_PREPROCESS_H
#define LOPPER_TABLE_PREPROCESS_H

#include "result.h"
#include "table.h"

namespace lopper {

enum class Centering { kNone, kMean, kMedian };
enum class Scaling { kNone, kStandardDeviation, kNorm };

// What R's scale(x) does to each column (variable): subtract its mean,
// and with kScale divide by its standard deviation too.
enum class ColumnScaling { kNone, kCenter, kScale };

struct Preprocessing {
  bool log2 = false;
  ColumnScaling columns = ColumnScaling::kNone;
  Centering center = Centering::kNone;
  Scaling scale = Scaling::kNone;
};

// Applies the steps to table as clustered (after any transpose), in this
// order, to the present values only; missing values stay missing. The
// column steps act on each variable, the center and scale steps on each
// row (each element's profile):
//  - log2: base-2 logarithm; a present value of 0 or below fails, naming
//    its cell as the file has it.
//  - columns: from each column's present values, subtract their mean
//    (kCenter, kScale) and divide by their sample standard deviation
//    (kScale), as R's scale(x) does with missing values left out. A column
//    that cannot be scaled (fewer than two values, or all equal) fails,
//    naming it: R would give it NaN throughout.
//  - center: subtract the mean, or the median (mean of the two middle
//    values for an even count), of the row's present values.
//  - scale: divide by the sample standard deviation (n - 1) or by the
//    Euclidean norm of the row's present values. A row with fewer than two
//    present values (standard deviation), or whose spread is 0, is left
//    unscaled: it has no scale to divide by.
Result<Table> Preprocess(Table table, const Preprocessing& steps);

}  // namespace lopper

#endif  // LOPPER_TABLE_PREPROCESS_H
