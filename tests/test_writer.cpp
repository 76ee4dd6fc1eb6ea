#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "NexusTree.h"
#include "misc.h"
#include "test_util.h"
#include "tree_gen.h"

namespace {

using lopper::Node;
using lopper_test::Clades;
using lopper_test::ReadFile;
using lopper_test::Shape;
using lopper_test::TempDir;
using lopper_test::Tree;
using Names = std::vector<std::string>;
namespace fs = std::filesystem;

// What the stdout overload printed, and its result.
std::pair<bool, std::string> ToStdout(const Tree& tree, const Names& names, bool pair_form) {
  std::ostringstream captured;
  std::streambuf* const old = std::cout.rdbuf(captured.rdbuf());
  bool ok;
  if (pair_form) {
    std::vector<int> pairs;
    std::vector<double> dist;
    for (const Node& r : tree) {
      pairs.insert(pairs.end(), {r.left, r.right});
      dist.push_back(r.distance);
    }
    ok = lopper::NexusTreeOut(static_cast<int>(tree.size()) + 1,
                              reinterpret_cast<int(*)[2]>(pairs.data()), dist.data(), names);
  } else {
    ok = lopper::NexusTreeOut(static_cast<int>(tree.size()) + 1, tree.data(), names);
  }
  std::cout.rdbuf(old);
  return {ok, captured.str()};
}

bool ToFile(const Tree& tree, const std::string& path, const Names& names, bool pair_form) {
  if (!pair_form)
    return lopper::NexusTreeOut(static_cast<int>(tree.size()) + 1, tree.data(), path, names);
  std::vector<int> pairs;
  std::vector<double> dist;
  for (const Node& r : tree) {
    pairs.insert(pairs.end(), {r.left, r.right});
    dist.push_back(r.distance);
  }
  int(*result)[2] = reinterpret_cast<int(*)[2]>(pairs.data());  // a caller's non-const array
  return lopper::NexusTreeOut(static_cast<int>(tree.size()) + 1, result, dist.data(), path, names);
}

std::string File(const Names& names, const std::string& treename, const std::string& text) {
  std::string s = "#NEXUS\nBEGIN TREES;\n[!]\n\t TRANSLATE\n";
  for (std::size_t i = 0; i < names.size(); i++)
    s += "\t \t " + std::to_string(i + 1) + "\t" + names[i] + (i + 1 < names.size() ? ",\n" : "\n");
  return s + "\t \t ;\n\t TREE " + treename + " = " + text + "\nENDBLOCK;\n";
}

struct FormatCase {
  const char* what;
  Tree tree;
  Names names;
  std::string text;
};

const FormatCase kFormatCases[] = {
    {"two elements", {{0, 1, 0.25}}, {"alpha", "beta"}, "(1:25.000,2:25.000);"},
    {"children first",
     {{0, 1, 0.25}, {2, -1, 0.5}},
     {"a", "b", "c"},
     "(3:50.000,(1:25.000,2:25.000):50.000);"},
    {"parents first",
     {{2, -2, 0.5}, {0, 1, 0.25}},
     {"a", "b", "c"},
     "(3:50.000,(1:25.000,2:25.000));"},
    {"zero, negative and large distances",
     {{0, 1, 0.0}, {-1, 2, -0.125}, {-2, 3, 1e20}},
     {"w", "x", "y", "z"},
     "(((1:0.000,2:0.000):-12.500,3:-12.500):10000000000000000000000.000,"
     "4:10000000000000000000000.000);"},
    {"rounding to three decimals", {{1, 0, 0.0123456}}, {"p", "q"}, "(2:1.235,1:1.235);"},
    // A rounding residue below zero is written as zero, not as "-0.000".
    {"tiny negative distance",
     {{1, 0, -2.2e-16}, {2, -1, -0.000004}},
     {"p", "q", "r"},
     "(3:0.000,(2:0.000,1:0.000):0.000);"},
    {"small negative distance", {{1, 0, -0.00001}}, {"p", "q"}, "(2:-0.001,1:-0.001);"},
    {"names written as they are", {{0, 1, 1.0}}, {"a b, (c)", "x\ty"}, "(1:100.000,2:100.000);"},
    {"extra names are not written", {{1, 0, 0.5}}, {"a", "b", "unused"}, "(2:50.000,1:50.000);"},
};

TEST(NexusTreeOut, WritesTheFormatToStandardOutput) {
  for (const auto& c : kFormatCases) {
    const Names written(c.names.begin(), c.names.begin() + c.tree.size() + 1);
    for (const bool pair_form : {false, true}) {
      const auto [ok, out] = ToStdout(c.tree, c.names, pair_form);
      EXPECT_TRUE(ok) << c.what;
      EXPECT_EQ(out, File(written, "USER", c.text)) << c.what << (pair_form ? " (pairs)" : "");
    }
  }
}

TEST(NexusTreeOut, WritesTheFormatToAFileNamedInTheTree) {
  TempDir dir;
  fs::create_directory(dir / "sub");
  for (const auto& c : kFormatCases) {
    const Names written(c.names.begin(), c.names.begin() + c.tree.size() + 1);
    for (const bool pair_form : {false, true}) {
      const std::string path = dir / "sub/out.tre";
      EXPECT_TRUE(ToFile(c.tree, path, c.names, pair_form)) << c.what;
      EXPECT_EQ(ReadFile(path), File(written, path, c.text)) << c.what;
    }
  }
}

// The writer's visiting rule, kept literally: records in index order, each
// opened, its left child written or descended into, then its right child;
// a finished record is copied in by its own index.
std::string ReferenceText(const Tree& t) {
  const int nrecords = static_cast<int>(t.size());
  std::vector<bool> vis(nrecords), finished(nrecords);
  std::map<int, std::string> texts;
  std::string tree, last;
  std::vector<int> path;
  auto length = [&](int r) { return ":" + lopper::dbl2str(100.0 * t[r].distance, 3, 4); };
  int i = 0;
  while (i < nrecords) {
    if (!vis[i] || !finished[i]) {
      const bool first = !vis[i];
      if (first) {
        vis[i] = true;
        tree += "(";
      } else {
        tree += ",";
        finished[i] = true;
      }
      const int c = first ? t[i].left : t[i].right;
      if (c >= 0) {
        tree += std::to_string(c + 1) + length(i);
      } else if (!finished[-c - 1]) {
        path.push_back(i);
        i = -c - 1;
      } else {
        tree += texts.at(-c - 1) + length(i);
      }
      continue;
    }
    if (!tree.empty()) tree += ")";
    if (!path.empty()) {
      i = path.back();
      path.pop_back();
      continue;
    }
    if (!tree.empty()) {
      texts[i] = tree;
      last = tree;
      tree.clear();
    }
    i++;
  }
  return last + ";";
}

std::string TreeLine(const std::string& file) {
  const std::size_t at = file.find("\t TREE ");
  const std::size_t eq = file.find(" = ", at);
  return file.substr(eq + 3, file.find('\n', eq) - eq - 3);
}

TEST(NexusTreeOut, AnyRecordOrderMatchesTheVisitingRule) {
  const unsigned seed = 4242;
  std::mt19937 rng(seed);
  for (int n = 2; n <= 300; n += 7) {
    for (const Shape shape : {Shape::kBalanced, Shape::kChain, Shape::kRandom}) {
      const Tree base = lopper_test::MakeTree(n, shape, rng);
      std::vector<int> position(base.size());
      std::iota(position.begin(), position.end(), 0);
      std::shuffle(position.begin(), position.end(), rng);
      Tree reversed = base;
      lopper::ReorderTree(reversed.data(), n);
      for (const Tree& tree : {base, reversed, lopper_test::Permuted(base, position)}) {
        const auto [ok, out] = ToStdout(tree, Names(n, "e"), false);
        ASSERT_TRUE(ok);
        EXPECT_EQ(TreeLine(out), ReferenceText(tree))
            << "seed " << seed << " n " << n << " " << Name(shape);
      }
    }
  }
}

// Writes, reads back as the command does, and compares the trees.
TEST(NexusTreeOut, RoundTripGivesTheSameTree) {
  const unsigned seed = 777;
  std::mt19937 rng(seed);
  TempDir dir;
  for (const int n : {2, 3, 10, 257, 2000}) {
    for (const Shape shape : {Shape::kBalanced, Shape::kChain, Shape::kRandom}) {
      const Tree tree = lopper_test::MakeTree(n, shape, rng);
      Tree parents_first = tree;
      lopper::ReorderTree(parents_first.data(), n);
      Names names;
      // Names ending in ";" or ",", or opening with a quote, go in quotes.
      const Names odd{"x", "tail;", "comma,", "'quoted'", "it's"};
      for (int e = 0; e < n; e++)
        names.push_back(e % 3 ? "n" + std::to_string(e) : odd[e / 3 % odd.size()]);
      for (const bool children_first : {true, false}) {
        const std::string path = dir / "rt.tre";
        ASSERT_TRUE(ToFile(children_first ? tree : parents_first, path, names, !children_first));
        const lopper::TreeReadResult read = lopper::ReadNexusTree(path);
        ASSERT_EQ(read.error, "");
        EXPECT_EQ(read.tree->names, names);
        Tree back = read.tree->nodes;
        ASSERT_EQ(back.size(), tree.size());
        // Written lengths come back for children-first trees only; compare
        // structure alone otherwise.
        Tree expected = tree;
        for (std::size_t r = 0; r < tree.size(); r++) {
          expected[r].distance =
              children_first ? lopper::str2dbl(lopper::dbl2str(100.0 * tree[r].distance, 3, 4))
                             : 0.0;
          if (!children_first) back[r].distance = 0.0;
        }
        EXPECT_EQ(Clades(back), Clades(expected))
            << "seed " << seed << " n " << n << " " << Name(shape) << " children first "
            << children_first;
      }
    }
  }
}

TEST(NexusTreeOut, RejectsWhatIsNotATreeWithoutWriting) {
  struct Case {
    const char* what;
    int nrows;
    Tree tree;
    Names names;
  } const cases[] = {
      {"one element", 1, {}, {"a"}},
      {"no elements", 0, {}, {}},
      {"element out of range", 2, {{0, 2, 0}}, {"a", "b", "c"}},
      {"negative element", 2, {{0, -2, 0}}, {"a", "b"}},
      {"record out of range", 3, {{0, 1, 0}, {-3, 2, 0}}, {"a", "b", "c"}},
      {"element used twice", 3, {{0, 1, 0}, {-1, 1, 0}}, {"a", "b", "c"}},
      {"record used twice", 4, {{0, 1, 0}, {-1, 2, 0}, {-1, 3, 0}}, {"a", "b", "c", "d"}},
      {"record its own child", 3, {{0, 1, 0}, {-2, 2, 0}}, {"a", "b", "c"}},
      {"cycle beside the root", 4, {{-2, 0, 0}, {-1, 1, 0}, {2, 3, 0}}, {"a", "b", "c", "d"}},
      {"every record a child, an element left out", 3, {{-2, 0, 0}, {-1, 1, 0}}, {"a", "b", "c"}},
      {"fewer names than elements", 3, {{0, 1, 0}, {-1, 2, 0}}, {"a", "b"}},
  };
  TempDir dir;
  lopper_test::WriteFile(dir / "old.tre", "keep\n");
  for (const auto& c : cases) {
    std::ostringstream captured;
    std::streambuf* const old = std::cout.rdbuf(captured.rdbuf());
    const bool to_stdout = lopper::NexusTreeOut(c.nrows, c.tree.data(), c.names);
    std::cout.rdbuf(old);
    EXPECT_FALSE(to_stdout) << c.what;
    EXPECT_EQ(captured.str(), "") << c.what;
    EXPECT_FALSE(lopper::NexusTreeOut(c.nrows, c.tree.data(), dir / "new.tre", c.names)) << c.what;
    EXPECT_FALSE(fs::exists(dir / "new.tre")) << c.what;
    EXPECT_FALSE(lopper::NexusTreeOut(c.nrows, c.tree.data(), dir / "old.tre", c.names)) << c.what;
    EXPECT_EQ(ReadFile(dir / "old.tre"), "keep\n") << c.what;
  }
}

TEST(NexusTreeOut, FileTargets) {
  const Tree tree{{0, 1, 0.5}};
  const Names names{"a", "b"};
  TempDir dir;
  fs::create_directory(dir / "sub");
  EXPECT_FALSE(ToFile(tree, dir / "missing/x.tre", names, false));
  EXPECT_FALSE(ToFile(tree, dir / "sub", names, false));
  EXPECT_TRUE(fs::is_empty(dir / "sub"));
  EXPECT_FALSE(ToFile(tree, "/dev/full", names, false));
  EXPECT_TRUE(ToFile(tree, "/dev/null", names, false));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  lopper_test::WriteFile(dir / "old.tre", std::string(10000, 'x'));
  EXPECT_TRUE(ToFile(tree, dir / "old.tre", names, false));
  EXPECT_EQ(ReadFile(dir / "old.tre"), File(names, dir / "old.tre", "(1:50.000,2:50.000);"));
  for (const auto& entry : fs::directory_iterator(dir.str()))
    EXPECT_NE(entry.path().filename().string()[0], '.') << "temporary file left: " << entry.path();
}

// The command cuts what the writer wrote: every cluster is one element or
// the element set of one node of the original tree.
TEST(NexusTreeOut, TheCommandCutsTheWrittenFile) {
  const unsigned seed = 99;
  std::mt19937 rng(seed);
  TempDir dir;
  for (const Shape shape : {Shape::kBalanced, Shape::kChain, Shape::kRandom}) {
    const int n = 300;
    const Tree tree = lopper_test::MakeTree(n, shape, rng);
    Names names;
    for (int e = 0; e < n; e++) names.push_back("el " + std::to_string(e));
    ASSERT_TRUE(ToFile(tree, dir / "w.tre", names, false));
    std::set<std::vector<int>> clades;
    for (const auto& c : Clades(tree)) clades.insert(c.first);
    for (const int k : {1, 2, 5, 40, n}) {
      const auto r =
          lopper_test::RunProgram(dir, LOPPER_EXE, {"-N", "w.tre", "-L", std::to_string(k)});
      ASSERT_EQ(r.status, 0) << r.err;
      std::map<int, std::vector<int>> clusters;
      std::istringstream lines(ReadFile(dir / "Out.clu"));
      std::string line;
      for (int e = 0; std::getline(lines, line); e++) {
        ASSERT_EQ(line.substr(0, line.find('\t')), names[e]);
        clusters[std::stoi(line.substr(line.find('\t') + 1))].push_back(e);
      }
      EXPECT_EQ(static_cast<int>(clusters.size()), k) << Name(shape);
      for (const auto& [id, members] : clusters)
        EXPECT_TRUE(members.size() == 1 || clades.count(members))
            << "seed " << seed << " " << Name(shape) << " k " << k << " cluster " << id;
    }
  }
}

}  // namespace
