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
  double g = 0, scale = 0, anorm = 0, s = 0, f = 0, h = 0;
  int l = 0;

  // Householder reduction to upper bidiagonal form.
  for (int i = 0; i < n; i++) {
    l = i + 1;
    rv1[i] = scale * g;
    g = s = scale = 0;
    for (int k = i; k < m; k++) scale += std::fabs(u[k][i]);
    if (scale != 0) {
      for (int k = i; k < m; k++) {
        u[k][i] /= scale;
        s += u[k][i] * u[k][i];
      }
      f = u[i][i];
      g = -Sign(std::sqrt(s), f);
      h = f * g - s;
      u[i][i] = f - g;
      if (i != n - 1) {
        for (int j = l; j < n; j++) {
          s = 0;
          for (int k = i; k < m; k++) s += u[k][i] * u[k][j];
          f = s / h;
          for (int k = i; k < m; k++) u[k][j] += f * u[k][i];
        }
      }
      for (int k = i; k < m; k++) u[k][i] *= scale;
    }
    w[i] = scale * g;
    g = s = scale = 0;
    if (i != n - 1) {
      for (int k = l; k < n; k++) scale += std::fabs(u[i][k]);
      if (scale != 0) {
        for (int k = l; k < n; k++) {
          u[i][k] /= scale;
          s += u[i][k] * u[i][k];
        }
        f = u[i][l];
        g = -Sign(std::sqrt(s), f);
        h = f * g - s;
        u[i][l] = f - g;
        for (int k = l; k < n; k++) rv1[k] = u[i][k] / h;
        for (int j = l; j < m; j++) {
          s = 0;
          for (int k = l; k < n; k++) s += u[j][k] * u[i][k];
          for (int k = l; k < n; k++) u[j][k] += s * rv1[k];
        }
        for (int k = l; k < n; k++) u[i][k] *= scale;
      }
    }
    anorm = std::max(anorm, std::fabs(w[i]) + std::fabs(rv1[i]));
  }

  // Accumulation of the right-hand transformations.
  for (int i = n - 1; i >= 0; i--) {
    if (i < n - 1) {
      if (g != 0) {
        for (int j = l; j < n; j++) v[j][i] = u[i][j] / (g * u[i][l]);
        for (int j = l; j < n; j++) {
          s = 0;
          for (int k = l; k < n; k++) s += u[i][k] * v[k][j];
          for (int k = l; k < n; k++) v[k][j] += s * v[k][i];
        }
      }
      for (int j = l; j < n; j++) v[i][j] = v[j][i] = 0;
    }
    v[i][i] = 1;
    g = rv1[i];
    l = i;
  }

  // Accumulation of the left-hand transformations.
  for (int i = n - 1; i >= 0; i--) {
    l = i + 1;
    g = w[i];
    if (i < n - 1)
      for (int j = l; j < n; j++) u[i][j] = 0;
    if (g != 0) {
      if (i < n - 1) {
        for (int j = l; j < n; j++) {
          s = 0;
          for (int k = l; k < m; k++) s += u[k][i] * u[k][j];
          f = s / (g * u[i][i]);
          for (int k = i; k < m; k++) u[k][j] += f * u[k][i];
        }
      }
      for (int j = i; j < m; j++) u[j][i] /= g;
    } else {
      for (int j = i; j < m; j++) u[j][i] = 0;
    }
    u[i][i] += 1;
  }

  // Diagonalisation of the bidiagonal form. A quantity is negligible when
  // adding it to anorm leaves anorm unchanged.
  for (int k = n - 1; k >= 0; k--) {
    const int k1 = k - 1;
    int its = 0;
    while (true) {
      int l1 = k;
      bool cancel = false;
      for (; l1 >= 0; l1--) {
        if (std::fabs(rv1[l1]) + anorm == anorm) break;
        if (std::fabs(w[l1 - 1]) + anorm == anorm) {
          cancel = true;
          break;
        }
      }
      if (cancel) {
        const int lw = l1 - 1;
        double c = 0;
        s = 1;
        for (int i = l1; i <= k; i++) {
          f = s * rv1[i];
          rv1[i] = c * rv1[i];
          if (std::fabs(f) + anorm == anorm) break;
          g = w[i];
          h = std::sqrt(f * f + g * g);
          w[i] = h;
          c = g / h;
          s = -f / h;
          Rotate(u, m, lw, i, c, s);
        }
      }
      double z = w[k];
      if (l1 == k) {
        if (z < 0) {
          w[k] = -z;
          for (int j = 0; j < n; j++) v[j][k] = -v[j][k];
        }
        break;
      }
      if (its == 30) {
        *ierr = k;
        break;
      }
      its++;
      double x = w[l1];
      double y = w[k1];
      g = rv1[k1];
      h = rv1[k];
      f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2 * h * y);
      g = std::sqrt(f * f + 1);
      f = ((x - z) * (x + z) + h * (y / (f + Sign(g, f)) - h)) / x;
      double c = 1;
      s = 1;
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
  }
}

}  // namespace lopper
