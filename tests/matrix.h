// A data matrix with its mask, owning its rows, handing out the row-pointer
// arrays the library takes.
#ifndef LOPPER_TEST_MATRIX_H
#define LOPPER_TEST_MATRIX_H

#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

#include "cluster.h"

namespace lopper_test {

class Matrix {
 public:
  // mask empty: every value present.
  explicit Matrix(std::vector<std::vector<double>> values, std::vector<std::vector<int>> mask = {})
      : values_(std::move(values)), mask_(std::move(mask)) {
    if (mask_.empty())
      for (const auto& row : values_) mask_.emplace_back(row.size(), 1);
    for (auto& row : values_) value_rows_.push_back(row.data());
    for (auto& row : mask_) mask_rows_.push_back(row.data());
  }
  Matrix(const Matrix& other) : Matrix(other.values_, other.mask_) {}

  int nrows() const { return static_cast<int>(values_.size()); }
  int ncolumns() const { return values_.empty() ? 0 : static_cast<int>(values_[0].size()); }
  double** data() { return value_rows_.data(); }
  int** mask() { return mask_rows_.data(); }

  Matrix transposed() const {
    std::vector<std::vector<double>> v(ncolumns(), std::vector<double>(nrows()));
    std::vector<std::vector<int>> m(ncolumns(), std::vector<int>(nrows()));
    for (int i = 0; i < nrows(); i++)
      for (int j = 0; j < ncolumns(); j++) {
        v[j][i] = values_[i][j];
        m[j][i] = mask_[i][j];
      }
    return Matrix(v, m);
  }

 private:
  std::vector<std::vector<double>> values_;
  std::vector<std::vector<int>> mask_;
  std::vector<double*> value_rows_;
  std::vector<int*> mask_rows_;
};

// n rows of ndata values from rng: normal, or integers 0 ... levels-1 when
// levels > 0; each value missing with probability `missing`.
inline Matrix RandomMatrix(int n, int ndata, std::mt19937& rng, double missing, int levels = 0) {
  std::vector<std::vector<double>> v(n, std::vector<double>(ndata));
  std::vector<std::vector<int>> m(n, std::vector<int>(ndata));
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> u;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < ndata; j++) {
      v[i][j] = levels ? static_cast<double>(rng() % levels) : normal(rng);
      m[i][j] = u(rng) >= missing;
    }
  return Matrix(v, m);
}

// A lower-triangular distance matrix: row 0 null, row i holds i entries.
class Lower {
 public:
  explicit Lower(std::vector<std::vector<double>> rows) : rows_(std::move(rows)) {
    for (std::size_t i = 0; i < rows_.size(); i++)
      pointers_.push_back(i ? rows_[i].data() : nullptr);
  }
  // Copies rows 1 ... n-1 of a library matrix.
  Lower(const double* const* matrix, int n) : Lower(Copy(matrix, n)) {}
  Lower(const Lower& other) : Lower(other.rows_) {}

  double** data() { return pointers_.data(); }
  const std::vector<std::vector<double>>& rows() const { return rows_; }

 private:
  static std::vector<std::vector<double>> Copy(const double* const* matrix, int n) {
    std::vector<std::vector<double>> rows(n);
    for (int i = 1; i < n; i++) rows[i].assign(matrix[i], matrix[i] + i);
    return rows;
  }
  std::vector<std::vector<double>> rows_;
  std::vector<double*> pointers_;
};

// The library's distance matrix of m's rows, copied.
inline Lower DistancesOf(Matrix& m, const std::vector<double>& weight, char dist) {
  double** d =
      lopper::distancematrix(m.nrows(), m.ncolumns(), m.data(), m.mask(), weight.data(), dist, 0);
  Lower copy(d, m.nrows());
  for (int i = 1; i < m.nrows(); i++) std::free(d[i]);
  std::free(d);
  return copy;
}

}  // namespace lopper_test

#endif
