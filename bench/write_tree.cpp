// Times NexusTreeOut on a chain and a balanced tree of N elements (default
// 1,000,000), best of three runs each, and prints the ratio chain/balanced.
//   lopper_bench_writer [N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "NexusTree.h"
#include "tree_gen.h"

namespace {

double BestSeconds(const lopper_test::Tree& tree, const std::vector<std::string>& names,
                   const std::string& path) {
  double best = 1e300;
  for (int run = 0; run < 3; run++) {
    const auto start = std::chrono::steady_clock::now();
    if (!lopper::NexusTreeOut(static_cast<int>(names.size()), tree.data(), path, names)) {
      std::cerr << "lopper_bench_writer: cannot write " << path << "\n";
      std::exit(1);
    }
    best = std::min(
        best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::remove(path.c_str());
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  using lopper_test::Shape;
  const int n = argc > 1 ? std::atoi(argv[1]) : 1000000;
  std::mt19937 rng(1);
  std::vector<std::string> names;
  for (int e = 1; e <= n; e++) names.push_back("element_" + std::to_string(e));
  const std::string path = "lopper_bench_writer.tre";
  const double chain = BestSeconds(lopper_test::MakeTree(n, Shape::kChain, rng), names, path);
  const double balanced = BestSeconds(lopper_test::MakeTree(n, Shape::kBalanced, rng), names, path);
  std::printf("NexusTreeOut, %d elements: chain %.3f s, balanced %.3f s, chain/balanced %.2f\n", n,
              chain, balanced, chain / balanced);
  return 0;
}
