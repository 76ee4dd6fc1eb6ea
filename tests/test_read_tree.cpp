// ReadNexusTree and ParseNexusTree: Nexus and Newick text as other tools
// write it, the faults they name, and agreement with the command's
// line-based reading on every file that reading accepts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "HeightCut.h"
#include "NexusTree.h"
#include "test_util.h"
#include "tree_gen.h"

namespace {

using lopper::Node;
using lopper::TreeChoice;
using lopper::TreeRead;
using Names = std::vector<std::string>;
using Pairs = std::vector<std::pair<int, int>>;

Pairs Children(const std::vector<Node>& nodes) {
  Pairs pairs;
  for (const Node& n : nodes) pairs.emplace_back(n.left, n.right);
  return pairs;
}

TreeRead Parsed(const std::string& text, const TreeChoice& choice = {}) {
  lopper::TreeReadResult r = lopper::ParseNexusTree(text, "t.nex", choice);
  EXPECT_EQ(r.error, "") << text;
  return r.tree.value_or(TreeRead{});
}

const std::string kHead = "#NEXUS\nBEGIN TREES;\n";

TEST(ParseNexusTree, ReadsTheDialectsOfOtherTools) {
  struct Case {
    const char* what;
    std::string text;
    Names names;
    Pairs children;
  } const cases[] = {
      {"ape-like, rooting comment, lower case",
       "#NEXUS\n[R-package APE]\nbegin trees;\n\ttranslate\n\t\t1\tt1,\n\t\t2\tt_2,\n\t\t3\tt3\n\t;"
       "\n\ttree * UNTITLED = [&R] ((1:0.5,2:1e-05):-0.25,3:+2);\nend;\n",
       {"t1", "t_2", "t3"},
       {{0, 1}, {-1, 2}}},
      {"one-line table, quoted names, numbers out of order, leaves by name",
       kHead + "TRANSLATE 2 'it''s', 1 'a b';\nTREE 'my tree' = (2,'a b');\nEND;",
       {"a b", "it's"},
       {{1, 0}}},
      {"taxa block skipped, comments anywhere, tree over lines, ENDBLOCK",
       "#nexus\nBEGIN TAXA;\n DIMENSIONS NTAX=2; TAXLABELS x y;\nEND;\n" + kHead +
           "TREE t = [c]\n(\nx[c] :\n1E3 ,\ny)label:3.5\n;\nENDBLOCK;",
       {"x", "y"},
       {{0, 1}}},
      {"no table: names in order of appearance, internal labels and support",
       kHead + "TREE t = ((c,'b a')'90':1,(a_1,d)0.75);\nEND;",
       {"c", "b a", "a_1", "d"},
       {{2, 3}, {0, 1}, {-2, -1}}},
      {"plain Newick over two lines",
       "[&U]((A:1,B:2):3,\n C:4);\n",
       {"A", "B", "C"},
       {{0, 1}, {-1, 2}}},
      {"Newick without the final ';'", "(A,B)", {"A", "B"}, {{0, 1}}},
      {"lopper's writer: a tree named after a file, bare",
       kHead + "\t TRANSLATE\n\t \t 1\ta,\n\t \t 2\tb\n\t \t ;\n\t TREE my tree:2.nex = (1,2);\n",
       {"a", "b"},
       {{0, 1}}},
      {"lines as lopper has read them: a table ended by a TREE line",
       "TRANSLATE\n 1 a,\n 2 b\nTREE t = (2,1);\n",
       {"a", "b"},
       {{1, 0}}},
      {"lines as lopper has read them: a statement ended by a TREE line",
       kHead + "TRANSLATE 1 a, 2 b;\n1 after the table\nTREE t = (2,1);\nEND;\n",
       {"a", "b"},
       {{1, 0}}},
  };
  for (const auto& c : cases) {
    const TreeRead t = Parsed(c.text);
    EXPECT_EQ(t.names, c.names) << c.what;
    EXPECT_EQ(Children(t.nodes), c.children) << c.what;
  }
}

TEST(ParseNexusTree, KeepsLengthsPerSideAndTheDistanceRule) {
  const TreeRead t = Parsed("((a:1,b):2.5e-1,(c,d:-4):0.5);");
  ASSERT_EQ(t.lengths.size(), 3u);
  // Root last, the reverse of the opening parentheses: (c,d), (a,b), root.
  EXPECT_TRUE(std::isnan(t.lengths[0][0]));
  EXPECT_EQ(t.lengths[0][1], -4.0);
  EXPECT_EQ(t.lengths[1][0], 1.0);
  EXPECT_TRUE(std::isnan(t.lengths[1][1]));
  EXPECT_EQ(t.lengths[2][0], 0.25);
  EXPECT_EQ(t.lengths[2][1], 0.5);
  EXPECT_EQ(t.nodes[0].distance, -4.0);  // after the second child only
  EXPECT_EQ(t.nodes[1].distance, 1.0);   // after the first
  EXPECT_EQ(t.nodes[2].distance, 0.5);   // the second wins
}

// What a record holds beyond its children, for comparing whole trees.
struct Record {
  int left, right;
  double distance, length0, length1, support;
  int joined;
};
using Records = std::vector<Record>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Equal, NaN matching NaN.
bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

void ExpectRecords(const TreeRead& t, const Records& want, const std::string& what) {
  ASSERT_EQ(t.nodes.size(), want.size()) << what;
  ASSERT_EQ(t.lengths.size(), want.size()) << what;
  ASSERT_EQ(t.support.size(), want.size()) << what;
  ASSERT_EQ(t.joined.size(), want.size()) << what;
  for (std::size_t r = 0; r < want.size(); r++) {
    const Record& w = want[r];
    const std::string at = what + ", record " + std::to_string(r);
    EXPECT_EQ(t.nodes[r].left, w.left) << at;
    EXPECT_EQ(t.nodes[r].right, w.right) << at;
    EXPECT_TRUE(Same(t.nodes[r].distance, w.distance)) << at << ": " << t.nodes[r].distance;
    EXPECT_TRUE(Same(t.lengths[r][0], w.length0)) << at << ": " << t.lengths[r][0];
    EXPECT_TRUE(Same(t.lengths[r][1], w.length1)) << at << ": " << t.lengths[r][1];
    EXPECT_TRUE(Same(t.support[r], w.support)) << at << ": " << t.support[r];
    EXPECT_EQ(t.joined[r] != 0, w.joined != 0) << at;
  }
}

// Worked by hand: a node c1 ... ck is ((c1,c2),c3)...,ck, nodes in the
// reverse order of their "(", each from its innermost record up.
TEST(ParseNexusTree, ReadsNodesOfMoreThanTwoChildrenAndSupport) {
  const double n = kNaN;
  struct Case {
    const char* what;
    std::string text;
    Names names;
    Records records;
    std::string polytomy;
  } const cases[] = {
      {"a root of three children, the last without a length",
       "(a:1,b:2,c);",
       {"a", "b", "c"},
       {{0, 1, 2, 1, 2, n, 1}, {-1, 2, 0, 0, n, n, 0}},
       "t.nex: line 1, character 1: a node of 3 children"},
      {"a node of four inside, quoted numeric label",
       "(x,(a,b,c,d)'0.75');",
       {"x", "a", "b", "c", "d"},
       {{1, 2, 0, n, n, n, 1},
        {-1, 3, 0, 0, n, n, 1},
        {-2, 4, 0, 0, n, 0.75, 0},
        {0, -3, 0, n, n, n, 0}},
       "t.nex: line 1, character 4: a node of 4 children"},
      {"both, with lengths and labels; the first by its '(' is named",
       kHead + "TREE t = ((a:1,b:2,c:3)90:4,(d:5,e:6)0.5:7,\n  f:8)root;\nEND;",
       {"a", "b", "c", "d", "e", "f"},
       {{3, 4, 6, 5, 6, 0.5, 0},
        {0, 1, 2, 1, 2, n, 1},
        {-2, 2, 3, 0, 3, 90, 0},
        {-3, -1, 7, 4, 7, n, 1},
        {-4, 5, 8, 0, 8, n, 0}},
       "t.nex: line 3, character 10: a node of 3 children"},
      {"binary: labels as numbers or not, the root's too",
       "(((a,b)1e2,(c,d)87/95),(e,f)clade_A:1)-0.5;",
       {"a", "b", "c", "d", "e", "f"},
       {{4, 5, 0, n, n, n, 0},
        {2, 3, 0, n, n, n, 0},
        {0, 1, 0, n, n, 100, 0},
        {-3, -2, 0, n, n, n, 0},
        {-4, -1, 1, n, 1, -0.5, 0}},
       ""},
  };
  for (const auto& c : cases) {
    const TreeRead t = Parsed(c.text);
    EXPECT_EQ(t.names, c.names) << c.what;
    ExpectRecords(t, c.records, c.what);
    EXPECT_EQ(t.polytomy, c.polytomy) << c.what;
  }
}

// Random trees of nodes of two to four children: the records, a node's
// joined ones taken with its top one, give back the generator's clades.
TEST(ParseNexusTree, KeepsTheCladesOfRandomTreesOfManyChildren) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 200; trial++) {
    const int n = 2 + trial % 40;
    struct Subtree {
      std::string text;
      std::vector<int> leaves;
    };
    std::vector<Subtree> pool;
    for (int e = 0; e < n; e++) pool.push_back({"L" + std::to_string(e), {e}});
    std::set<std::vector<int>> clades;
    bool polytomy = false;
    while (pool.size() > 1) {
      const int k = std::min(static_cast<int>(pool.size()), 2 + static_cast<int>(rng() % 3));
      polytomy = polytomy || k > 2;
      Subtree node{"(", {}};
      for (int i = 0; i < k; i++) {
        const std::size_t pick = rng() % pool.size();
        node.text += (i ? "," : "") + pool[pick].text;
        node.leaves.insert(node.leaves.end(), pool[pick].leaves.begin(), pool[pick].leaves.end());
        pool.erase(pool.begin() + static_cast<std::ptrdiff_t>(pick));
      }
      node.text += ")";
      std::sort(node.leaves.begin(), node.leaves.end());
      clades.insert(node.leaves);
      pool.push_back(std::move(node));
    }
    const TreeRead t = Parsed(pool[0].text + ";");
    ASSERT_EQ(t.names.size(), static_cast<std::size_t>(n)) << pool[0].text;
    ASSERT_EQ(t.joined.size(), t.nodes.size()) << pool[0].text;
    std::vector<std::vector<int>> below(t.nodes.size());
    std::set<std::vector<int>> got;
    for (int r = 0; r < n - 1; r++) {
      for (const int c : {t.nodes[r].left, t.nodes[r].right}) {
        ASSERT_TRUE(c < n && c >= -r) << pool[0].text;
        if (c >= 0) below[r].push_back(std::stoi(t.names[c].substr(1)));
        if (c < 0) below[r].insert(below[r].end(), below[-c - 1].begin(), below[-c - 1].end());
      }
      std::sort(below[r].begin(), below[r].end());
      if (!t.joined[r]) got.insert(below[r]);
    }
    EXPECT_EQ(got, clades) << "seed 7, trial " << trial << ": " << pool[0].text;
    EXPECT_EQ(t.polytomy.empty(), !polytomy) << pool[0].text;
  }
}

// Phylogenetics users break trees over lines anywhere between tokens; a
// quoted name keeps the line break inside it, and places count the lines.
TEST(ParseNexusTree, ReadsTreesOverSeveralLines) {
  const double n = kNaN;
  struct Case {
    const char* what;
    std::string text;
    Names names;
    Records records;
  } const cases[] = {
      {"Newick, a line per token, CR LF",
       "(\r\n'a b'\r\n:\r\n1\r\n,\r\n(\r\nc\r\n,\r\nd\r\n,\r\ne\r\n)\r\n95\r\n:\r\n2\r\n)"
       "\r\n;\r\n",
       {"a b", "c", "d", "e"},
       {{1, 2, 0, n, n, n, 1}, {-1, 3, 0, 0, n, 95, 0}, {0, -2, 2, 1, 2, n, 0}}},
      {"Nexus, statement and table over lines, a name with a line break",
       kHead + "TRANSLATE\n1\n'x\ny'\n,\n2\nz\n;\nTREE\nt\n=\n[&R]\n(\n2\n:\n0.5\n,\n1\n)\n;\nEND;",
       {"x\ny", "z"},
       {{1, 0, 0.5, 0.5, n, n, 0}}},
  };
  for (const auto& c : cases) {
    const TreeRead t = Parsed(c.text);
    EXPECT_EQ(t.names, c.names) << c.what;
    ExpectRecords(t, c.records, c.what);
  }
  EXPECT_EQ(lopper::ParseNexusTree("(a\n,\n(b\n,\n  c\n)\n,\n(\nd)\n);", "t.nex").error,
            "t.nex: line 9, character 2: a node with only one child");
}

// A node of more than two children is one merge: all its children carry
// its height in the join reading, and its records all get its height.
TEST(HeightCut, JudgesANodeOfManyChildrenByItsOwnBranches) {
  struct Case {
    std::string text;
    bool fits_join;
    int missing;
  } const cases[] = {
      {"((a:1,b:1,c:1):3,(d:3,e:3):3);", true, 0},
      {"(a:1,b:1,c:1,d:1);", true, 0},
      {"((a:1,b:1,c:2):2,d:2);", false, 0},
      {"((a:2,b:1,c:1):2,d:2);", false, 0},
      {"((a:3,b:3,c:3):2,d:2);", false, 0},
      {"((a,b:1,c:1):1,d:1);", false, 1},
      {"(a:1,b,c:1,d);", false, 2},
      {"(a,b,c);", false, 3},
  };
  for (const auto& c : cases) {
    const TreeRead t = Parsed(c.text);
    EXPECT_EQ(lopper::FitsJoinHeights(t), c.fits_join) << c.text;
    EXPECT_EQ(lopper::MissingLengths(t), c.missing) << c.text;
  }
}

TEST(HeightCut, GivesEveryRecordOfANodeItsHeight) {
  using lopper::BranchLengths;
  // As read: (d,e), (a,b) joined, its top with c, the root.
  struct Case {
    std::string text;
    BranchLengths reading;
    Pairs children;
    std::vector<double> heights;
  } const cases[] = {
      // c, the last child, is the highest: (a,b) is raised with it.
      {"((a:1,b:1,c:4):1,(d:1,e:1):1);",
       BranchLengths::kEdge,
       {{3, 4}, {0, 1}, {-2, 2}, {-3, -1}},
       {1, 4, 4, 5}},
      {"((a:1,b:1,c:1):6,(d:4,e:4):6);",
       BranchLengths::kJoin,
       {{0, 1}, {-1, 2}, {3, 4}, {-2, -3}},
       {1, 1, 4, 6}},
      {"((a:1,b:1,c:1):6,(d:4,e:4):6);",
       BranchLengths::kEdge,
       {{0, 1}, {-1, 2}, {3, 4}, {-2, -3}},
       {1, 1, 4, 10}},
  };
  for (const auto& c : cases) {
    const TreeRead t = Parsed(c.text);
    const std::vector<Node> ordered = lopper::OrderedByHeight(t, c.reading);
    EXPECT_EQ(Children(ordered), c.children) << c.text;
    std::vector<double> heights;
    for (const Node& node : ordered) heights.push_back(node.distance);
    EXPECT_EQ(heights, c.heights) << c.text;
  }
}

// The clade cut's lengths in file order: join heights become the
// differences of heights, an inversion raised as the height order raises
// it, a link's slot 0.
TEST(HeightCut, GivesEdgeLengthsInEitherReading) {
  using lopper::BranchLengths;
  using Edges = std::vector<std::array<double, 2>>;
  struct Case {
    std::string text;
    BranchLengths reading;
    Edges edges;
  } const cases[] = {
      // As read: (d,e), (a,b) joined, its top with c, the root.
      {"((a:1,b:1,c:1):3,(d:3,e:3):3);", BranchLengths::kJoin, {{3, 3}, {1, 1}, {0, 1}, {2, 0}}},
      {"((a:1,b:1,c:1):3,(d:3,e:3):3);", BranchLengths::kEdge, {{3, 3}, {1, 1}, {0, 1}, {3, 3}}},
      {"((a:2,b:2):1,c:1);", BranchLengths::kJoin, {{2, 2}, {0, 2}}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(lopper::EdgeLengths(Parsed(c.text), c.reading), c.edges) << c.text;
}

TEST(ParseNexusTree, ChoosesTheTreeByNameOrPosition) {
  const std::string nexus = kHead + "TREE a = (x,y);\nTREE 'b c' = (y,x);\nTREE d = (x,y);\nEND;";
  const std::string newick = "(x,y);\n(y,x);\n(x,y);\n";
  struct Case {
    std::string text;
    std::string choice_name;
    int choice_index;
    std::string name;
    Names names;
  } const cases[] = {
      {nexus, "", 0, "d", {"x", "y"}},   {nexus, "b c", 0, "b c", {"y", "x"}},
      {nexus, "", 2, "b c", {"y", "x"}}, {newick, "", 0, "", {"x", "y"}},
      {newick, "", 2, "", {"y", "x"}},
  };
  for (const auto& c : cases) {
    const TreeRead t = Parsed(c.text, {c.choice_name, c.choice_index});
    EXPECT_EQ(t.tree_name, c.name) << c.choice_name << c.choice_index;
    EXPECT_EQ(t.names, c.names) << c.choice_name << c.choice_index;
  }
}

TEST(ParseNexusTree, NamesEveryFaultInOneLine) {
  const std::string table = kHead + "TRANSLATE\n 1 a,\n 2 b,\n 3 c;\n";
  struct Case {
    std::string text;
    std::string choice_name;
    int choice_index;
    std::string error;
  } const cases[] = {
      {"((a,b),(c));", "", 0, "t.nex: line 1, character 10: a node with only one child"},
      {kHead + "TREE t = ((a,b,c),\n  (d)\n);\nEND;", "", 0,
       "t.nex: line 4, character 5: a node with only one child"},
      {kHead + "TREE t = (a,\n  a);\nEND;", "", 0,
       "t.nex: line 4, character 3: leaf 'a' occurs twice"},
      {table + "TREE t = (1,(3,1));\nEND;", "", 0,
       "t.nex: line 7, character 16: leaf '1' occurs twice"},
      {table + "TREE t = (1,(3,x));\nEND;", "", 0,
       "t.nex: line 7, character 16: leaf 'x' is neither a number nor a name of the TRANSLATE "
       "table"},
      {kHead + "TRANSLATE\n 1 a,\n 1 b;\nTREE t = (1,2);\nEND;", "", 0,
       "t.nex: line 5, character 2: TRANSLATE number 1 occurs twice (also on line 4)"},
      {kHead + "TRANSLATE\n 1 a,\n 3 b;\nTREE t = (1,b);\nEND;", "", 0,
       "t.nex: line 5, character 2: TRANSLATE number 3 is outside 1..2 (the tree has 2 leaves)"},
      {table + "TREE t = (1,2);\nEND;", "", 0,
       "t.nex: line 4, character 2: the TRANSLATE table names 3 elements but the tree has 2 "
       "leaves"},
      {"(a:1x,b);", "", 0, "t.nex: line 1, character 4: malformed branch length \"1x\""},
      {"(a,b)c d;", "", 0, "t.nex: line 1, character 8: expected ';' after the tree, found 'd'"},
      {"(a,'b);", "", 0, "t.nex: line 1, character 4: a quote that is never closed"},
      {"(a,[b);", "", 0, "t.nex: line 1, character 4: a comment that is never closed"},
      {"((a,b)", "", 0,
       "t.nex: line 1, character 7: unexpected end of text (unbalanced parentheses)"},
      {kHead + "END;", "", 0, "t.nex: no TREE statement"},
      {kHead + "TREE a = (x,y);\nTREE b = (y,x);\nEND;", "c", 0,
       "t.nex: no tree named 'c' (the file has 2 trees: 'a', 'b')"},
      {"(x,y);(y,x);", "", 3, "t.nex: no tree number 3 (the file has 2 trees)"},
  };
  for (const auto& c : cases) {
    const lopper::TreeReadResult r =
        lopper::ParseNexusTree(c.text, "t.nex", {c.choice_name, c.choice_index});
    EXPECT_FALSE(r.tree) << c.text;
    EXPECT_EQ(r.error, c.error) << c.text;
  }
}

TEST(ReadNexusTree, UnreadableFileNamesTheReason) {
  lopper_test::TempDir dir;
  EXPECT_EQ(lopper::ReadNexusTree(dir / "none.nex").error,
            dir / "none.nex" + ": cannot read: No such file or directory");
  EXPECT_EQ(lopper::ReadNexusTree(dir.str()).error, dir.str() + ": cannot read: Is a directory");
}

// Leaves and table names are kept as views of the text, or of copies for
// quoted words; their places are worked out from offsets only for a message.
TEST(ParseNexusTree, PlacesWordsAndSkips) {
  struct Case {
    std::string text;
    std::string error;
  } const cases[] = {
      {"(a,a);", "t.nex: line 1, character 4: leaf 'a' occurs twice"},
      {"(\r\n'it''s',\r\n  'it''s');", "t.nex: line 3, character 3: leaf 'it's' occurs twice"},
      {kHead + "TRANSLATE 1 'x y', 2 z;\nTREE t = (1,\n\t'x  y');\nEND;",
       "t.nex: line 5, character 2: leaf 'x  y' is neither a number nor a name of the TRANSLATE "
       "table"},
      {kHead + "TRANSLATE 1 a, 2 b;\nTREE t = (1,0000000000003);\nEND;",
       "t.nex: line 4, character 13: leaf number 0000000000003 is outside 1..2 (the TRANSLATE "
       "table's numbers)"},
      // Trees are first skipped a character at a time: ";" in quotes and
      // comments, lines counted, faults met on the way.
      {kHead + "TREE a = ('x;y',[;\n]z);\nTREE b = (p,p);\nEND;",
       "t.nex: line 5, character 13: leaf 'p' occurs twice"},
      {kHead + "TREE t = (a,'b);\nEND;",
       "t.nex: line 3, character 13: a quote that is never closed"},
      {kHead + "TREE t = (a,[b);\nEND;",
       "t.nex: line 3, character 13: a comment that is never closed"},
      {kHead + "TREE t = (a,b)\n", "t.nex: line 4, character 1: a statement not ended by ';'"},
  };
  for (const auto& c : cases) EXPECT_EQ(lopper::ParseNexusTree(c.text, "t.nex").error, c.error);
  // Quoted names longer than a short string, many of them, read by name.
  std::string table = kHead + "TRANSLATE\n", tree = "'name number 0'";
  Names names;
  for (int i = 0; i < 300; i++) {
    names.push_back("name number " + std::to_string(i));
    table += std::to_string(i + 1) + " '" + names.back() + "',\n";
    if (i > 0) tree = "(" + tree + ",'" + names.back() + "')";
  }
  EXPECT_EQ(Parsed(table + ";\nTREE t = " + tree + ";\nEND;").names, names);
  EXPECT_EQ(Parsed(kHead + "TREE a = ('x;y',[;]z);\nTREE b = (p,q);\nEND;", {"", 1}).names,
            Names({"x;y", "z"}));
  // Plain lengths take a shorter road to the same values.
  const TreeRead t = Parsed("((a:1.,b:.5):007,(c:123456789012345678901234567890,d:1e2):+3);");
  EXPECT_EQ(t.lengths[0][0], 123456789012345678901234567890.0);
  EXPECT_EQ(t.lengths[0][1], 100.0);
  EXPECT_EQ(t.lengths[1][0], 1.0);
  EXPECT_EQ(t.lengths[1][1], 0.5);
  EXPECT_EQ(t.lengths[2][0], 7.0);
  EXPECT_EQ(t.lengths[2][1], 3.0);
}

// Files whose size is not known beforehand (a pipe) or is zero are read
// whole all the same.
TEST(ReadNexusTree, ReadsPipesAndEmptyFiles) {
  lopper_test::TempDir dir;
  lopper_test::WriteFile(dir / "empty.nex", "");
  EXPECT_EQ(lopper::ReadNexusTree(dir / "empty.nex").error,
            dir / "empty.nex" + ": no TREE statement");
  const std::string pipe = dir / "pipe.nex";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  std::string text;  // 20,000 levels, well over the first 64 KiB of room
  for (int i = 0; i < 20000; i++) text += "(x" + std::to_string(i) + ",";
  text += "y" + std::string(20000, ')');
  std::thread writer([&] { lopper_test::WriteFile(pipe, text + ";"); });
  const lopper::TreeReadResult r = lopper::ReadNexusTree(pipe);
  writer.join();
  ASSERT_TRUE(r.tree) << r.error;
  EXPECT_EQ(r.tree->names.size(), 20001u);
}

// A chain of a million nodes: no recursion, so no stack overflow.
TEST(ParseNexusTree, ReadsAChainOfAMillionLevels) {
  const int depth = 1000000;
  std::string text;
  for (int i = 0; i < depth; i++) text += "(x" + std::to_string(i) + ",";
  text += "y" + std::string(depth, ')') + ";";
  const TreeRead t = Parsed(text);
  ASSERT_EQ(t.nodes.size(), static_cast<std::size_t>(depth));
  EXPECT_EQ(t.nodes.front().left, depth - 1);
  EXPECT_EQ(t.nodes.front().right, depth);
  EXPECT_EQ(t.nodes.back().right, -depth + 1);
}

// A node of a million children: a chain of joined records as deep.
TEST(ParseNexusTree, ReadsANodeOfAMillionChildren) {
  const int n = 1000000;
  std::string text = "(";
  for (int i = 0; i < n; i++) text += "x" + std::to_string(i) + (i + 1 < n ? ":1," : ":1);");
  const TreeRead t = Parsed(text);
  ASSERT_EQ(t.nodes.size(), static_cast<std::size_t>(n - 1));
  EXPECT_EQ(t.nodes.front().left, 0);
  EXPECT_EQ(t.nodes.back().left, -(n - 2));
  EXPECT_EQ(t.nodes.back().right, n - 1);
  EXPECT_EQ(std::count(t.joined.begin(), t.joined.end(), 1), n - 2);
  EXPECT_EQ(t.polytomy, "t.nex: line 1, character 1: a node of 1000000 children");
}

// The command's reading: NexusFileIn, NexusTreeCheck, LeafNames,
// NexusTreeIn, ReorderTree. False when it rejects the file.
bool OldRead(const std::string& path, Names& names, std::vector<Node>& nodes) {
  std::vector<lopper::TranslateEntry> entries;
  std::string text;
  int n = 0;
  if (!lopper::NexusFileIn(entries, path, text) || !lopper::NexusTreeCheck(text, n).empty() ||
      !lopper::LeafNames(entries, n, names).empty())
    return false;
  nodes.assign(n - 1, Node{0, 0, 0.0});
  lopper::NexusTreeIn(text, nodes.data(), n);
  lopper::ReorderTree(nodes.data(), n);
  return true;
}

// Returns how many files the old reading accepts; each must read the same,
// except the files named in `refused`, which must be refused.
int ExpectSameAsOldReading(const std::vector<std::string>& paths,
                           const std::set<std::string>& refused = {}) {
  int compared = 0;
  for (const std::string& path : paths) {
    Names names;
    std::vector<Node> nodes;
    if (!OldRead(path, names, nodes)) continue;
    compared++;
    const lopper::TreeReadResult r = lopper::ReadNexusTree(path);
    const bool refuse = refused.count(std::filesystem::path(path).filename().string()) > 0;
    EXPECT_EQ(!r.tree, refuse) << path << ": " << r.error;
    if (!r.tree) continue;
    EXPECT_EQ(r.tree->names, names) << path;
    EXPECT_EQ(Children(r.tree->nodes), Children(nodes)) << path;
    for (std::size_t k = 0; k < nodes.size(); k++)
      EXPECT_EQ(r.tree->nodes[k].distance, nodes[k].distance) << path << " record " << k;
  }
  return compared;
}

TEST(ReadNexusTree, AgreesWithTheCommandsReadingOnTheFuzzCorpus) {
  // The corpus files open with the fuzz target's Level byte: drop it.
  lopper_test::TempDir dir;
  std::vector<std::string> paths;
  for (const auto& entry :
       std::filesystem::directory_iterator(LOPPER_SOURCE_DIR "/tests/fuzz/corpus/command")) {
    const std::string bytes = lopper_test::ReadFile(entry.path().string());
    paths.push_back(dir / entry.path().filename().string());
    lopper_test::WriteFile(paths.back(), bytes.empty() ? bytes : bytes.substr(1));
  }
  // Fuzzed text that only line-by-line reading takes for a tree: the tree
  // inside an unclosed "[" comment; the tree inside a block "BEGIN TR",
  // which is skipped to its END.
  const std::set<std::string> refused{"f0457b94add57f2cee9fbc89d9e8848034aa3bd7",
                                      "eb193ec21ee1eaa458e4b3cc399a351fabd2eea7"};
  EXPECT_GT(ExpectSameAsOldReading(paths, refused), static_cast<int>(refused.size()));
}

TEST(ReadNexusTree, AgreesWithTheCommandsReadingOnWrittenTrees) {
  std::mt19937 rng(2024);
  lopper_test::TempDir dir;
  std::vector<std::string> paths;
  for (const int n : {2, 3, 17, 300}) {
    for (const auto shape :
         {lopper_test::Shape::kBalanced, lopper_test::Shape::kChain, lopper_test::Shape::kRandom}) {
      lopper_test::Tree tree = lopper_test::MakeTree(n, shape, rng);
      Names names;
      for (int e = 0; e < n; e++) names.push_back("e " + std::to_string(e) + (e % 4 ? "" : ","));
      paths.push_back(dir / std::to_string(paths.size()));
      ASSERT_TRUE(lopper::NexusTreeOut(n, tree.data(), paths.back(), names));
    }
  }
  EXPECT_EQ(ExpectSameAsOldReading(paths), static_cast<int>(paths.size()));
}

}  // namespace
