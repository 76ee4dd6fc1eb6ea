// Google Benchmark cases for treecluster: each method on N elements of 20
// values, squared Euclidean distances from a matrix built once; each run
// clusters a fresh copy of it.
//   lopper_bench_treecluster [benchmark flags]
#include <benchmark/benchmark.h>
#include <lopper/cluster.h>

#include <cstdlib>
#include <vector>

#include "profiles.h"

namespace {

using lopper_bench::Profiles;

// Rows 1 ... n-1 of the lower triangle, flattened: row i at offset i(i-1)/2.
std::vector<double> Distances(Profiles& p) {
  double** m = p.Matrix();
  std::vector<double> flat;
  for (int i = 1; i < p.n(); i++) flat.insert(flat.end(), m[i], m[i] + i);
  lopper_bench::FreeMatrix(m, p.n());
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
    lopper::Node* tree =
        lopper::treecluster(n, lopper_bench::kValues, p.rows.data(), p.masks.data(),
                            p.weight.data(), 0, 'e', method, rows.data());
    benchmark::DoNotOptimize(tree);
    std::free(tree);
  }
}

}  // namespace

BENCHMARK_CAPTURE(Treecluster, single, 's')
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Treecluster, maximum, 'm')
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Treecluster, average, 'a')
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Treecluster, centroid, 'c')
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
