// Writes a Nexus tree file over n elements for benchmarks and large tests:
//   lopper_make_tree N SEED balanced|chain|random FILE
// "random" joins two random subtrees at a time, "chain" adds one element at
// a time (depth n-1); elements are shuffled and named element_1 ... element_N.
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "NexusTree.h"
#include "tree_gen.h"

int main(int argc, char** argv) {
  using lopper_test::Shape;
  const std::string shape = argc == 5 ? argv[3] : "";
  const int n = argc == 5 ? std::atoi(argv[1]) : 0;
  if (n < 2 || (shape != "balanced" && shape != "chain" && shape != "random")) {
    std::cerr << "usage: lopper_make_tree N SEED balanced|chain|random FILE  (N >= 2)\n";
    return 2;
  }
  std::mt19937 rng(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
  const auto tree = lopper_test::MakeTree(n,
                                          shape == "chain"    ? Shape::kChain
                                          : shape == "random" ? Shape::kRandom
                                                              : Shape::kBalanced,
                                          rng);
  std::vector<std::string> names;
  for (int e = 1; e <= n; e++) names.push_back("element_" + std::to_string(e));
  if (!lopper::NexusTreeOut(n, tree.data(), argv[4], names)) {
    std::cerr << "lopper_make_tree: cannot write " << argv[4] << "\n";
    return 1;
  }
  return 0;
}
