// Owned data/mask pairs and distance matrices, mean, median and the index
// sort.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "cluster_internal.h"

namespace lopper {
namespace detail {

// Rows come in the order data array, mask array, then data row i and mask
// row i for each i, so that a failure leaves a whole number of pairs.
Status DataMask::obtain(int nrows, int ncols) {
  data_ = static_cast<double**>(allocate(nrows * sizeof(double*)));
  if (data_) mask_ = static_cast<int**>(allocate(nrows * sizeof(int*)));
  if (!mask_) {
    clear();
    return Status::kOutOfMemory;
  }
  for (; nrows_ < nrows; nrows_++) {
    data_[nrows_] = static_cast<double*>(allocate(ncols * sizeof(double)));
    if (!data_[nrows_]) break;
    mask_[nrows_] = static_cast<int*>(allocate(ncols * sizeof(int)));
    if (!mask_[nrows_]) {
      release(data_[nrows_]);
      break;
    }
  }
  if (nrows_ == nrows) return Status::kOk;
  clear();
  return Status::kOutOfMemory;
}

void DataMask::clear() {
  for (int i = 0; i < nrows_; i++) {
    release(mask_[i]);
    release(data_[i]);
  }
  release(mask_);
  release(data_);
  nrows_ = 0;
  data_ = nullptr;
  mask_ = nullptr;
}

DataMask::~DataMask() { clear(); }

Status TriangleBlock::obtain(int n) {
  const std::size_t entries = static_cast<std::size_t>(n) * (n - 1) / 2;
  rows_.reset(static_cast<double**>(allocate(n * sizeof(double*))));
  block_.reset(static_cast<double*>(allocate(entries * sizeof(double))));
  if (!rows_ || !block_) {
    rows_.reset();
    block_.reset();
    return Status::kOutOfMemory;
  }
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // Only a hint: whole pages inside the block, and a refusal changes nothing.
  char* const base = reinterpret_cast<char*>(block_.get());
  const std::size_t page = 4096, bytes = entries * sizeof(double);
  const std::size_t skip = (page - reinterpret_cast<std::uintptr_t>(base) % page) % page;
  if (bytes > skip + page) madvise(base + skip, (bytes - skip) / page * page, MADV_HUGEPAGE);
#endif
  rows_.get()[0] = nullptr;
  for (int i = 1; i < n; i++)
    rows_.get()[i] = block_.get() + static_cast<std::size_t>(i) * (i - 1) / 2;
  return Status::kOk;
}

Status TriangularMatrix::obtain(int n) {
  rows_ = static_cast<double**>(allocate(n * sizeof(double*)));
  if (!rows_) return Status::kOutOfMemory;
  rows_[0] = nullptr;
  for (n_ = 1; n_ < n; n_++) {
    rows_[n_] = static_cast<double*>(allocate(n_ * sizeof(double)));
    if (!rows_[n_]) {
      clear();
      return Status::kOutOfMemory;
    }
  }
  return Status::kOk;
}

double** TriangularMatrix::release() {
  double** const matrix = rows_;
  rows_ = nullptr;
  n_ = 0;
  return matrix;
}

void TriangularMatrix::clear() {
  for (int i = 1; i < n_; i++) detail::release(rows_[i]);
  detail::release(rows_);
  rows_ = nullptr;
  n_ = 0;
}

TriangularMatrix::~TriangularMatrix() { clear(); }

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
