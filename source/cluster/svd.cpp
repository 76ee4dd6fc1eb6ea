// Singular value decomposition by the Golub-Reinsch method (Numer. Math. 14,
// 1970): Householder bidiagonalisation, accumulation of both transformations,
// implicitly shifted QR with Givens rotations, at most 30 sweeps per value.
#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "cluster.h"

namespace lopper {

namespace {

// |a| with the sign of b, b = 0 counting as positive: Fortran's SIGN.
double Sign(double a, double b) { return b >= 0 ? std::fabs(a) : -std::fabs(a); }

// Columns p and q of a (rows 0 ... rows-1) rotated by (c, s).
void Rotate(double** a, int rows, int p, int q, double c, double s) {
  for (int j = 0; j < rows; j++) {
    const double y = a[j][p];
    const double z = a[j][q];
    a[j][p] = y * c + z * s;
    a[j][q] = -y * s + z * c;
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

// Column i of the m x n matrix u, rows i ... m-1, holds a reflector's
// vector; applies the reflector to columns i+1 ... n-1. The products with
// column i run over rows from ... m-1 (from > i when u[i][j] is known to be
// 0) and are divided by h.
void ReflectColumns(int m, int n, double** u, int i, int from, double h) {
  for (int j = i + 1; j < n; j++) {
    double s = 0;
    for (int k = from; k < m; k++) s += u[k][i] * u[k][j];
    const double f = s / h;
    for (int k = i; k < m; k++) u[k][j] += f * u[k][i];
  }
}

// u is m x n (m >= n >= 1), w and rv1 have n entries. Householder
// reflections from the left (columns) and the right (rows) reduce u to
// upper bidiagonal form: its diagonal goes to w, its superdiagonal to
// rv1[1 ... n-1] with rv1[0] = 0. u is left holding the reflectors' vectors,
// column i from row i down and row i from column i+1 on. Returns anorm, the
// largest |w[i]| + |rv1[i]|, against which the QR iteration measures what
// is negligible.
double Bidiagonalise(int m, int n, double** u, double w[], double rv1[]) {
  double anorm = 0;
  rv1[0] = 0;
  for (int i = 0; i < n; i++) {
    const int l = i + 1;
    const Reflector column = MakeReflector([&](int k) -> double& { return u[k][i]; }, i, m);
    if (column.scale != 0) {
      ReflectColumns(m, n, u, i, i, column.h);
      for (int k = i; k < m; k++) u[k][i] *= column.scale;
    }
    w[i] = column.scale * column.g;
    if (i != n - 1) {
      const Reflector row = MakeReflector([&](int k) -> double& { return u[i][k]; }, l, n);
      if (row.scale != 0) {
        // rv1 beyond i is free until the superdiagonal reaches it.
        for (int k = l; k < n; k++) rv1[k] = u[i][k] / row.h;
        for (int j = l; j < m; j++) {
          double s = 0;
          for (int k = l; k < n; k++) s += u[j][k] * u[i][k];
          for (int k = l; k < n; k++) u[j][k] += s * rv1[k];
        }
        for (int k = l; k < n; k++) u[i][k] *= row.scale;
      }
      rv1[l] = row.scale * row.g;
    }
    anorm = std::max(anorm, std::fabs(w[i]) + std::fabs(rv1[i]));
  }
  return anorm;
}

// u and rv1 as Bidiagonalise leaves them; v is n x n and is overwritten
// with the product of the right-hand reflectors, built from the last one
// back.
void AccumulateRight(int n, double** u, double** v, const double rv1[]) {
  for (int i = n - 1; i >= 0; i--) {
    if (i < n - 1) {
      const int l = i + 1;
      const double g = rv1[l];
      if (g != 0) {
        for (int j = l; j < n; j++) v[j][i] = u[i][j] / (g * u[i][l]);
        for (int j = l; j < n; j++) {
          double s = 0;
          for (int k = l; k < n; k++) s += u[i][k] * v[k][j];
          for (int k = l; k < n; k++) v[k][j] += s * v[k][i];
        }
      }
      for (int j = l; j < n; j++) v[i][j] = v[j][i] = 0;
    }
    v[i][i] = 1;
  }
}

// u (m x n) and w as Bidiagonalise leaves them; u is overwritten in place
// with the first n columns of the product of the left-hand reflectors,
// built from the last one back.
void AccumulateLeft(int m, int n, double** u, const double w[]) {
  for (int i = n - 1; i >= 0; i--) {
    const int l = i + 1;
    const double g = w[i];
    for (int j = l; j < n; j++) u[i][j] = 0;
    if (g != 0) {
      ReflectColumns(m, n, u, i, l, g * u[i][i]);
      for (int j = i; j < m; j++) u[j][i] /= g;
    } else {
      for (int j = i; j < m; j++) u[j][i] = 0;
    }
    u[i][i] += 1;
  }
}

// w[l1-1] is negligible (l1 >= 1): Givens rotations of row l1-1 against
// rows l1 ... k of the bidiagonal form (w, rv1), accumulated into u's
// columns (m rows), chase rv1[l1] along row l1-1 until what is carried
// along is negligible; rows l1 ... k are then split off from above.
void Cancel(int m, double** u, double w[], double rv1[], int l1, int k, double anorm) {
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
    Rotate(u, m, l1 - 1, i, c, s);
  }
}

// Returns l1, the first row of the unreduced block that ends at row k of
// the bidiagonal form (w, rv1), cancelling rv1[l1] when the block is split
// off by a negligible w[l1-1]. The search ends at row 0 at the latest, as
// rv1[0] stays 0 and anorm is never NaN.
int Split(int m, double** u, double w[], double rv1[], int k, double anorm) {
  for (int l1 = k;; l1--) {
    if (Negligible(rv1[l1], anorm)) return l1;
    if (Negligible(w[l1 - 1], anorm)) {
      Cancel(m, u, w, rv1, l1, k, anorm);
      return l1;
    }
  }
}

// Rows l1 ... k (l1 < k) of the bidiagonal form (w, rv1) are unreduced. One
// implicitly shifted QR sweep, the shift taken from the trailing 2 x 2
// block, chases the bulge down with Givens rotations, accumulated into v's
// columns (n rows) and u's (m rows).
void QrSweep(int m, int n, double** u, double w[], double** v, double rv1[], int l1, int k) {
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
    Rotate(v, n, i1, i, c, s);
    z = std::sqrt(f * f + h * h);
    w[i1] = z;
    // f = h = 0: any rotation will do, so the last one is kept.
    if (z != 0) {
      c = f / z;
      s = h / z;
    }
    f = c * g + s * y;
    x = -s * g + c * y;
    Rotate(u, m, i1, i, c, s);
  }
  rv1[l1] = 0;
  rv1[k] = f;
  w[k] = x;
}

// w[k] has converged: a negative value is negated together with column k of
// v (n rows), which leaves u diag(w) v^T as it was.
void MakeNonNegative(int n, double w[], double** v, int k) {
  const double z = w[k];
  if (z < 0) {
    w[k] = -z;
    for (int j = 0; j < n; j++) v[j][k] = -v[j][k];
  }
}

// The bidiagonal form (w, rv1) is diagonalised from the bottom row up, the
// rotations accumulated into u (m x n) and v (n x n). A value still not
// converged after 30 sweeps sets *ierr to its index and is left as it is;
// the last such index (the lowest) is the one that stays in *ierr.
void Diagonalise(int m, int n, double** u, double w[], double** v, double rv1[], double anorm,
                 int* ierr) {
  for (int k = n - 1; k >= 0; k--) {
    for (int its = 0;; its++) {
      const int l1 = Split(m, u, w, rv1, k, anorm);
      if (l1 == k) {
        MakeNonNegative(n, w, v, k);
        break;
      }
      if (its == 30) {
        *ierr = k;
        break;
      }
      QrSweep(m, n, u, w, v, rv1, l1, k);
    }
  }
}

}  // namespace
}  // namespace detail

void svd(int m, int n, double** u, double w[], double** v, int* ierr) {
  if (m < 1 || n < 1 || m < n) {
    *ierr = -2;
    return;
  }
  std::vector<double> rv1;
  try {
    rv1.resize(n);
  } catch (const std::bad_alloc&) {
    *ierr = -1;
    return;
  }
  *ierr = 0;
  const double anorm = detail::Bidiagonalise(m, n, u, w, rv1.data());
  detail::AccumulateRight(n, u, v, rv1.data());
  detail::AccumulateLeft(m, n, u, w);
  detail::Diagonalise(m, n, u, w, v, rv1.data(), anorm, ierr);
}

}  // namespace lopper
