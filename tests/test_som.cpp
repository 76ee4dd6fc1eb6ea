#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "cluster.h"
#include "matrix.h"
#include "test_util.h"

namespace {

using lopper_test::Matrix;

// Cell storage celldata[ix][iy][k].
class Cells {
 public:
  Cells(int nx, int ny, int ndata, double fill = -8.0)
      : ndata_(ndata),
        values_(static_cast<std::size_t>(nx) * ny * ndata, fill),
        rows_(static_cast<std::size_t>(nx) * ny),
        grid_(nx) {
    for (std::size_t c = 0; c < rows_.size(); c++) rows_[c] = &values_[c * ndata];
    for (int ix = 0; ix < nx; ix++) grid_[ix] = &rows_[static_cast<std::size_t>(ix) * ny];
  }
  Cells(const Cells&) = delete;  // the copy's rows would point into this one's values
  double*** data() { return grid_.data(); }
  const std::vector<double>& values() const { return values_; }
  void set_values(const std::vector<double>& v) { std::copy(v.begin(), v.end(), values_.begin()); }
  double rms(int ix, int iy) const {
    double sum = 0;
    for (int k = 0; k < ndata_; k++) sum += grid_[ix][iy][k] * grid_[ix][iy][k];
    return std::sqrt(sum / ndata_);
  }

 private:
  int ndata_;
  std::vector<double> values_;
  std::vector<double*> rows_;
  std::vector<double**> grid_;
};

std::vector<int> Som(Matrix& m, int transpose, int nx, int ny, int niter, Cells* cells,
                     bool assign = true, char dist = 'e') {
  const int nelements = transpose ? m.ncolumns() : m.nrows();
  const std::vector<double> w(transpose ? m.nrows() : m.ncolumns(), 1.0);
  std::vector<int> ids(2 * nelements, -4);
  lopper::somcluster(m.nrows(), m.ncolumns(), m.data(), m.mask(), w.data(), transpose, nx, ny, 0.02,
                     niter, dist, cells ? cells->data() : nullptr,
                     assign ? reinterpret_cast<int(*)[2]>(ids.data()) : nullptr);
  return ids;
}

Matrix Random(int n, int ndata, unsigned seed, double missing = 0.0) {
  std::mt19937 rng(seed);
  return lopper_test::RandomMatrix(n, ndata, rng, missing);
}

// The cell of `cells` (nx x ny) nearest to row i of m by the mean squared
// difference over i's present values; the first in grid order on ties.
std::pair<int, int> NearestCell(Matrix& m, int i, Cells& cells, int nx, int ny) {
  std::pair<int, int> nearest{0, 0};
  double closest = HUGE_VAL;
  for (int ix = 0; ix < nx; ix++)
    for (int iy = 0; iy < ny; iy++) {
      double sum = 0;
      int present = 0;
      for (int k = 0; k < m.ncolumns(); k++) {
        if (!m.mask()[i][k]) continue;
        const double d = m.data()[i][k] - cells.data()[ix][iy][k];
        sum += d * d;
        present++;
      }
      if (sum / present < closest) {
        closest = sum / present;
        nearest = {ix, iy};
      }
    }
  return nearest;
}

TEST(Somcluster, CellsKeepUnitRootMeanSquareAndElementsGetTheirNearestCell) {
  Matrix m = Random(40, 6, 1, 0.2);
  for (const int niter : {0, 1, 40, 1000}) {
    lopper::setrandomseed(5, 6);
    Cells cells(3, 4, 6);
    const auto ids = Som(m, 0, 3, 4, niter, &cells);
    for (int ix = 0; ix < 3; ix++)
      for (int iy = 0; iy < 4; iy++) EXPECT_NEAR(cells.rms(ix, iy), 1.0, 1e-12) << niter;
    for (int i = 0; i < 40; i++)
      EXPECT_EQ(std::make_pair(ids[2 * i], ids[2 * i + 1]), NearestCell(m, i, cells, 3, 4))
          << "niter " << niter << ", element " << i << ", seeds 5 6";
  }
}

TEST(Somcluster, OneCellTakesEverything) {
  Matrix m = Random(10, 3, 2);
  lopper::setrandomseed(1, 2);
  EXPECT_EQ(Som(m, 0, 1, 1, 25, nullptr), std::vector<int>(20, 0));
}

TEST(Somcluster, SeparatedGroupsGetDifferentCells) {
  std::vector<std::vector<double>> v;
  for (int i = 0; i < 10; i++) v.push_back({5.0 + 0.1 * i, -5.0, 5.0});
  for (int i = 0; i < 10; i++) v.push_back({-5.0, 5.0 - 0.1 * i, -5.0});
  Matrix m(v);
  lopper::setrandomseed(77, 88);
  const auto ids = Som(m, 0, 2, 1, 500, nullptr);
  for (int i = 1; i < 10; i++) EXPECT_EQ(ids[2 * i], ids[0]);
  for (int i = 11; i < 20; i++) EXPECT_EQ(ids[2 * i], ids[20]);
  EXPECT_NE(ids[0], ids[20]);
}

TEST(Somcluster, RowAndColumnModeAgree) {
  Matrix rows = Random(30, 5, 3, 0.1);
  Matrix columns = rows.transposed();
  for (const char dist : {'e', 'c', 'b'}) {
    lopper::setrandomseed(9, 10);
    Cells by_rows(2, 3, 5);
    const auto a = Som(rows, 0, 2, 3, 200, &by_rows, true, dist);
    lopper::setrandomseed(9, 10);
    Cells by_columns(2, 3, 5);
    const auto b = Som(columns, 1, 2, 3, 200, &by_columns, true, dist);
    EXPECT_EQ(a, b) << dist;
    EXPECT_EQ(by_rows.values(), by_columns.values()) << dist;
  }
}

// Kohonen's training as cluster.h states it, from the initial map `cells`,
// presenting m's rows in `order` cyclically: at step t of niter the rate is
// inittau (1 - t/niter) and the radius the grid's diagonal times the same;
// every cell nearer than the radius to the element's nearest cell moves
// towards the element (present values divided by their root mean square)
// and is rescaled to a root mean square of 1.
void Train(Matrix& m, const std::vector<int>& order, double inittau, int niter, Cells& cells,
           int nx, int ny) {
  const int ndata = m.ncolumns();
  for (int t = 0; t < niter; t++) {
    const double left = 1.0 - static_cast<double>(t) / niter;
    const int i = order[t % order.size()];
    double scale = 0;
    int present = 0;
    for (int k = 0; k < ndata; k++)
      if (m.mask()[i][k]) scale += m.data()[i][k] * m.data()[i][k], present++;
    scale = std::sqrt(scale / present);
    const auto [bx, by] = NearestCell(m, i, cells, nx, ny);
    for (int ix = 0; ix < nx; ix++)
      for (int iy = 0; iy < ny; iy++) {
        if (std::hypot(ix - bx, iy - by) >= std::hypot(nx, ny) * left) continue;
        double* cell = cells.data()[ix][iy];
        for (int k = 0; k < ndata; k++)
          if (m.mask()[i][k]) cell[k] += inittau * left * (m.data()[i][k] / scale - cell[k]);
        const double rms = cells.rms(ix, iy);
        for (int k = 0; k < ndata; k++) cell[k] /= rms;
      }
  }
}

// The map trained from the seeds, by rows or by columns, equals the
// reference trained from the same initial map (niter 0) in one of the
// orders the elements can take.
TEST(Somcluster, TrainingIsKohonensFromTheInitialMap) {
  Matrix m = Random(3, 4, 8, 0.25);
  Matrix columns = m.transposed();
  const std::vector<double> w(4, 1.0);
  for (const int transpose : {0, 1})
    for (const int niter : {1, 2, 7}) {
      Matrix& d = transpose ? columns : m;
      Cells initial(3, 2, 4), trained(3, 2, 4);
      for (const auto& [cells, steps] : {std::pair(&initial, 0), std::pair(&trained, niter)}) {
        lopper::setrandomseed(31, 32);
        lopper::somcluster(d.nrows(), d.ncolumns(), d.data(), d.mask(), w.data(), transpose, 3, 2,
                           0.5, steps, 'e', cells->data(), nullptr);
      }
      std::vector<int> order{0, 1, 2};
      double closest = HUGE_VAL;
      do {
        Cells reference(3, 2, 4);
        reference.set_values(initial.values());
        Train(m, order, 0.5, niter, reference, 3, 2);
        double largest = 0;
        for (std::size_t k = 0; k < reference.values().size(); k++)
          largest = std::max(largest, std::fabs(reference.values()[k] - trained.values()[k]));
        closest = std::min(closest, largest);
      } while (std::next_permutation(order.begin(), order.end()));
      EXPECT_LT(closest, 1e-12) << "niter " << niter << ", transpose " << transpose
                                << ", seeds 31 32, data seed 8";
    }
}

// Elements without values only renormalise the cells: the map stays as
// initialised, as with niter = 0.
TEST(Somcluster, ElementsWithoutValuesLeaveTheMap) {
  Matrix empty(std::vector<std::vector<double>>(6, {1, 2, 3}),
               std::vector<std::vector<int>>(6, {0, 0, 0}));
  lopper::setrandomseed(4, 4);
  Cells trained(2, 2, 3);
  Som(empty, 0, 2, 2, 50, &trained);
  lopper::setrandomseed(4, 4);
  Cells initial(2, 2, 3);
  Som(empty, 0, 2, 2, 0, &initial);
  for (std::size_t k = 0; k < trained.values().size(); k++)
    EXPECT_NEAR(trained.values()[k], initial.values()[k], 1e-14);
}

// Without celldata and clusterid only the generator moves, exactly as far
// as a run that keeps its map.
TEST(Somcluster, NothingToReturnOnlyAdvancesTheGenerator) {
  Matrix m = Random(8, 2, 6);
  int a1, a2, b1, b2;
  lopper::setrandomseed(21, 22);
  Som(m, 0, 2, 2, 30, nullptr, false);
  lopper::getrandomseed(&a1, &a2);
  lopper::setrandomseed(21, 22);
  Cells cells(2, 2, 2);
  Som(m, 0, 2, 2, 30, &cells, false);
  lopper::getrandomseed(&b1, &b2);
  EXPECT_EQ(a1, b1);
  EXPECT_EQ(a2, b2);
  EXPECT_NE(a1, 21);
}

TEST(Somcluster, BadArgumentsAndMemoryShortageGiveMinusOnesAndKeepTheCells) {
  Matrix m = Random(8, 2, 7);
  Matrix one = Random(1, 2, 7);
  struct Case {
    Matrix* data;
    int nx, ny, niter;
  } const cases[] = {{&one, 2, 2, 10}, {&m, 0, 2, 10}, {&m, 2, 0, 10}, {&m, 2, 2, -1}};
  for (const auto& c : cases) {
    lopper::setrandomseed(50, 60);
    Cells cells(2, 2, 2);
    const auto ids = Som(*c.data, 0, c.nx, c.ny, c.niter, &cells);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), -1), static_cast<long>(ids.size()));
    EXPECT_EQ(cells.values(), std::vector<double>(8, -8.0));
    int s1, s2;
    lopper::getrandomseed(&s1, &s2);
    EXPECT_EQ(s1, 50);
  }
  for (const int transpose : {0, 1}) {
    Matrix& data = m;
    Matrix columns = data.transposed();
    int failures = 0;
    for (long k = 1;; k++) {
      Cells cells(2, 2, 2);
      std::vector<int> ids(16, -4);
      const std::vector<double> w(2, 1.0);
      Matrix& d = transpose ? columns : data;
      lopper_test::FailNthNew(k);
      lopper::somcluster(d.nrows(), d.ncolumns(), d.data(), d.mask(), w.data(), transpose, 2, 2,
                         0.02, 10, 'e', cells.data(), reinterpret_cast<int(*)[2]>(ids.data()));
      const bool fired = lopper_test::PendingNewFailure() == 0;
      lopper_test::FailNthNew(0);
      if (!fired) break;
      failures++;
      EXPECT_EQ(ids, std::vector<int>(16, -1));
      EXPECT_EQ(cells.values(), std::vector<double>(8, -8.0));
    }
    EXPECT_GE(failures, 3);
  }
}

// At the first step the radius spans the whole grid, so with a learning
// rate of 1 every cell becomes the presented profile; the grid's diagonal
// once overflowed int on a long side and left far cells untrained.
TEST(Somcluster, LongGridIsTrainedEverywhere) {
  Matrix m({{1, 2}, {1, 2}});
  const std::vector<double> w(2, 1.0);
  const int nx = 100000;
  Cells cells(nx, 1, 2);
  lopper::setrandomseed(3, 4);
  lopper::somcluster(2, 2, m.data(), m.mask(), w.data(), 0, nx, 1, 1.0, 1, 'e', cells.data(),
                     nullptr);
  const double* first = cells.data()[0][0];
  int differing = 0;
  for (int ix = 0; ix < nx; ix++)
    differing += std::fabs(cells.data()[ix][0][0] - first[0]) > 1e-12 ||
                 std::fabs(cells.data()[ix][0][1] - first[1]) > 1e-12;
  EXPECT_EQ(differing, 0);
}

}  // namespace
