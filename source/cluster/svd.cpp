// Singular value decomposition by the Golub-Reinsch method (Numer. Math. 14,
// 1970): Householder bidiagonalisation, accumulation of both transformations,
// implicitly shifted QR with Givens rotations, at most 30 sweeps per value.
// The work is done on column-major copies of u and v: every step walks
// columns, which row pointers would scatter across memory. Each sum is
// still formed in the same order, so the copies change no result.
#include <algorithm>
#include <cmath>
#include <new>
#include <optional>
#include <vector>

#include "cluster.h"

namespace lopper {

namespace {

// |a| with the sign of b, b = 0 counting as positive: Fortran's SIGN.
double Sign(double a, double b) { return b >= 0 ? std::fabs(a) : -std::fabs(a); }

// A rows x columns matrix stored column after column.
class Columns {
 public:
  Columns(int rows, int columns) : rows_(rows), values_(static_cast<std::size_t>(rows) * columns) {}
  double* column(int c) { return &values_[static_cast<std::size_t>(c) * rows_]; }
  double& at(int r, int c) { return column(c)[r]; }
  int rows() const { return rows_; }

 private:
  int rows_;
  std::vector<double> values_;
};

// Columns p and q of a rotated by (c, s).
void Rotate(Columns& a, int p, int q, double c, double s) {
  double* x = a.column(p);
  double* y = a.column(q);
  for (int j = 0; j < a.rows(); j++) {
    const double xj = x[j];
    const double yj = y[j];
    x[j] = xj * c + yj * s;
    y[j] = -xj * s + yj * c;
  }
}

}  // namespace

namespace detail {
namespace {

// Negligible next to anorm, the bidiagonal form's largest row: adding x to
// it leaves it unchanged.
bool Negligible(double x, double anorm) { return std::fabs(x) + anorm == anorm; }

// What MakeReflector leaves; g and h are relative to the scale.
struct Reflector {
  double scale;  // sum of the entries' magnitudes; 0 when the entries were left alone
  double g;      // the value the reflection gives the first entry
  double h;      // the reflector's normaliser f * g - |x|^2, f the first entry
};

// entry(k), k = first ... last-1 (first < last), is a reference to the k-th
// entry of a row or column of u. Unless all are zero they are divided by
// their sum of magnitudes (so that the sum of squares neither overflows nor
// underflows) and the first is reduced by g, which leaves in them the
// vector x of the reflector I - x x^T / h. The caller applies it and then
// multiplies the entries back by the scale. One step of Golub and Reinsch's
// bidiagonalisation, the same for a column and for a row.
template <typename Entry>
Reflector MakeReflector(Entry entry, int first, int last) {
  Reflector r{0, 0, 0};
  for (int k = first; k < last; k++) r.scale += std::fabs(entry(k));
  if (r.scale == 0) return r;
  double s = 0;
  for (int k = first; k < last; k++) {
    entry(k) /= r.scale;
    s += entry(k) * entry(k);
  }
  const double f = entry(first);
  r.g = -Sign(std::sqrt(s), f);
  r.h = f * r.g - s;
  entry(first) = f - r.g;
  return r;
}

// Column i of u (m x n), rows i ... m-1, holds a reflector's vector;
// applies the reflector to columns i+1 ... n-1. The products with column i
// run over rows from ... m-1 (from > i when u[i][j] is known to be 0) and
// are divided by h. Columns do not affect each other, so four products are
// summed side by side (each in row order) to keep the adder busy.
void ReflectColumns(Columns& u, int n, int i, int from, double h) {
  const int m = u.rows();
  const double* x = u.column(i);
  int j = i + 1;
  for (; j + 4 <= n; j += 4) {
    double* y0 = u.column(j);
    double* y1 = u.column(j + 1);
    double* y2 = u.column(j + 2);
    double* y3 = u.column(j + 3);
    double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    for (int k = from; k < m; k++) {
      s0 += x[k] * y0[k];
      s1 += x[k] * y1[k];
      s2 += x[k] * y2[k];
      s3 += x[k] * y3[k];
    }
    const double f0 = s0 / h, f1 = s1 / h, f2 = s2 / h, f3 = s3 / h;
    for (int k = i; k < m; k++) {
      y0[k] += f0 * x[k];
      y1[k] += f1 * x[k];
      y2[k] += f2 * x[k];
      y3[k] += f3 * x[k];
    }
  }
  for (; j < n; j++) {
    double* y = u.column(j);
    double s = 0;
    for (int k = from; k < m; k++) s += x[k] * y[k];
    const double f = s / h;
    for (int k = i; k < m; k++) y[k] += f * x[k];
  }
}

// Row i of u (m x n), columns l ... n-1, holds a reflector's vector, and
// rv1[l ... n-1] that vector over h; applies the reflector to rows l ...
// m-1. Each row's product is summed over ascending columns, as a row at a
// time would, but all rows' sums advance together down the columns;
// sums: m doubles of scratch.
void ReflectRows(Columns& u, int n, int i, int l, const double rv1[], double sums[]) {
  const int m = u.rows();
  std::fill(sums + l, sums + m, 0.0);
  for (int k = l; k < n; k++) {
    const double* y = u.column(k);
    const double x = y[i];
    for (int j = l; j < m; j++) sums[j] += y[j] * x;
  }
  for (int k = l; k < n; k++) {
    double* y = u.column(k);
    for (int j = l; j < m; j++) y[j] += sums[j] * rv1[k];
  }
}

// u is m x n (m >= n >= 1), w and rv1 have n entries, sums m. Householder
// reflections from the left (columns) and the right (rows) reduce u to
// upper bidiagonal form: its diagonal goes to w, its superdiagonal to
// rv1[1 ... n-1] with rv1[0] = 0. u is left holding the reflectors' vectors,
// column i from row i down and row i from column i+1 on. Returns anorm, the
// largest |w[i]| + |rv1[i]|, against which the QR iteration measures what
// is negligible.
double Bidiagonalise(Columns& u, int n, double w[], double rv1[], double sums[]) {
  const int m = u.rows();
  double anorm = 0;
  rv1[0] = 0;
  for (int i = 0; i < n; i++) {
    const int l = i + 1;
    double* ui = u.column(i);
    const Reflector column = MakeReflector([&](int k) -> double& { return ui[k]; }, i, m);
    if (column.scale != 0) {
      ReflectColumns(u, n, i, i, column.h);
      for (int k = i; k < m; k++) ui[k] *= column.scale;
    }
    w[i] = column.scale * column.g;
    if (i != n - 1) {
      const Reflector row = MakeReflector([&](int k) -> double& { return u.at(i, k); }, l, n);
      if (row.scale != 0) {
        // rv1 beyond i is free until the superdiagonal reaches it.
        for (int k = l; k < n; k++) rv1[k] = u.at(i, k) / row.h;
        ReflectRows(u, n, i, l, rv1, sums);
        for (int k = l; k < n; k++) u.at(i, k) *= row.scale;
      }
      rv1[l] = row.scale * row.g;
    }
    anorm = std::max(anorm, std::fabs(w[i]) + std::fabs(rv1[i]));
  }
  return anorm;
}

// u and rv1 as Bidiagonalise leaves them; v is n x n and is overwritten
// with the product of the right-hand reflectors, built from the last one
// back. row: n doubles of scratch for row i of u.
void AccumulateRight(Columns& u, int n, Columns& v, const double rv1[], double row[]) {
  for (int i = n - 1; i >= 0; i--) {
    if (i < n - 1) {
      const int l = i + 1;
      const double g = rv1[l];
      if (g != 0) {
        for (int k = l; k < n; k++) row[k] = u.at(i, k);
        double* vi = v.column(i);
        for (int j = l; j < n; j++) vi[j] = row[j] / (g * row[l]);
        for (int j = l; j < n; j++) {
          double* vj = v.column(j);
          double s = 0;
          for (int k = l; k < n; k++) s += row[k] * vj[k];
          for (int k = l; k < n; k++) vj[k] += s * vi[k];
        }
      }
      for (int j = l; j < n; j++) v.at(i, j) = v.at(j, i) = 0;
    }
    v.at(i, i) = 1;
  }
}

// u (m x n) and w as Bidiagonalise leaves them; u is overwritten in place
// with the first n columns of the product of the left-hand reflectors,
// built from the last one back.
void AccumulateLeft(Columns& u, int n, const double w[]) {
  const int m = u.rows();
  for (int i = n - 1; i >= 0; i--) {
    const int l = i + 1;
    const double g = w[i];
    double* ui = u.column(i);
    for (int j = l; j < n; j++) u.at(i, j) = 0;
    if (g != 0) {
      ReflectColumns(u, n, i, l, g * ui[i]);
      for (int j = i; j < m; j++) ui[j] /= g;
    } else {
      for (int j = i; j < m; j++) ui[j] = 0;
    }
    ui[i] += 1;
  }
}

// w[l1-1] is negligible (l1 >= 1): Givens rotations of row l1-1 against
// rows l1 ... k of the bidiagonal form (w, rv1), accumulated into u's
// columns, chase rv1[l1] along row l1-1 until what is carried along is
// negligible; rows l1 ... k are then split off from above.
void Cancel(Columns& u, double w[], double rv1[], int l1, int k, double anorm) {
  double c = 0;
  double s = 1;
  for (int i = l1; i <= k; i++) {
    const double f = s * rv1[i];
    rv1[i] = c * rv1[i];
    if (Negligible(f, anorm)) break;
    const double g = w[i];
    const double h = std::sqrt(f * f + g * g);
    w[i] = h;
    c = g / h;
    s = -f / h;
    Rotate(u, l1 - 1, i, c, s);
  }
}

// Returns l1, the first row of the unreduced block that ends at row k of
// the bidiagonal form (w, rv1), cancelling rv1[l1] when the block is split
// off by a negligible w[l1-1]. The search ends at row 0 at the latest, as
// rv1[0] stays 0 and anorm is never NaN.
int Split(Columns& u, double w[], double rv1[], int k, double anorm) {
  for (int l1 = k;; l1--) {
    if (Negligible(rv1[l1], anorm)) return l1;
    if (Negligible(w[l1 - 1], anorm)) {
      Cancel(u, w, rv1, l1, k, anorm);
      return l1;
    }
  }
}

// Rows l1 ... k (l1 < k) of the bidiagonal form (w, rv1) are unreduced. One
// implicitly shifted QR sweep, the shift taken from the trailing 2 x 2
// block, chases the bulge down with Givens rotations, accumulated into v's
// columns and u's.
void QrSweep(Columns& u, double w[], Columns& v, double rv1[], int l1, int k) {
  const int k1 = k - 1;
  double z = w[k];
  double x = w[l1];
  double y = w[k1];
  double g = rv1[k1];
  double h = rv1[k];
  double f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2 * h * y);
  g = std::sqrt(f * f + 1);
  f = ((x - z) * (x + z) + h * (y / (f + Sign(g, f)) - h)) / x;
  double c = 1;
  double s = 1;
  for (int i1 = l1; i1 <= k1; i1++) {
    const int i = i1 + 1;
    g = rv1[i];
    y = w[i];
    h = s * g;
    g = c * g;
    z = std::sqrt(f * f + h * h);
    rv1[i1] = z;
    c = f / z;
    s = h / z;
    f = x * c + g * s;
    g = -x * s + g * c;
    h = y * s;
    y = y * c;
    Rotate(v, i1, i, c, s);
    z = std::sqrt(f * f + h * h);
    w[i1] = z;
    // f = h = 0: any rotation will do, so the last one is kept.
    if (z != 0) {
      c = f / z;
      s = h / z;
    }
    f = c * g + s * y;
    x = -s * g + c * y;
    Rotate(u, i1, i, c, s);
  }
  rv1[l1] = 0;
  rv1[k] = f;
  w[k] = x;
}

// w[k] has converged: a negative value is negated together with column k of
// v, which leaves u diag(w) v^T as it was.
void MakeNonNegative(double w[], Columns& v, int k) {
  const double z = w[k];
  if (z < 0) {
    w[k] = -z;
    double* vk = v.column(k);
    for (int j = 0; j < v.rows(); j++) vk[j] = -vk[j];
  }
}

// The bidiagonal form (w, rv1) is diagonalised from the bottom row up, the
// rotations accumulated into u (m x n) and v (n x n). A value still not
// converged after 30 sweeps sets *ierr to its index and is left as it is;
// the last such index (the lowest) is the one that stays in *ierr.
void Diagonalise(Columns& u, int n, double w[], Columns& v, double rv1[], double anorm, int* ierr) {
  for (int k = n - 1; k >= 0; k--) {
    for (int its = 0;; its++) {
      const int l1 = Split(u, w, rv1, k, anorm);
      if (l1 == k) {
        MakeNonNegative(w, v, k);
        break;
      }
      if (its == 30) {
        *ierr = k;
        break;
      }
      QrSweep(u, w, v, rv1, l1, k);
    }
  }
}

// The working storage: column-major u and v, and the vectors.
struct Work {
  Work(int m, int n) : u(m, n), v(n, n), rv1(n), scratch(m) {}
  Columns u, v;
  std::vector<double> rv1, scratch;
};

}  // namespace
}  // namespace detail

void svd(int m, int n, double** u, double w[], double** v, int* ierr) {
  if (m < 1 || n < 1 || m < n) {
    *ierr = -2;
    return;
  }
  std::optional<detail::Work> work;
  try {
    work.emplace(m, n);
  } catch (const std::bad_alloc&) {
    *ierr = -1;
    return;
  }
  Columns& cu = work->u;
  Columns& cv = work->v;
  for (int r = 0; r < m; r++)
    for (int c = 0; c < n; c++) cu.at(r, c) = u[r][c];
  *ierr = 0;
  const double anorm = detail::Bidiagonalise(cu, n, w, work->rv1.data(), work->scratch.data());
  detail::AccumulateRight(cu, n, cv, work->rv1.data(), work->scratch.data());
  detail::AccumulateLeft(cu, n, w);
  detail::Diagonalise(cu, n, w, cv, work->rv1.data(), anorm, ierr);
  for (int r = 0; r < m; r++)
    for (int c = 0; c < n; c++) u[r][c] = cu.at(r, c);
  for (int r = 0; r < n; r++)
    for (int c = 0; c < n; c++) v[r][c] = cv.at(r, c);
}

}  // namespace lopper
