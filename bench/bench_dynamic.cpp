// Timing of cuttree_hybrid on a table and its tree written by R
// (bench/compare_dynamic.sh):
//   lopper_bench_dynamic DATA TREE LABELS DEEPSPLIT MINSIZE PAMSTAGE
// DATA: one element a line of integer values; TREE: R's merge matrix and
// heights, one merge a line; LABELS: R's cutreeDynamic labels, one line.
// The Euclidean distances are computed once, as R's dist() computes them
// (exact on integers), then the cut alone is timed, best of three. Prints
// the seconds, the number of clusters and whether the labels are R's.
#include <lopper/cluster.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::vector<double>> ReadRows(const char* path) {
  std::ifstream in(path);
  std::vector<std::vector<double>> rows;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::vector<double> row;
    for (double v; words >> v;) row.push_back(v);
    if (!row.empty()) rows.push_back(row);
  }
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: %s DATA TREE LABELS DEEPSPLIT MINSIZE PAMSTAGE\n", argv[0]);
    return 2;
  }
  const auto data = ReadRows(argv[1]);
  const int n = static_cast<int>(data.size());
  std::vector<lopper::Node> tree(static_cast<std::size_t>(n - 1));
  std::ifstream treefile(argv[2]);
  for (auto& node : tree) {
    int a, b;
    treefile >> a >> b >> node.distance;
    node.left = a < 0 ? -a - 1 : -a;
    node.right = b < 0 ? -b - 1 : -b;
  }
  std::vector<int> expected(static_cast<std::size_t>(n));
  std::ifstream labelfile(argv[3]);
  for (int& label : expected) labelfile >> label;
  if (!treefile || !labelfile || n < 2) {
    std::fprintf(stderr, "cannot read the tree or the labels\n");
    return 1;
  }
  std::vector<std::vector<double>> rows(static_cast<std::size_t>(n));
  std::vector<const double*> d(static_cast<std::size_t>(n));
  for (int i = 1; i < n; i++) {
    rows[i].resize(static_cast<std::size_t>(i));
    for (int j = 0; j < i; j++) {
      double sum = 0;
      for (std::size_t c = 0; c < data[i].size(); c++)
        sum += (data[i][c] - data[j][c]) * (data[i][c] - data[j][c]);
      rows[i][j] = std::sqrt(sum);
    }
    d[i] = rows[i].data();
  }
  const int deepsplit = std::atoi(argv[4]), minsize = std::atoi(argv[5]),
            pamstage = std::atoi(argv[6]);
  std::vector<int> ids(static_cast<std::size_t>(n));
  double best = 1e300;
  int nclusters = -1;
  for (int run = 0; run < 3; run++) {
    const auto start = std::chrono::steady_clock::now();
    nclusters = lopper::cuttree_hybrid(n, tree.data(), d.data(), std::nan(""), deepsplit, minsize,
                                       pamstage, ids.data());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  int same = 0;
  for (int i = 0; i < n; i++) same += ids[i] + 1 == expected[i];
  std::printf("%.6f %d %s\n", best, nclusters, same == n ? "same-as-R" : "DIFFERENT-FROM-R");
  return same == n ? 0 : 1;
}
