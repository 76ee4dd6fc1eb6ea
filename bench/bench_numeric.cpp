// Timings of svd, somcluster and treecluster:
//   lopper_bench_numeric svd FILE M N   svd of the M x N matrix in FILE (raw
//                                       doubles, row-major)
//   lopper_bench_numeric som            somcluster on 10,000 x 50 normal data,
//                                       10 x 10 grid, 100,000 iterations
//   (svd and som: best of three runs, prints seconds)
//   lopper_bench_numeric dump N FILE    the benchmark data set's condensed
//                                       distance matrix (as SciPy takes it)
//   lopper_bench_numeric linkage N M    treecluster method M on that set's
//                                       matrix, built once and clustered in
//                                       place ("s-data": single linkage
//                                       from the data, no matrix); prints
//                                       seconds, peak KB and matrix KB
#include <lopper/cluster.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "profiles.h"

namespace {

template <class F>
double BestSeconds(F run) {
  double best = 1e300;
  for (int k = 0; k < 3; k++) {
    const auto start = std::chrono::steady_clock::now();
    run();
    best = std::min(
        best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
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
    lopper::somcluster(n, ndata, rows.data(), masks.data(), weight.data(), 0, 10, 10, 0.02, 100000,
                       'e', nullptr, reinterpret_cast<int(*)[2]>(ids.data()));
  });
  std::printf("%.4f\n", seconds);
  return 0;
}

long PeakKb() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int Dump(int n, const char* path) {
  lopper_bench::Profiles p(n);
  double** m = p.Matrix();
  FILE* f = std::fopen(path, "wb");
  bool ok = f != nullptr;
  // SciPy's condensed form lists the pairs i < j row by row: entry (j, i).
  std::vector<double> row;
  for (int i = 0; ok && i < n; i++) {
    row.clear();
    for (int j = i + 1; j < n; j++) row.push_back(m[j][i]);
    ok = std::fwrite(row.data(), sizeof(double), row.size(), f) == row.size();
  }
  lopper_bench::FreeMatrix(m, n);
  return f && std::fclose(f) == 0 && ok ? 0 : 1;
}

int Linkage(int n, const std::string& method) {
  lopper_bench::Profiles p(n);
  const bool from_data = method == "s-data";
  double** m = from_data ? nullptr : p.Matrix();
  const auto start = std::chrono::steady_clock::now();
  lopper::Node* tree = lopper::treecluster(n, lopper_bench::kValues, p.rows.data(), p.masks.data(),
                                           p.weight.data(), 0, 'e', method[0], m);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!tree) return 1;
  std::free(tree);
  if (m) lopper_bench::FreeMatrix(m, n);
  const long matrix_kb =
      from_data ? 0 : static_cast<long>(static_cast<double>(n) * (n - 1) / 2 * 8 / 1024);
  std::printf("%.4f %ld %ld\n", seconds, PeakKb(), matrix_kb);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "dump") == 0) return Dump(std::atoi(argv[2]), argv[3]);
  if (argc == 4 && std::strcmp(argv[1], "linkage") == 0)
    return Linkage(std::atoi(argv[2]), argv[3]);
  if (argc == 5 && std::strcmp(argv[1], "svd") == 0)
    return Svd(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  if (argc == 2 && std::strcmp(argv[1], "som") == 0) return Som();
  std::fprintf(stderr,
               "usage: lopper_bench_numeric svd FILE M N | som | dump N FILE | linkage N METHOD\n");
  return 2;
}
