// Fuzz target: the distance measures and clusterdistance on small matrices
// decoded from the input (values, any mask, non-negative weights, any codes,
// methods and member lists). Every result must be finite, or -1.0/-2.0
// exactly where the arguments are invalid.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cluster_internal.h"
#include "fuzz_util.h"

namespace {

using lopper_fuzz::Bytes;
using lopper_fuzz::Check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes in{data, size};
  const int nrows = 1 + in.next() % 6, ncolumns = 1 + in.next() % 6;
  const int transpose = in.next() % 2;
  const int nelements = transpose ? ncolumns : nrows, ndata = transpose ? nrows : ncolumns;
  std::vector<std::vector<double>> values(nrows, std::vector<double>(ncolumns));
  std::vector<std::vector<int>> present(nrows, std::vector<int>(ncolumns));
  std::vector<double*> rows;
  std::vector<int*> masks;
  for (int i = 0; i < nrows; i++) {
    for (int j = 0; j < ncolumns; j++) {
      const unsigned b = in.next();
      values[i][j] = (static_cast<int>(b) - 128) / 4.0;
      present[i][j] = (in.next() % 5) != 0;
    }
    rows.push_back(values[i].data());
    masks.push_back(present[i].data());
  }
  std::vector<double> weight(ndata);
  for (double& w : weight) w = (in.next() % 4) * 0.5;

  const std::string codes = "ebcauxsk?";
  for (const char dist : codes) {
    const auto metric = lopper::detail::setmetric(dist);
    for (int i = 0; i < nelements; i++)
      for (int j = 0; j < nelements; j++)
        Check(std::isfinite(metric(ndata, rows.data(), rows.data(), masks.data(), masks.data(),
                                   weight.data(), i, j, transpose)));
  }

  const char dist = codes[in.next() % codes.size()];
  const char method = "amsxvq"[in.next() % 6];
  const int n1 = static_cast<int>(in.next() % 5), n2 = static_cast<int>(in.next() % 5);
  std::vector<int> g1(n1 + 1), g2(n2 + 1);
  bool valid = n1 >= 1 && n2 >= 1;
  for (int k = 0; k < n1; k++) {
    g1[k] = static_cast<int>(in.next() % (nelements + 2)) - 1;
    valid = valid && g1[k] >= 0 && g1[k] < nelements;
  }
  for (int k = 0; k < n2; k++) {
    g2[k] = static_cast<int>(in.next() % (nelements + 2)) - 1;
    valid = valid && g2[k] >= 0 && g2[k] < nelements;
  }
  const double d =
      lopper::clusterdistance(nrows, ncolumns, rows.data(), masks.data(), weight.data(), n1, n2,
                              g1.data(), g2.data(), dist, method, transpose);
  if (!valid)
    Check(d == -1.0);
  else if (method == 'q')
    Check(d == -2.0);
  else
    Check(std::isfinite(d));
  return 0;
}
