// The benchmarks' data set: n profiles of 20 normal values (seed 1), none
// missing, unit weights, and its squared Euclidean distance matrix.
#ifndef LOPPER_BENCH_PROFILES_H
#define LOPPER_BENCH_PROFILES_H

#include <lopper/cluster.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace lopper_bench {

constexpr int kValues = 20;

struct Profiles {
  explicit Profiles(int n)
      : values(n, std::vector<double>(kValues)), present(n, std::vector<int>(kValues, 1)) {
    std::mt19937 rng(1);
    std::normal_distribution<double> normal;
    for (auto& row : values)
      for (double& v : row) v = normal(rng);
    for (int i = 0; i < n; i++) {
      rows.push_back(values[i].data());
      masks.push_back(present[i].data());
    }
  }
  int n() const { return static_cast<int>(rows.size()); }
  // The library's lower-triangular matrix; release with FreeMatrix.
  double** Matrix(char dist = 'e') {
    return lopper::distancematrix(n(), kValues, rows.data(), masks.data(), weight.data(), dist, 0);
  }

  std::vector<std::vector<double>> values;
  std::vector<std::vector<int>> present;
  std::vector<double*> rows;
  std::vector<int*> masks;
  std::vector<double> weight = std::vector<double>(kValues, 1.0);
};

inline void FreeMatrix(double** m, int n) {
  for (int i = 1; i < n; i++) std::free(m[i]);
  std::free(m);
}

}  // namespace lopper_bench

#endif
