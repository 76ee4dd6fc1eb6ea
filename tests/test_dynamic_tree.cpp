#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cluster.h"
#include "peers.h"
#include "test_util.h"

namespace {

using lopper::Node;

const double kDefault = std::nan("");

// R's merge entries: -k leaf k (1-based), +j the tree's row j.
int FromMerge(int entry) { return entry < 0 ? -entry - 1 : -entry; }
int ToMerge(int reference) { return reference >= 0 ? -(reference + 1) : -reference; }

// R's labels (0: no cluster) as cuttree_dynamic numbers them.
std::vector<int> FromRLabels(std::istream& in, int n) {
  std::vector<int> ids(static_cast<std::size_t>(n));
  for (int& id : ids) {
    in >> id;
    id--;
  }
  return ids;
}

std::vector<int> Cut(const std::vector<Node>& tree, double height, int deepsplit, int minsize,
                     int* nclusters) {
  std::vector<int> ids(tree.size() + 1, -99);
  *nclusters = lopper::cuttree_dynamic(static_cast<int>(ids.size()), tree.data(), height, deepsplit,
                                       minsize, ids.data());
  return ids;
}

// Every cut R gave in tests/data/dynamic_tree_cases.txt (written by
// make_dynamic_tree_cases.R): ALL's genes, quakes, faithful, planted groups.
TEST(DynamicTreeCut, MatchesRCases) {
  std::ifstream in(LOPPER_TEST_DATA "/dynamic_tree_cases.txt");
  ASSERT_TRUE(in) << "dynamic_tree_cases.txt missing";
  std::string line, word, name, height;
  std::vector<Node> tree;
  int ncases = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    fields >> word;
    if (word == "tree") {
      int n = 0;
      fields >> name >> n;
      tree.assign(static_cast<std::size_t>(n - 1), Node{});
      for (Node& node : tree) {
        int left = 0, right = 0;
        in >> left >> right >> node.distance;
        node.left = FromMerge(left);
        node.right = FromMerge(right);
      }
      std::getline(in, line);
    } else if (word == "cut") {
      int deepsplit = 0, minsize = 0, expected_count = 0, count = 0;
      fields >> deepsplit >> minsize >> height >> expected_count;
      const double h = height == "NULL" ? kDefault : std::stod(height);
      const std::vector<int> expected = FromRLabels(in, static_cast<int>(tree.size()) + 1);
      std::getline(in, line);
      EXPECT_EQ(Cut(tree, h, deepsplit, minsize, &count), expected)
          << name << " deepSplit " << deepsplit << " minsize " << minsize << " cut " << height;
      EXPECT_EQ(count, expected_count) << name;
      ncases++;
    }
  }
  EXPECT_EQ(ncases, 4 * 18);
}

// A random tree with runs of equal heights (ties, and nodes of more than
// two children), often chained onto the newest record as deep trees are.
std::vector<Node> RandomTree(int n, std::mt19937& rng) {
  std::vector<int> active(static_cast<std::size_t>(n));
  for (int i = 0; i < n; i++) active[i] = i;
  std::vector<Node> tree;
  double height = 0;
  for (int r = 0; r < n - 1; r++) {
    std::shuffle(active.begin(), active.end(), rng);
    if (r > 0 && rng() % 2) std::swap(*std::find(active.begin(), active.end(), -r), active[0]);
    const bool tie = rng() % 3 == 0;
    if (!tie) height += static_cast<double>(rng() % 6) / 2.0;
    tree.push_back({active[0], active[1], height});
    active.erase(active.begin(), active.begin() + 2);
    active.push_back(-(r + 1));
  }
  return tree;
}

// Random trees with ties cut by R itself (cases where R stops with an
// error, a branch of one element, are passed over).
TEST(DynamicTreeCut, AgreesWithRLive) {
  if (std::system("Rscript -e 'quit(status = !requireNamespace(\"dynamicTreeCut\", "
                  "quietly = TRUE))' >/dev/null 2>&1") != 0)
    return lopper_test::SkipWithoutPeer(
        "Rscript with dynamicTreeCut (r-cran-dynamictreecut) not installed");
  const unsigned seed = 20261211;
  std::printf("random trees from seed %u\n", seed);
  std::mt19937 rng(seed);
  struct Case {
    int tree, deepsplit, minsize;
    double height;
  };
  std::vector<std::vector<Node>> trees;
  std::vector<Case> cases;
  std::ostringstream input;
  input.precision(17);
  for (int t = 0; t < 60; t++) {
    trees.push_back(RandomTree(20 + static_cast<int>(rng() % 300), rng));
    input << "tree " << trees.back().size() + 1 << "\n";
    for (const Node& node : trees.back())
      input << ToMerge(node.left) << " " << ToMerge(node.right) << " " << node.distance << "\n";
    for (int c = 0; c < 6; c++) {
      const std::vector<Node>& tree = trees.back();
      // Heights are halves, which std::to_string writes exactly.
      const double height = c % 3 ? tree[rng() % tree.size()].distance : kDefault;
      cases.push_back({t, c % 2, 2 + static_cast<int>(rng() % 15), height});
      input << "cut " << cases.back().deepsplit << " " << cases.back().minsize << " "
            << (std::isnan(height) ? "NULL" : std::to_string(height)) << "\n";
    }
  }
  lopper_test::TempDir dir;
  lopper_test::WriteFile(dir / "trees.txt", input.str());
  const auto run = lopper_test::RunProgram(
      dir, "Rscript",
      {"-e",
       "suppressMessages(library(dynamicTreeCut))\n"
       "walk <- function(m) { o <- integer(0); s <- nrow(m)\n"
       "  while (length(s)) { r <- s[length(s)]; s <- s[-length(s)]\n"
       "    if (r < 0) o <- c(o, -r) else s <- c(s, m[r, 2], m[r, 1]) }\n  o }\n"
       "lines <- strsplit(readLines('trees.txt'), ' '); i <- 1\n"
       "while (i <= length(lines)) { f <- lines[[i]]\n"
       "  if (f[1] == 'tree') { n <- as.integer(f[2])\n"
       "    rows <- do.call(rbind, lapply(lines[i + 1:(n - 1)], as.numeric))\n"
       "    h <- structure(list(merge = matrix(as.integer(rows[, 1:2]), ncol = 2),\n"
       "      height = rows[, 3], order = walk(rows[, 1:2]), method = 'average'),\n"
       "      class = 'hclust'); i <- i + n\n"
       "  } else { at <- if (f[4] == 'NULL') NULL else as.numeric(f[4])\n"
       "    chat <- capture.output(l <- tryCatch(suppressWarnings(cutreeDynamic(h,\n"
       "      cutHeight = at, method = 'tree', minClusterSize = as.integer(f[3]),\n"
       "      deepSplit = f[2] == '1')), error = function(e) NULL))\n"
       "    cat(if (is.null(l)) 'error' else paste(l, collapse = ' '), '\\n'); i <- i + 1 } }\n"},
      dir / "labels.txt");
  ASSERT_EQ(run.status, 0) << run.err;
  std::ifstream labels(dir / "labels.txt");
  int compared = 0;
  for (const Case& c : cases) {
    std::string line;
    ASSERT_TRUE(std::getline(labels, line));
    if (line.rfind("error", 0) == 0) continue;
    std::istringstream in(line);
    const int n = static_cast<int>(trees[c.tree].size()) + 1;
    int count = 0;
    EXPECT_EQ(Cut(trees[c.tree], c.height, c.deepsplit, c.minsize, &count), FromRLabels(in, n))
        << "tree " << c.tree << " deepSplit " << c.deepsplit << " minsize " << c.minsize
        << " height " << c.height;
    compared++;
  }
  std::printf("%d of %zu cuts compared (the rest: R stopped)\n", compared, cases.size());
  EXPECT_GT(compared, static_cast<int>(cases.size()) * 3 / 4);
}

// R's cuts of a hand-made tree (leaves in order 0 ... 7, joining at 3.5, 3,
// 1, 1, 3, 3, 3, 3) at its top, 4: one static branch that splits into two
// halves of 4, too small for minsize 5, where R's labels are all NA.
TEST(DynamicTreeCut, HalvesTooSmallLeaveNoCluster) {
  const std::vector<Node> tree{{2, 3, 1.0}, {1, -1, 3.0},  {0, -2, 3.5}, {4, 5, 3.0},
                               {6, 7, 3.0}, {-4, -5, 3.2}, {-3, -6, 4.0}};
  int count = 0;
  EXPECT_EQ(Cut(tree, 4.0, 0, 4, &count), (std::vector<int>{0, 0, 0, 0, 1, 1, 1, 1}));
  EXPECT_EQ(count, 2);
  EXPECT_EQ(Cut(tree, 4.0, 0, 5, &count), std::vector<int>(8, -1));
  EXPECT_EQ(count, 0);
}

TEST(DynamicTreeCut, RefusesBadArgumentsAndShortMemory) {
  // ((0 1) 2) 3: heights 1, 2, 3.
  const std::vector<Node> good{{0, 1, 1.0}, {-1, 2, 2.0}, {-2, 3, 3.0}};
  const std::vector<int> none(4, -1);
  int count = 0;
  struct {
    std::vector<Node> tree;
    int deepsplit, minsize;
  } bad[] = {{good, 2, 1},
             {good, -1, 1},
             {good, 0, 0},
             {{{0, 1, 1.0}, {-1, 2, 2.0}, {-2, 4, 3.0}}, 0, 1},  // no element 4
             {{{0, 1, 1.0}, {-1, 1, 2.0}, {-2, 3, 3.0}}, 0, 1},  // element 1 twice
             {{{0, 1, 1.0}, {-3, 2, 2.0}, {-2, 3, 3.0}}, 0, 1},  // a later record
             {{{0, 1, 1.0}, {-1, 2, 4.0}, {-2, 3, 3.0}}, 0, 1},  // height falls
             {{{0, 1, 1.0}, {-1, 2, std::nan("")}, {-2, 3, 3.0}}, 0, 1}};
  for (const auto& b : bad) {
    EXPECT_EQ(Cut(b.tree, kDefault, b.deepsplit, b.minsize, &count), none);
    EXPECT_EQ(count, -1);
  }
  std::vector<int> ids(4, -99);
  EXPECT_EQ(lopper::cuttree_dynamic(4, nullptr, kDefault, 0, 1, ids.data()), -1);
  EXPECT_EQ(ids, none);
  for (long k = 1;; k++) {
    std::vector<int> starved(4, -99);
    lopper_test::FailNthNew(k);
    const int result = lopper::cuttree_dynamic(4, good.data(), kDefault, 1, 2, starved.data());
    const bool failed = lopper_test::InjectedNewFailures() > 0;
    lopper_test::FailNthNew(0);
    if (!failed) break;
    EXPECT_EQ(result, -1) << "allocation " << k;
    EXPECT_EQ(starved, none) << "allocation " << k;
  }
  // One element: a cluster of its own when clusters may be that small.
  std::vector<int> one{-99};
  EXPECT_EQ(lopper::cuttree_dynamic(1, nullptr, kDefault, 0, 1, one.data()), 1);
  EXPECT_EQ(one, std::vector<int>{0});
  EXPECT_EQ(lopper::cuttree_dynamic(1, nullptr, kDefault, 0, 2, one.data()), 0);
  EXPECT_EQ(one, std::vector<int>{-1});
}

}  // namespace
