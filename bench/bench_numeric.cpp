// Timings of svd, somcluster, treecluster and distancematrix:
//   lopper_bench_numeric svd FILE M N   svd of the M x N matrix in FILE (raw
//                                       doubles, row-major)
//   lopper_bench_numeric som            somcluster on 10,000 x 50 normal data,
//                                       10 x 10 grid, 100,000 iterations
//   (svd and som: best of three runs, prints seconds)
//   lopper_bench_numeric dump N FILE [D]
//                                       the benchmark data set's condensed
//                                       distance matrix by code D (default
//                                       'e'), as SciPy takes it
//   lopper_bench_numeric linkage N M [D]
//                                       treecluster method M on that set's
//                                       matrix by code D (default 'e'),
//                                       built once and clustered in place
//                                       ("s-data", "c-data": from the data,
//                                       no matrix given, the distances timed
//                                       with the merges; "w-vector": by
//                                       treeclusterdata); prints seconds,
//                                       peak KB and matrix KB
//   lopper_bench_numeric profiles N FILE
//                                       the benchmark set's N profiles into
//                                       FILE (raw doubles, row-major)
//   lopper_bench_numeric kmeans FILE N M K NPASS SEED [INIT]
//                                       kcluster k-means ('a', 'e') of the
//                                       N x M raw doubles in FILE into K
//                                       clusters, NPASS passes, seeds SEED
//                                       and SEED+1; INIT random (default:
//                                       kcluster's own passes) or kmeans++
//                                       (kclusterplusplus, as lopper-cluster
//                                       runs them by default);
//                                       prints the seconds of the calls and
//                                       the within-cluster sum of squared
//                                       differences
//   lopper_bench_numeric leaforder N DIR
//                                       Euclidean distances of the
//                                       benchmark set and their average-
//                                       linkage tree into DIR/y.bin
//                                       (condensed) and DIR/tree.bin (left,
//                                       right, height per record, as
//                                       doubles), then optimalleaforder on
//                                       that tree; prints its seconds and
//                                       the new order's sum of neighbour
//                                       distances
//   lopper_bench_numeric measures N CODES FILE
//                                       the benchmark set's N profiles into
//                                       FILE (raw doubles, row-major), then
//                                       distancematrix by each code of
//                                       CODES on them: best of three, one
//                                       line "code seconds" each
// LOPPER_THREADS=N in the environment sets the library's thread count.
#include <lopper/cluster.h>
#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "profiles.h"
#include "tree_gen.h"

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

int Dump(int n, const char* path, char dist) {
  lopper_bench::Profiles p(n);
  double** m = p.Matrix(dist);
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

int Linkage(int n, const std::string& method, char dist) {
  lopper_bench::Profiles p(n);
  const bool from_data = method.size() > 1;
  const bool vector = method.find("-vector") != std::string::npos;
  double** m = from_data ? nullptr : p.Matrix(dist);
  const auto start = std::chrono::steady_clock::now();
  lopper::Node* tree =
      vector ? lopper::treeclusterdata(n, lopper_bench::kValues, p.rows.data(), p.masks.data(),
                                       p.weight.data(), 0, dist, method[0])
             : lopper::treecluster(n, lopper_bench::kValues, p.rows.data(), p.masks.data(),
                                   p.weight.data(), 0, dist, method[0], m);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!tree) return 1;
  std::free(tree);
  if (m) lopper_bench::FreeMatrix(m, n);
  const long matrix_kb = method == "s-data" || vector
                             ? 0
                             : static_cast<long>(static_cast<double>(n) * (n - 1) / 2 * 8 / 1024);
  std::printf("%.4f %ld %ld\n", seconds, PeakKb(), matrix_kb);
  return 0;
}

bool ReadDoubles(const char* path, std::vector<double>& values) {
  FILE* f = std::fopen(path, "rb");
  const bool ok = f && std::fread(values.data(), sizeof(double), values.size(), f) == values.size();
  if (f) std::fclose(f);
  if (!ok) std::fprintf(stderr, "lopper_bench_numeric: cannot read %s\n", path);
  return ok;
}

bool WriteDoubles(const std::string& path, const std::vector<double>& values) {
  FILE* f = std::fopen(path.c_str(), "wb");
  bool ok = f && std::fwrite(values.data(), sizeof(double), values.size(), f) == values.size();
  if (f) ok = std::fclose(f) == 0 && ok;
  if (!ok) std::fprintf(stderr, "lopper_bench_numeric: cannot write %s\n", path.c_str());
  return ok;
}

int Kmeans(const char* path, int n, int m, int k, int npass, int seed, bool plusplus) {
  std::vector<double> values(static_cast<std::size_t>(n) * m);
  if (!ReadDoubles(path, values)) return 1;
  std::vector<int> present(values.size(), 1);
  std::vector<double*> rows(n);
  std::vector<int*> masks(n);
  for (int i = 0; i < n; i++) {
    rows[i] = &values[static_cast<std::size_t>(i) * m];
    masks[i] = &present[static_cast<std::size_t>(i) * m];
  }
  const std::vector<double> weight(m, 1.0);
  std::vector<int> ids(n);
  double error = 0;
  int ifound = 0;
  lopper::setrandomseed(seed, seed + 1);
  const auto start = std::chrono::steady_clock::now();
  const auto passes = plusplus ? lopper::kclusterplusplus : lopper::kcluster;
  passes(k, n, m, rows.data(), masks.data(), weight.data(), 0, npass, 'a', 'e', ids.data(), &error,
         &ifound);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (ifound < 1) return 1;
  // 'e' is the mean of the squared differences over the m columns.
  std::printf("%.4f %.10g\n", seconds, error * m);
  return 0;
}

int LeafOrder(int n, const std::string& dir) {
  lopper_bench::Profiles p(n);
  double** d = p.Matrix();
  if (!d) return 1;
  // The library's 'e' is the mean squared difference: Euclidean distance
  // is the root of kValues times it.
  for (int i = 1; i < n; i++)
    for (int j = 0; j < i; j++) d[i][j] = std::sqrt(lopper_bench::kValues * d[i][j]);
  // SciPy's condensed form lists the pairs i < j row by row.
  std::vector<double> condensed;
  condensed.reserve(static_cast<std::size_t>(n) * (n - 1) / 2);
  for (int i = 0; i < n; i++)
    for (int j = i + 1; j < n; j++) condensed.push_back(d[j][i]);
  // Average linkage works in a copy: treecluster overwrites its matrix.
  double** work = p.Matrix();
  if (!work) return 1;
  for (int i = 1; i < n; i++)
    for (int j = 0; j < i; j++) work[i][j] = d[i][j];
  lopper::Node* tree = lopper::treecluster(n, lopper_bench::kValues, p.rows.data(), p.masks.data(),
                                           p.weight.data(), 0, 'e', 'a', work);
  lopper_bench::FreeMatrix(work, n);
  if (!tree) return 1;
  std::vector<double> records;
  for (int r = 0; r < n - 1; r++) {
    records.push_back(tree[r].left);
    records.push_back(tree[r].right);
    records.push_back(tree[r].distance);
  }
  if (!WriteDoubles(dir + "/y.bin", condensed) || !WriteDoubles(dir + "/tree.bin", records))
    return 1;
  const auto start = std::chrono::steady_clock::now();
  const int ok = lopper::optimalleaforder(n, tree, d);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cost = lopper_test::NeighbourSum(lopper_test::LeafOrder(n, tree), d);
  std::free(tree);
  lopper_bench::FreeMatrix(d, n);
  if (!ok) return 1;
  std::printf("%.4f %.10g\n", seconds, cost);
  return 0;
}

bool WriteProfiles(const lopper_bench::Profiles& p, const char* path) {
  FILE* f = std::fopen(path, "wb");
  bool ok = f != nullptr;
  for (int i = 0; ok && i < p.n(); i++)
    ok = std::fwrite(p.rows[i], sizeof(double), lopper_bench::kValues, f) == lopper_bench::kValues;
  return f && std::fclose(f) == 0 && ok;
}

// Upper-case codes measure as their lower case with 10% of the cells
// missing (seed 2).
int Measures(int n, const std::string& codes, const char* path) {
  lopper_bench::Profiles p(n);
  bool ok = WriteProfiles(p, path);
  if (!ok) return 1;
  std::vector<std::vector<int>> gaps = p.present;
  std::vector<int*> gap_rows;
  std::mt19937 rng(2);
  for (auto& row : gaps) {
    for (int& present : row) present = std::uniform_real_distribution<>()(rng) >= 0.1;
    gap_rows.push_back(row.data());
  }
  for (const char code : codes) {
    const bool missing = std::isupper(static_cast<unsigned char>(code));
    int** masks = missing ? gap_rows.data() : p.masks.data();
    const double seconds = BestSeconds([&] {
      double** d = lopper::distancematrix(n, lopper_bench::kValues, p.rows.data(), masks,
                                          p.weight.data(), std::tolower(code), 0);
      ok = ok && d != nullptr;
      if (d) lopper_bench::FreeMatrix(d, n);
    });
    if (!ok) return 1;
    std::printf("%c %.4f\n", code, seconds);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* threads = std::getenv("LOPPER_THREADS")) lopper::setthreads(std::atoi(threads));
  // The distance code of dump and linkage, 'e' unless given.
  const char dist = (argc == 5 && argv[4][0]) ? argv[4][0] : 'e';
  if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "dump") == 0)
    return Dump(std::atoi(argv[2]), argv[3], dist);
  if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "linkage") == 0)
    return Linkage(std::atoi(argv[2]), argv[3], dist);
  if (argc == 4 && std::strcmp(argv[1], "profiles") == 0)
    return WriteProfiles(lopper_bench::Profiles(std::atoi(argv[2])), argv[3]) ? 0 : 1;
  if (argc == 5 && std::strcmp(argv[1], "svd") == 0)
    return Svd(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  if (argc == 2 && std::strcmp(argv[1], "som") == 0) return Som();
  const bool plusplus = argc == 9 && std::strcmp(argv[8], "kmeans++") == 0;
  if ((argc == 8 || plusplus || (argc == 9 && std::strcmp(argv[8], "random") == 0)) &&
      std::strcmp(argv[1], "kmeans") == 0)
    return Kmeans(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                  std::atoi(argv[6]), std::atoi(argv[7]), plusplus);
  if (argc == 4 && std::strcmp(argv[1], "leaforder") == 0)
    return LeafOrder(std::atoi(argv[2]), argv[3]);
  if (argc == 5 && std::strcmp(argv[1], "measures") == 0)
    return Measures(std::atoi(argv[2]), argv[3], argv[4]);
  std::fprintf(stderr,
               "usage: lopper_bench_numeric svd FILE M N | som | dump N FILE [D] |\n"
               "       linkage N METHOD [D] | profiles N FILE |\n"
               "       kmeans FILE N M K NPASS SEED [random|kmeans++] | leaforder N DIR |\n"
               "       measures N CODES FILE\n");
  return 2;
}
