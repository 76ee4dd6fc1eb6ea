// Data/mask pairs, mean, median and the index sort.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

#include "cluster_internal.h"

namespace lopper {
namespace detail {

int makedatamask(int nrows, int ncols, double*** pdata, int*** pmask) {
  double** data = static_cast<double**>(allocate(nrows * sizeof(double*)));
  if (!data) return 0;
  int** mask = static_cast<int**>(allocate(nrows * sizeof(int*)));
  if (!mask) {
    release(data);
    return 0;
  }
  int i = 0;
  for (; i < nrows; i++) {
    data[i] = static_cast<double*>(allocate(ncols * sizeof(double)));
    if (!data[i]) break;
    mask[i] = static_cast<int*>(allocate(ncols * sizeof(int)));
    if (!mask[i]) {
      release(data[i]);
      break;
    }
  }
  if (i == nrows) {
    *pdata = data;
    *pmask = mask;
    return 1;
  }
  *pdata = nullptr;
  *pmask = nullptr;
  freedatamask(i, data, mask);
  return 0;
}

void freedatamask(int n, double** data, int** mask) {
  for (int i = 0; i < n; i++) {
    release(mask[i]);
    release(data[i]);
  }
  release(mask);
  release(data);
}

int compare(const double sortdata[], int i1, int i2) {
  const double a = sortdata[i1], b = sortdata[i2];
  if (a < b) return -1;
  if (a > b) return 1;
  const bool na = std::isnan(a), nb = std::isnan(b);
  return na == nb ? 0 : na ? 1 : -1;
}

}  // namespace detail

double mean(int n, const double x[]) {
  if (n < 1) return 0.0;
  double sum = 0.0;
  for (int i = 0; i < n; i++) sum += x[i];
  return sum / n;
}

// Selection by repeated partitioning of the part [lo, hi] that still holds
// the median (Hoare partition around the median of three); no allocation.
double median(int n, double x[]) {
  if (n < 1) return 0.0;
  if (n == 1) return x[0];
  if (n == 2) return 0.5 * (x[0] + x[1]);
  const int nr = n / 2;
  const int nl = nr - 1;
  const bool even = n == 2 * nr;
  int lo = 0;
  int hi = n - 1;
  do {
    const int mid = (lo + hi) / 2;
    double result = x[mid];
    double xlo = x[lo];
    double xhi = x[hi];
    if (xhi < xlo) std::swap(xlo, xhi);
    if (result > xhi)
      result = xhi;
    else if (result < xlo)
      result = xlo;
    int i = lo;
    int j = hi;
    while (true) {
      while (x[i] < result) i++;
      while (x[j] > result) j--;
      if (i >= j) break;
      std::swap(x[i], x[j]);
      i++;
      j--;
      if (i > j) break;
    }
    if (even) {
      if (j == nl && i == nr) {
        double xmax = x[0];
        double xmin = x[n - 1];
        for (int k = lo; k <= j; k++) xmax = std::max(xmax, x[k]);
        for (int k = i; k <= hi; k++) xmin = std::min(xmin, x[k]);
        return 0.5 * (xmin + xmax);
      }
      if (j < nl) lo = i;
      if (i > nr) hi = j;
      if (i == j) {
        if (i == nl) lo = nl;
        if (i == nr) hi = nr;
      }
    } else {
      if (j < nr) lo = i;
      if (i > nr) hi = j;
      if (i == j && i == nr) return result;
    }
  } while (lo < hi - 1);
  if (even) return 0.5 * (x[nl] + x[nr]);
  if (x[lo] > x[hi]) std::swap(x[lo], x[hi]);
  return x[nr];
}

void sort(int n, const double data[], int index[]) {
  if (n < 1) return;
  std::iota(index, index + n, 0);
  std::stable_sort(index, index + n,
                   [data](int a, int b) { return detail::compare(data, a, b) < 0; });
}

}  // namespace lopper
