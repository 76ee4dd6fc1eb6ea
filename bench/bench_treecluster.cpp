// Google Benchmark cases for treecluster: each method on N elements of 20
// values, squared Euclidean distances from a matrix built once; each run
// clusters a fresh copy of it.
//   lopper_bench_treecluster [benchmark flags]
//   lopper_bench_treecluster --dump N FILE   writes the condensed upper-
//       triangle matrix (row-major, as SciPy takes it) as raw doubles
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <lopper/cluster.h>

namespace {

constexpr int kValues = 20;

// N profiles of 20 normal values (seed 1), none missing, unit weights.
struct Profiles {
  explicit Profiles(int n) : values(n, std::vector<double>(kValues)), present(n, std::vector<int>(kValues, 1)) {
    std::mt19937 rng(1);
    std::normal_distribution<double> normal;
    for (auto& row : values)
      for (double& v : row) v = normal(rng);
    for (int i = 0; i < n; i++) {
      rows.push_back(values[i].data());
      masks.push_back(present[i].data());
    }
  }
  std::vector<std::vector<double>> values;
  std::vector<std::vector<int>> present;
  std::vector<double*> rows;
  std::vector<int*> masks;
  std::vector<double> weight = std::vector<double>(kValues, 1.0);
};

// Rows 1 ... n-1 of the lower triangle, flattened: row i at offset i(i-1)/2.
std::vector<double> Distances(Profiles& p) {
  const int n = static_cast<int>(p.rows.size());
  double** m = lopper::distancematrix(n, kValues, p.rows.data(), p.masks.data(), p.weight.data(), 'e', 0);
  std::vector<double> flat;
  for (int i = 1; i < n; i++) {
    flat.insert(flat.end(), m[i], m[i] + i);
    std::free(m[i]);
  }
  std::free(m);
  return flat;
}

// Centroid linkage also reads the data, to recompute merged distances.
void Treecluster(benchmark::State& state, char method) {
  const int n = static_cast<int>(state.range(0));
  Profiles p(n);
  const std::vector<double> flat = Distances(p);
  std::vector<double> work(flat.size());
  std::vector<double*> rows(n, nullptr);
  for (int i = 1; i < n; i++) rows[i] = work.data() + static_cast<std::size_t>(i) * (i - 1) / 2;
  for (auto _ : state) {
    state.PauseTiming();
    work = flat;
    state.ResumeTiming();
    lopper::Node* tree = lopper::treecluster(n, kValues, p.rows.data(), p.masks.data(), p.weight.data(), 0,
                                             'e', method, rows.data());
    benchmark::DoNotOptimize(tree);
    std::free(tree);
  }
}

int Dump(int n, const char* path) {
  Profiles p(n);
  const std::vector<double> lower = Distances(p);
  // SciPy's condensed form lists (i, j) for i < j row by row: entry of
  // lower row j, column i.
  std::vector<double> condensed;
  for (int i = 0; i < n; i++)
    for (int j = i + 1; j < n; j++) condensed.push_back(lower[static_cast<std::size_t>(j) * (j - 1) / 2 + i]);
  FILE* f = std::fopen(path, "wb");
  if (!f) return 1;
  const bool ok = std::fwrite(condensed.data(), sizeof(double), condensed.size(), f) == condensed.size();
  return std::fclose(f) == 0 && ok ? 0 : 1;
}

}  // namespace

BENCHMARK_CAPTURE(Treecluster, single, 's')->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Treecluster, maximum, 'm')->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Treecluster, average, 'a')->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Treecluster, centroid, 'c')->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--dump") == 0) return Dump(std::atoi(argv[2]), argv[3]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
