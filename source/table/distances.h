// A table read as a matrix of distances between its elements.
#ifndef LOPPER_TABLE_DISTANCES_H
#define LOPPER_TABLE_DISTANCES_H

#include <cstddef>
#include <vector>

#include "result.h"
#include "table.h"

namespace lopper {

// Distances between n elements in the clustering library's layout: row 0
// is null, row i (1 ... n-1) holds the i distances to elements 0 ... i-1.
// Move-only: the rows point into the object's own storage. Not the
// library's TriangularMatrix or TriangleBlock: those are private to the
// library and allocate through its failure-injecting allocator; this is the
// command layer's value on std::vector, copied by Copy() for the linkages
// that overwrite it.
class DistanceMatrix {
 public:
  explicit DistanceMatrix(std::size_t n);
  DistanceMatrix(DistanceMatrix&&) = default;
  DistanceMatrix& operator=(DistanceMatrix&&) = default;
  DistanceMatrix(const DistanceMatrix&) = delete;
  DistanceMatrix& operator=(const DistanceMatrix&) = delete;

  // Another matrix with the same distances, for a routine that overwrites
  // them while the originals are still wanted.
  DistanceMatrix Copy() const;

  std::size_t size() const { return rows_.size(); }
  // Distance between elements i and j, for j < i.
  double& at(std::size_t i, std::size_t j) { return rows_[i][j]; }
  // The rows as treecluster takes them (it may overwrite the distances).
  double** rows() { return rows_.data(); }

 private:
  std::vector<double> storage_;
  std::vector<double*> rows_;
};

// The distances of a table that is a square distance matrix: the header
// names the rows' elements in the same order, and every cell is present,
// non-negative, zero on the diagonal and exactly equal to its mirror cell
// (tools that write such matrices write both from one number). Fails with a
// message naming the first cell, in file order, that breaks this.
Result<DistanceMatrix> ToDistanceMatrix(const Table& table);

}  // namespace lopper

#endif  // LOPPER_TABLE_DISTANCES_H
