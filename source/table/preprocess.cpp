#include "preprocess.h"

#include <lopper/cluster.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "number.h"

namespace lopper {

namespace {

// One row of a table: size values, those with mask 0 taking no part.
struct Profile {
  double* values;
  const int* mask;
  std::size_t size;
};

// Calls visit(value) with each present value, in column order; visit may
// change the value through a double&.
template <class Visit>
void ForEachPresent(Profile profile, Visit visit) {
  for (std::size_t i = 0; i < profile.size; ++i)
    if (profile.mask[i]) visit(profile.values[i]);
}

// Takes log2 of every present value of table in place. Empty on success;
// otherwise the message for the first value without a logarithm, with
// table left part done (the caller drops it).
std::string TakeLog2(Table& table) {
  for (std::size_t i = 0; i < table.values.size(); ++i) {
    if (!table.mask[i]) continue;
    double& value = table.values[i];
    if (value <= 0)
      return table.CellPlace(i / table.ncolumns(), i % table.ncolumns()) +
             ": cannot take log2 of " + detail::NumberText(value) + " (values must be above 0)";
    value = std::log2(value);
  }
  return "";
}

// Mean or median of the present values, by the clustering library's own
// mean and median; none without any. scratch is working storage, kept
// across rows to spare allocations.
std::optional<double> CenterOf(Profile profile, Centering how, std::vector<double>& scratch) {
  scratch.clear();
  ForEachPresent(profile, [&scratch](double value) { scratch.push_back(value); });
  if (scratch.empty()) return std::nullopt;
  const int count = static_cast<int>(scratch.size());
  return how == Centering::kMean ? mean(count, scratch.data()) : median(count, scratch.data());
}

// Sample standard deviation or Euclidean norm of the present values; none
// when there is no spread to divide by.
std::optional<double> SpreadOf(Profile profile, Scaling how) {
  std::size_t count = 0;
  double sum = 0.0, squares = 0.0;
  ForEachPresent(profile, [&](double value) {
    ++count;
    sum += value;
    squares += value * value;
  });
  double spread = std::sqrt(squares);
  if (how == Scaling::kStandardDeviation) {
    if (count < 2) return std::nullopt;
    const double mean = sum / static_cast<double>(count);
    double deviations = 0.0;
    ForEachPresent(profile, [&](double value) { deviations += (value - mean) * (value - mean); });
    spread = std::sqrt(deviations / static_cast<double>(count - 1));
  }
  if (spread == 0) return std::nullopt;
  return spread;
}

// Each column's mean and sample standard deviation over its present
// values, row by row through the table, in long double as R's colMeans
// sums; a column with fewer than two values has no deviation.
struct ColumnMoments {
  std::vector<std::size_t> count;
  std::vector<long double> mean, deviation;

  explicit ColumnMoments(const Table& t)
      : count(t.ncolumns(), 0), mean(t.ncolumns(), 0), deviation(t.ncolumns(), 0) {
    const std::size_t m = t.ncolumns();
    for (std::size_t i = 0; i < t.values.size(); ++i)
      if (t.mask[i]) ++count[i % m], mean[i % m] += t.values[i];
    for (std::size_t c = 0; c < m; ++c)
      if (count[c] > 0) mean[c] /= static_cast<long double>(count[c]);
    for (std::size_t i = 0; i < t.values.size(); ++i)
      if (t.mask[i]) deviation[i % m] += (t.values[i] - mean[i % m]) * (t.values[i] - mean[i % m]);
    for (std::size_t c = 0; c < m; ++c)
      deviation[c] =
          count[c] > 1 ? std::sqrt(deviation[c] / static_cast<long double>(count[c] - 1)) : 0.0L;
  }
};

// Centres (and with kScale scales) every column of table in place. Empty
// on success; otherwise the message for the first column that has no
// standard deviation to divide by, with table unchanged.
std::string ScaleColumns(Table& table, ColumnScaling how) {
  const ColumnMoments moments(table);
  const std::size_t m = table.ncolumns();
  for (std::size_t c = 0; how == ColumnScaling::kScale && c < m; ++c) {
    if (moments.deviation[c] > 0) continue;
    const std::string place =
        table.source + ": " + table.ColumnLocation(c) + " (" + table.columns[c] + "): ";
    if (moments.count[c] < 2)
      return place + "the column has " + std::to_string(moments.count[c]) + " value" +
             (moments.count[c] == 1 ? "" : "s") +
             ", too few for a standard deviation: it cannot be scaled; leave it out";
    return place +
           "the column's values are all equal (standard deviation 0): it cannot be scaled; "
           "leave it out";
  }
  for (std::size_t i = 0; i < table.values.size(); ++i) {
    if (!table.mask[i]) continue;
    long double value = table.values[i] - moments.mean[i % m];
    if (how == ColumnScaling::kScale) value /= moments.deviation[i % m];
    table.values[i] = static_cast<double>(value);
  }
  return "";
}

}  // namespace

Result<Table> Preprocess(Table table, const Preprocessing& steps) {
  if (steps.log2) {
    if (std::string fault = TakeLog2(table); !fault.empty()) return Failure{fault};
  }
  if (steps.columns != ColumnScaling::kNone) {
    if (std::string fault = ScaleColumns(table, steps.columns); !fault.empty())
      return Failure{fault};
  }
  std::vector<double> scratch;
  const std::size_t n = table.ncolumns();
  for (std::size_t r = 0; r < table.nrows(); ++r) {
    const Profile profile{table.values.data() + r * n, table.mask.data() + r * n, n};
    if (steps.center != Centering::kNone) {
      if (const auto center = CenterOf(profile, steps.center, scratch))
        ForEachPresent(profile, [&center](double& value) { value -= *center; });
    }
    if (steps.scale != Scaling::kNone) {
      if (const auto spread = SpreadOf(profile, steps.scale))
        ForEachPresent(profile, [&spread](double& value) { value /= *spread; });
    }
  }
  return table;
}

}  // namespace lopper
