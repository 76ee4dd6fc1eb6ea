// Timings of svd and somcluster, best of three runs:
//   lopper_bench_numeric svd FILE M N   svd of the M x N matrix in FILE (raw
//                                       doubles, row-major)
//   lopper_bench_numeric som            somcluster on 10,000 x 50 normal data,
//                                       10 x 10 grid, 100,000 iterations
// Prints the seconds of the best run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <lopper/cluster.h>

namespace {

template <class F>
double BestSeconds(F run) {
  double best = 1e300;
  for (int k = 0; k < 3; k++) {
    const auto start = std::chrono::steady_clock::now();
    run();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

int Svd(const char* path, int m, int n) {
  std::vector<double> a(static_cast<std::size_t>(m) * n);
  FILE* f = std::fopen(path, "rb");
  if (!f || std::fread(a.data(), sizeof(double), a.size(), f) != a.size()) {
    std::fprintf(stderr, "lopper_bench_numeric: cannot read %s\n", path);
    return 1;
  }
  std::fclose(f);
  std::vector<double> u(a.size()), v(static_cast<std::size_t>(n) * n), w(n);
  std::vector<double*> urows(m), vrows(n);
  for (int i = 0; i < m; i++) urows[i] = &u[static_cast<std::size_t>(i) * n];
  for (int i = 0; i < n; i++) vrows[i] = &v[static_cast<std::size_t>(i) * n];
  int ierr = 0;
  const double seconds = BestSeconds([&] {
    u = a;
    lopper::svd(m, n, urows.data(), w.data(), vrows.data(), &ierr);
  });
  if (ierr != 0) return 1;
  std::printf("%.4f\n", seconds);
  return 0;
}

int Som() {
  const int n = 10000, ndata = 50;
  std::mt19937 rng(1);
  std::normal_distribution<double> normal;
  std::vector<double> values(static_cast<std::size_t>(n) * ndata);
  for (double& x : values) x = normal(rng);
  std::vector<int> present(values.size(), 1);
  std::vector<double*> rows(n);
  std::vector<int*> masks(n);
  for (int i = 0; i < n; i++) {
    rows[i] = &values[static_cast<std::size_t>(i) * ndata];
    masks[i] = &present[static_cast<std::size_t>(i) * ndata];
  }
  const std::vector<double> weight(ndata, 1.0);
  std::vector<int> ids(2 * n);
  lopper::setrandomseed(1, 2);
  const double seconds = BestSeconds([&] {
    lopper::somcluster(n, ndata, rows.data(), masks.data(), weight.data(), 0, 10, 10, 0.02, 100000, 'e', nullptr,
                       reinterpret_cast<int(*)[2]>(ids.data()));
  });
  std::printf("%.4f\n", seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "svd") == 0) return Svd(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  if (argc == 2 && std::strcmp(argv[1], "som") == 0) return Som();
  std::fprintf(stderr, "usage: lopper_bench_numeric svd FILE M N | som\n");
  return 2;
}
