#include "preprocess.h"

#include <lopper/cluster.h>

#include <cmath>
#include <optional>
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

}  // namespace

Result<Table> Preprocess(Table table, const Preprocessing& steps) {
  if (steps.log2) {
    if (std::string fault = TakeLog2(table); !fault.empty()) return Failure{fault};
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
