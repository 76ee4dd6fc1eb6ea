// Writes a Nexus tree file over n elements for benchmarks and large tests:
//   lopper_make_tree N SEED random|chain FILE
// "random" merges two random subtrees at a time (depth about log n),
// "chain" adds one leaf at a time (depth n-1). Leaf numbers are shuffled.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace {

struct Record {
  int left, right;  // >= 0 element, < 0 record -(k+1)
};

std::vector<Record> MakeTree(int n, std::mt19937_64& rng, bool chain) {
  std::vector<int> pool(n);
  for (int i = 0; i < n; i++) pool[i] = i;
  std::shuffle(pool.begin(), pool.end(), rng);
  std::vector<Record> records;
  records.reserve(n - 1);
  if (chain) {
    int top = pool[0];
    for (int i = 1; i < n; i++) {
      records.push_back({top, pool[i]});
      top = -static_cast<int>(records.size());
    }
    return records;
  }
  while (pool.size() > 1) {
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
    const std::size_t a = pick(rng);
    std::swap(pool[a], pool.back());
    const int left = pool.back();
    pool.pop_back();
    std::uniform_int_distribution<std::size_t> pick2(0, pool.size() - 1);
    const std::size_t b = pick2(rng);
    records.push_back({left, pool[b]});
    pool[b] = -static_cast<int>(records.size());
  }
  return records;
}

// Children-first records to text without recursion; lengths grow with the
// merge index so that later merges are higher.
std::string TreeText(const std::vector<Record>& records) {
  const int n = static_cast<int>(records.size()) + 1;
  std::string text;
  char length[32];
  // Each frame: record, how many of its children were written.
  std::vector<std::pair<int, int>> stack{{n - 2, 0}};
  while (!stack.empty()) {
    auto& [r, done] = stack.back();
    std::snprintf(length, sizeof length, ":%.3f", 100.0 * (r + 1) / n);
    if (done == 2) {
      text += ')';
      stack.pop_back();
      if (!stack.empty()) {
        std::snprintf(length, sizeof length, ":%.3f", 100.0 * (stack.back().first + 1) / n);
        text += length;
      }
      continue;
    }
    text += done == 0 ? '(' : ',';
    const int child = done == 0 ? records[r].left : records[r].right;
    done++;
    if (child >= 0) {
      text += std::to_string(child + 1);
      text += length;
    } else {
      stack.push_back({-child - 1, 0});
    }
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: lopper_make_tree N SEED random|chain FILE\n";
    return 2;
  }
  const int n = std::atoi(argv[1]);
  const std::string shape = argv[3];
  if (n < 2 || (shape != "random" && shape != "chain")) {
    std::cerr << "lopper_make_tree: need N >= 2 and a shape of random or chain\n";
    return 2;
  }
  std::mt19937_64 rng(std::strtoull(argv[2], nullptr, 10));
  const std::vector<Record> records = MakeTree(n, rng, shape == "chain");
  std::ofstream out(argv[4]);
  out << "#NEXUS\nBEGIN TREES;\n[!]\n\t TRANSLATE\n";
  for (int e = 0; e < n; e++)
    out << "\t \t " << e + 1 << "\telement_" << e + 1 << (e + 1 < n ? ",\n" : "\n");
  out << "\t \t ;\n\t TREE " << argv[4] << " = " << TreeText(records) << ";\nENDBLOCK;\n";
  out.close();
  if (!out) {
    std::cerr << "lopper_make_tree: cannot write " << argv[4] << "\n";
    return 1;
  }
  return 0;
}
