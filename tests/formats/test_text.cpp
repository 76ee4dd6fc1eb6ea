// The formats' exact text on small hand-made trees, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "formats.h"

namespace {

using lopper::Node;
using Names = std::vector<std::string>;
using Tree = std::vector<Node>;

TEST(FormatsNumbering, NumbersClustersByFirstElement) {
  const struct {
    std::vector<int> ids, numbered;
  } cases[] = {
      {{}, {}},
      {{2, 0, 2, 1, 0}, {1, 2, 1, 3, 2}},
      {{7, -3, 7, 100}, {1, 2, 1, 3}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(lopper::NumberClustersByFirstElement(c.ids), c.numbered)
        << ::testing::PrintToString(c.ids);
}

TEST(FormatsNames, FindsTheFirstNameWithATabOrLineBreak) {
  const struct {
    Names names;
    std::size_t first;
  } cases[] = {
      {{"", "a b", "it's;(x)"}, 3}, {{"a", "b\tc", "d\n"}, 1}, {{"a\n"}, 0}, {{"a", "\r"}, 1}};
  for (const auto& c : cases)
    EXPECT_EQ(lopper::FirstUnwritableName(c.names), c.first) << ::testing::PrintToString(c.names);
}

TEST(FormatsTsv, WritesHeaderAndNumberedColumns) {
  const struct {
    const char* what;
    Names names;
    std::vector<lopper::ClusterColumn> columns;
    bool ok;
    std::string text;  // nothing when refused
  } cases[] = {
      {"two cuts",
       {"a", "b b", "c"},
       {{"k=2", {1, 0, 1}}, {"h=0.25", {2, 1, 0}}},
       true,
       "name\tk=2\th=0.25\na\t1\t1\nb b\t2\t2\nc\t1\t3\n"},
      {"no cut", {"a", "b"}, {}, true, "name\na\nb\n"},
      {"column too short", {"a", "b"}, {{"k=1", {0}}}, false, ""},
      {"tab in a name", {"a", "b\tc"}, {{"k=1", {0, 0}}}, false, ""},
      {"line feed in a label", {"a"}, {{"k\n1", {0}}}, false, ""},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    EXPECT_EQ(lopper::WriteClustersTsv(out, c.names, c.columns), c.ok) << c.what;
    EXPECT_EQ(out.str(), c.text) << c.what;
  }
}

TEST(FormatsLabels, QuotesWhatReadersWouldChange) {
  const struct {
    std::string name, newick, nexus;
  } cases[] = {
      {"alpha", "alpha", "alpha"},
      {"heat shock", "'heat shock'", "'heat shock'"},
      {"a_b", "'a_b'", "'a_b'"},
      {"it's", "'it''s'", "'it''s'"},
      {"a:b", "'a:b'", "'a:b'"},
      {"a,b", "'a,b'", "'a,b'"},
      {"(x)", "'(x)'", "'(x)'"},
      {"[x]", "'[x]'", "'[x]'"},
      {"x;", "'x;'", "'x;'"},
      {"a-b", "a-b", "'a-b'"},
      {"a=b", "'a=b'", "'a=b'"},
      {"a{b}", "'a{b}'", "'a{b}'"},
      {"", "''", "''"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lopper::NewickLabel(c.name), c.newick) << c.name;
    EXPECT_EQ(lopper::NexusLabel(c.name), c.nexus) << c.name;
  }
}

// Over elements 0 ... 3: (0, (1, 2) at 0.5) at 1.25, joined with 3 at 1.0,
// an inversion.
const Tree kInverted = {{1, 2, 0.5}, {0, -1, 1.25}, {3, -2, 1.0}};
const Names kNames = {"a_1", "b", "it's", "d e"};

TEST(FormatsTree, WritesEachFormatExactly) {
  std::ostringstream newick, nexus, linkage;
  ASSERT_TRUE(lopper::WriteNewick(newick, 4, kInverted.data(), kNames));
  ASSERT_TRUE(lopper::WriteNexus(nexus, 4, kInverted.data(), kNames, "my tree.tsv"));
  ASSERT_TRUE(lopper::WriteLinkage(linkage, 4, kInverted.data()));
  EXPECT_EQ(newick.str(), "('d e':1,('a_1':1.25,(b:0.5,'it''s':0.5):0.75):-0.25);\n");
  EXPECT_EQ(nexus.str(),
            "#NEXUS\nBEGIN TREES;\n\tTRANSLATE\n\t\t1\t'a_1',\n\t\t2\tb,\n\t\t3\t'it''s',\n"
            "\t\t4\t'd e'\n\t\t;\n\tTREE 'my tree.tsv' = "
            "(4:1.0000000000000000,(1:1.2500000000000000,(2:0.50000000000000000,"
            "3:0.50000000000000000):0.75000000000000000):-0.25000000000000000);\nEND;\n");
  EXPECT_EQ(linkage.str(), "1\t2\t0.5\t2\n0\t4\t1.25\t3\n3\t5\t1\t4\n");
}

TEST(FormatsTree, WritesNodeLabelsAfterTheirParenthesesQuotedAsNames) {
  const Names labels = {"95", "", "a b"};
  std::ostringstream newick, nexus;
  ASSERT_TRUE(lopper::WriteNewick(newick, 4, kInverted.data(), kNames, labels));
  ASSERT_TRUE(lopper::WriteNexus(nexus, 4, kInverted.data(), kNames, "t", labels));
  EXPECT_EQ(newick.str(), "('d e':1,('a_1':1.25,(b:0.5,'it''s':0.5)95:0.75):-0.25)'a b';\n");
  EXPECT_NE(nexus.str().find("3:0.50000000000000000)95:0.75"), std::string::npos) << nexus.str();
  EXPECT_NE(nexus.str().find(")'a b';"), std::string::npos) << nexus.str();
  for (const Names& bad : {Names{"95", ""}, Names{"1", "2", "3", "4"}, Names{"9\t5", "", ""}}) {
    std::ostringstream out;
    EXPECT_FALSE(lopper::WriteNewick(out, 4, kInverted.data(), kNames, bad)) << bad.size();
    EXPECT_FALSE(lopper::WriteNexus(out, 4, kInverted.data(), kNames, "t", bad)) << bad.size();
    EXPECT_TRUE(out.str().empty());
  }
}

// The length of the one edge of a two-element tree whose root is at height.
std::string EdgeLength(double height, bool nexus) {
  const Tree tree = {{0, 1, height}};
  std::ostringstream out;
  if (nexus) {
    lopper::WriteNexus(out, 2, tree.data(), {"a", "b"}, "t");
  } else {
    lopper::WriteNewick(out, 2, tree.data(), {"a", "b"});
  }
  const std::string text = out.str();
  const std::size_t colon = text.rfind(':');
  return text.substr(colon + 1, text.find(')', colon) - colon - 1);
}

TEST(FormatsTree, LengthsAreFixedNotation) {
  const struct {
    double height;
    const char* newick;
    const char* nexus;
  } cases[] = {
      {0.1, "0.1", "0.10000000000000001"},
      {1e-7, "0.0000001", "0.000000099999999999999995"},
      {123456789.125, "123456789.125", "123456789.12500000"},
      {1e20, "100000000000000000000", "100000000000000000000"},
      {-0.0, "0", "0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EdgeLength(c.height, false), c.newick) << c.height;
    EXPECT_EQ(EdgeLength(c.height, true), c.nexus) << c.height;
  }
}

TEST(FormatsTree, LengthsReadBackExactly) {
  std::mt19937_64 rng(20261209);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(-300, 300);
  for (int i = 0; i < 2000; i++) {
    const double height = std::ldexp(mantissa(rng), exponent(rng));
    for (const bool nexus : {false, true}) {
      const std::string text = EdgeLength(height, nexus);
      EXPECT_EQ(text.find_first_not_of("0123456789."), std::string::npos) << text;
      EXPECT_EQ(std::strtod(text.c_str(), nullptr), height) << text;
    }
  }
}

// A chain is as deep as it is large: the writers must not recurse per level.
TEST(FormatsTree, WritesADeepChain) {
  const int n = 300000;
  Tree chain;
  for (int i = 0; i < n - 1; i++) chain.push_back({i == 0 ? 0 : -i, i + 1, i + 1.0});
  const Names names(n, "x");
  std::ostringstream newick, nexus;
  ASSERT_TRUE(lopper::WriteNewick(newick, n, chain.data(), names));
  ASSERT_TRUE(lopper::WriteNexus(nexus, n, chain.data(), names, "t"));
  const std::string text = newick.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '('), n - 1);
  EXPECT_EQ(text.substr(0, n), std::string(n - 1, '(') + "x");
}

// Each writer refuses, writing nothing, what it cannot write; the Nexus
// writer every case (the tree name too), the others what they are given.
TEST(FormatsTree, RefusesWhatIsNotATreeOfNamedElements) {
  const double nan = std::nan("");
  const Names abc = {"a", "b", "c"};
  const Tree good = {{0, 1, 1}, {2, -1, 2}};
  const struct {
    const char* what;
    int n;
    Tree tree;
    Names names;
    std::string treename;
    bool newick_ok, linkage_ok;
  } cases[] = {
      {"one element", 1, {}, {"a"}, "t", false, false},
      {"element out of range", 3, {{0, 3, 1}, {2, -1, 2}}, abc, "t", false, false},
      {"reference to itself", 3, {{0, -1, 1}, {2, 1, 2}}, abc, "t", false, false},
      {"record used twice", 3, {{0, 1, 1}, {-1, -1, 2}}, abc, "t", false, false},
      {"element used twice", 3, {{0, 0, 1}, {2, -1, 2}}, abc, "t", false, false},
      {"height NaN", 3, {{0, 1, nan}, {2, -1, 2}}, abc, "t", false, false},
      {"too few names", 3, good, {"a", "b"}, "t", false, true},
      {"tab in a name", 3, good, {"a", "b\tx", "c"}, "t", false, true},
      {"line feed in the tree name", 3, good, abc, "t\n", true, true},
  };
  for (const auto& c : cases) {
    std::ostringstream newick, nexus, linkage;
    const Node* records = c.tree.empty() ? nullptr : c.tree.data();
    EXPECT_EQ(lopper::WriteNewick(newick, c.n, records, c.names), c.newick_ok) << c.what;
    EXPECT_FALSE(lopper::WriteNexus(nexus, c.n, records, c.names, c.treename)) << c.what;
    EXPECT_EQ(lopper::WriteLinkage(linkage, c.n, records), c.linkage_ok) << c.what;
    EXPECT_EQ(newick.str().empty(), !c.newick_ok) << c.what;
    EXPECT_TRUE(nexus.str().empty()) << c.what;
    EXPECT_EQ(linkage.str().empty(), !c.linkage_ok) << c.what;
  }
}

}  // namespace
