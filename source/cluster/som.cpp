// Self-organising maps (Kohonen): training a rectangular grid of cell
// vectors and assigning every element to its best-matching cell.
#include <cmath>
#include <optional>
#include <vector>

#include "cluster_internal.h"

namespace lopper {
namespace detail {
namespace {

// Storage for a map the caller does not keep: nxgrid x nygrid cells of
// ndata values, addressed as a caller's celldata is.
struct OwnCells {
  OwnCells(int nxgrid, int nygrid, int ndata)
      : values(static_cast<std::size_t>(nxgrid) * nygrid * ndata),
        rows(static_cast<std::size_t>(nxgrid) * nygrid),
        grid(nxgrid) {
    for (std::size_t c = 0; c < rows.size(); c++) rows[c] = &values[c * ndata];
    for (int ix = 0; ix < nxgrid; ix++) grid[ix] = &rows[static_cast<std::size_t>(ix) * nygrid];
  }
  std::vector<double> values;
  std::vector<double*> rows;
  std::vector<double**> grid;
};

// All storage of one somcluster call, obtained before anything is written.
struct SomScratch {
  SomScratch(int nelements, int ndata, int nxgrid, int nygrid, int transpose, bool own_cells)
      : stddata(nelements),
        index(nelements),
        ones(static_cast<std::size_t>(transpose ? ndata : nygrid) * (transpose ? 1 : ndata), 1) {
    if (transpose) column_cell.emplace(ndata);
    if (own_cells) cells.emplace(nxgrid, nygrid, ndata);
    const int rows = transpose ? ndata : nygrid;
    const int width = transpose ? 1 : ndata;
    for (int r = 0; r < rows; r++) dummymask.push_back(&ones[static_cast<std::size_t>(r) * width]);
  }
  std::vector<double> stddata;
  std::vector<int> index;
  std::vector<int> ones;
  std::vector<int*> dummymask;
  std::optional<std::vector<double*>> column_cell;  // column mode: one cell as a column
  std::optional<OwnCells> cells;                    // when the caller gave no celldata
};

struct Som {
  int nrows, ncolumns;
  const double* const* data;
  const int* const* mask;
  const double* weights;
  int transpose, nxgrid, nygrid;
  double*** celldata;
  Measure& measure;
  SomScratch& scratch;

  int nelements() const { return transpose ? ncolumns : nrows; }
  int ndata() const { return transpose ? nrows : ncolumns; }

  // The distance of element i to cell (ix, iy), data first.
  double distance(int i, int ix, int iy) {
    if (!transpose)
      return measure(data, celldata[ix], mask, scratch.dummymask.data(), weights, i, iy, 0);
    std::vector<double*>& column = *scratch.column_cell;
    for (int k = 0; k < ndata(); k++) column[k] = &celldata[ix][iy][k];
    return measure(data, column.data(), mask, scratch.dummymask.data(), weights, i, 0, transpose);
  }

  // The first cell, in grid order, strictly closer than the starting one.
  void best(int i, int& ixbest, int& iybest) {
    double closest = distance(i, ixbest, iybest);
    for (int ix = 0; ix < nxgrid; ix++)
      for (int iy = 0; iy < nygrid; iy++) {
        const double d = distance(i, ix, iy);
        if (d < closest) {
          closest = d;
          ixbest = ix;
          iybest = iy;
        }
      }
  }

  // Scales a cell to a root mean square of 1 (when it is not all zero).
  void normalise(double* cell) const {
    double sum = 0.0;
    for (int k = 0; k < ndata(); k++) sum += cell[k] * cell[k];
    if (sum <= 0) return;
    const double factor = 1.0 / std::sqrt(sum / ndata());
    for (int k = 0; k < ndata(); k++) cell[k] *= factor;
  }
};

// Each element's root mean square over its present values (1 when it has
// none or they are all zero), by which training divides it.
void ElementScales(Som& som) {
  const bool t = som.transpose != 0;
  for (int i = 0; i < som.nelements(); i++) {
    double sum = 0.0;
    int n = 0;
    for (int k = 0; k < som.ndata(); k++) {
      if (!(t ? som.mask[k][i] : som.mask[i][k])) continue;
      const double x = t ? som.data[k][i] : som.data[i][k];
      sum += x * x;
      n++;
    }
    som.scratch.stddata[i] = sum > 0 ? std::sqrt(sum / n) : 1.0;
  }
}

// Every cell uniform in [-1, 1) per dimension, then scaled to a root mean
// square of 1, in grid order.
void RandomCells(Som& som) {
  const int ndata = som.ndata();
  for (int ix = 0; ix < som.nxgrid; ix++)
    for (int iy = 0; iy < som.nygrid; iy++) {
      double* cell = som.celldata[ix][iy];
      double sum = 0.0;
      for (int k = 0; k < ndata; k++) {
        cell[k] = 2 * uniform() - 1;
        sum += cell[k] * cell[k];
      }
      const double factor = 1.0 / std::sqrt(sum / ndata);
      for (int k = 0; k < ndata; k++) cell[k] *= factor;
    }
}

// The order in which elements are presented: a random permutation.
void ShuffleElements(Som& som) {
  std::vector<int>& index = som.scratch.index;
  const int nelements = som.nelements();
  for (int i = 0; i < nelements; i++) index[i] = i;
  for (int i = 0; i < nelements; i++) {
    const int j = static_cast<int>(i + (nelements - i) * uniform());
    std::swap(index[i], index[j]);
  }
}

// Moves every cell within radius of the element's best cell a fraction tau
// towards the element's scaled present values, then rescales it.
void PullNeighbourhood(Som& som, int iobject, double tau, double radius) {
  const bool t = som.transpose != 0;
  int ixbest = 0, iybest = 0;
  som.best(iobject, ixbest, iybest);
  const double stddata = som.scratch.stddata[iobject];
  for (int ix = 0; ix < som.nxgrid; ix++)
    for (int iy = 0; iy < som.nygrid; iy++) {
      const double dx = ix - ixbest, dy = iy - iybest;
      if (std::sqrt(dx * dx + dy * dy) >= radius) continue;
      double* cell = som.celldata[ix][iy];
      for (int k = 0; k < som.ndata(); k++) {
        if (!(t ? som.mask[k][iobject] : som.mask[iobject][k])) continue;
        const double value = t ? som.data[k][iobject] : som.data[iobject][k];
        cell[k] += tau * (value / stddata - cell[k]);
      }
      som.normalise(cell);
    }
}

// Kohonen's training: random cells, then niter presentations in one
// shuffled cyclic order, rate and radius falling linearly to zero.
void Train(Som& som, double inittau, int niter) {
  ElementScales(som);
  RandomCells(som);
  ShuffleElements(som);
  // In double: the squares of a long grid side overflow int.
  const double nx = som.nxgrid, ny = som.nygrid;
  const double maxradius = std::sqrt(nx * nx + ny * ny);
  for (int iter = 0; iter < niter; iter++) {
    const double left = 1.0 - static_cast<double>(iter) / niter;
    PullNeighbourhood(som, som.scratch.index[iter % som.nelements()], inittau * left,
                      maxradius * left);
  }
}

// Row mode starts every element at cell (0, 0); column mode at the cell of
// the element before, which so wins exact ties.
void somassign(Som& som, int clusterid[][2]) {
  int ixbest = 0, iybest = 0;
  for (int i = 0; i < som.nelements(); i++) {
    if (!som.transpose) ixbest = iybest = 0;
    som.best(i, ixbest, iybest);
    clusterid[i][0] = ixbest;
    clusterid[i][1] = iybest;
  }
}

}  // namespace
}  // namespace detail

void somcluster(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                const double weight[], int transpose, int nxgrid, int nygrid, double inittau,
                int niter, char dist, double*** celldata, int clusterid[][2]) {
  const int nobjects = transpose ? ncolumns : nrows;
  const int ndata = transpose ? nrows : ncolumns;
  const auto fail = [&] {
    for (int i = 0; clusterid && i < nobjects; i++) clusterid[i][0] = clusterid[i][1] = -1;
  };
  if (nrows < 0 || ncolumns < 0 || nobjects < 2 || nxgrid < 1 || nygrid < 1 || niter < 0 ||
      (ndata > 0 && (!data || !mask || !weight)))
    return fail();
  const detail::Status status = detail::guarded([&] {
    detail::SomScratch scratch(nobjects, ndata, nxgrid, nygrid, transpose, celldata == nullptr);
    detail::Measure measure(dist, ndata);
    detail::Som som{nrows,   ncolumns, data,
                    mask,    weight,   transpose,
                    nxgrid,  nygrid,   celldata ? celldata : scratch.cells->grid.data(),
                    measure, scratch};
    detail::Train(som, inittau, niter);
    if (clusterid) detail::somassign(som, clusterid);
    return detail::Status::kOk;
  });
  // Everything is obtained before the map is written.
  if (status != detail::Status::kOk) fail();
}

}  // namespace lopper
