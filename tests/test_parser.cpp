#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "NexusTree.h"

// Comparison and printing of records, for the expectations below.
namespace lopper {
bool operator==(const lopper::Node& a, const lopper::Node& b) {
  return a.left == b.left && a.right == b.right && a.distance == b.distance;
}
std::ostream& operator<<(std::ostream& o, const lopper::Node& n) {
  return o << "{" << n.left << ", " << n.right << ", " << n.distance << "}";
}
}  // namespace lopper

namespace {

using lopper::Node;

constexpr double kUnset = -777.0;  // a distance the parser never writes
const Node kUntouched{99, 99, kUnset};

struct Parsed {
  int nrows;
  std::vector<Node> nodes;
};

// Parses with both overloads into buffers that hold one untouched record on
// each side of the records the string opens, checks that the two forms agree
// and that the side records stay untouched, and returns the opened records.
Parsed ParseBoth(const std::string& s) {
  const std::size_t room = std::count(s.begin(), s.end(), '(') + 2;
  std::vector<Node> nodes(room, kUntouched);
  Parsed p{-1, {}};
  lopper::NexusTreeIn(s, nodes.data() + 1, p.nrows);
  std::vector<int> pairs(2 * room, kUntouched.left);
  std::vector<double> dist(room, kUntouched.distance);
  int nrows = -1;
  lopper::NexusTreeIn(s, reinterpret_cast<int(*)[2]>(pairs.data() + 2), dist.data() + 1, nrows);
  EXPECT_EQ(nrows, p.nrows) << s;
  for (std::size_t k = 0; k < room; k++)
    EXPECT_EQ((Node{pairs[2 * k], pairs[2 * k + 1], dist[k]}), nodes[k])
        << s << " pair form, record " << static_cast<int>(k) - 1;
  EXPECT_EQ(nodes.front(), kUntouched) << s << " record -1";
  EXPECT_EQ(nodes.back(), kUntouched) << s << " record after the last opened";
  p.nodes.assign(nodes.begin() + 1, nodes.end() - 1);
  return p;
}

// A tree string and the leaf count and records it parses into.
struct ParseCase {
  std::string tree;
  int nrows;
  std::vector<Node> nodes;
};

void ExpectParsed(const ParseCase& c) {
  const Parsed p = ParseBoth(c.tree);
  EXPECT_EQ(p.nrows, c.nrows) << c.tree;
  EXPECT_EQ(p.nodes, c.nodes) << c.tree;
}

TEST(NexusTreeIn, RecordsInOrderOfOpeningParentheses) {
  const ParseCase cases[] = {
      {"(1,2)", 2, {{0, 1, kUnset}}},
      {"", 0, {}},
      {"(1,(2,3))", 3, {{0, -2, kUnset}, {1, 2, kUnset}}},
      {"((1,2),(3,4))", 4, {{-2, -3, kUnset}, {0, 1, kUnset}, {2, 3, kUnset}}},
      {"(10,123)", 2, {{9, 122, kUnset}}},
      {"( (1 ,2 ) , 3 )", 3, {{-2, 2, kUnset}, {0, 1, kUnset}}},
      {"((1:0.1,2:0.2):0.3,3:0.4)", 3, {{-2, 2, 0.4}, {0, 1, 0.2}}},
      {"(3:50.000,(1:25.000,2:25.000):50.000)", 3, {{2, -2, 50}, {0, 1, 25}}},
      {"((1,2):7,3)", 3, {{-2, 2, 7}, {0, 1, kUnset}}},
  };
  for (const auto& c : cases) ExpectParsed(c);
}

// Characterisation: pinned from the old parser's own output, not a rule.
// Catches a pair-form parser that stores a third child at results[k][2] (the
// next record's left) or drops it rather than replacing the second.
TEST(NexusTreeIn, ThirdChildReplacesTheSecondCharacterised) {
  const ParseCase cases[] = {
      {"(1,2,3)", 3, {{0, 2, kUnset}}},
      {"(1,2,3,4)", 4, {{0, 3, kUnset}}},
      {"((1,2,3),4)", 4, {{-2, 3, kUnset}, {0, 2, kUnset}}},
  };
  for (const auto& c : cases) ExpectParsed(c);
}

// Strings outside the grammar give undefined trees. Catches a parser that
// writes to record -1 while no node is open, or past the last record opened.
TEST(NexusTreeIn, MalformedStringsStayInsideTheirRecords) {
  for (const std::string s : {"1,2", "1:5", "(1,2))", ")", "))(1", "(1,2),3", ":", "(1:", "((((",
                              "(1,2):5,3:4", ")1,(2"}) {
    const Parsed p = ParseBoth(s);
    EXPECT_GE(p.nrows, 0) << s;
  }
}

TEST(NexusTreeCheck, AcceptsTreesOfTheGrammar) {
  struct Case {
    std::string tree;
    int nrows;
  } const cases[] = {
      {"(1,2)", 2},
      {"(2,1)", 2},
      {"((1:0.1,2:0.2):0.3,3:0.4)", 3},
      {"(3:50.000,(1:25.000,2:25.000):50.000)", 3},
      {" ( (1 ,\t2 ) , 3 ) ", 3},
      {"((4,2),(3,1))", 4},
      {"(1:5,2:.5)", 2},
      {"(1:5.,2:0)", 2},
  };
  for (const auto& c : cases) {
    int nrows = -1;
    EXPECT_EQ(lopper::NexusTreeCheck(c.tree, nrows), "") << c.tree;
    EXPECT_EQ(nrows, c.nrows) << c.tree;
  }
}

TEST(NexusTreeCheck, NamesTheFaultAndItsPosition) {
  struct Case {
    std::string tree, problem;
  } const cases[] = {
      {"", "empty tree string"},
      {"  ", "empty tree string"},
      {"1", "character 1: expected '(' to open the tree, found '1'"},
      {"((1,2),3", "character 9: unexpected end of tree string (unbalanced parentheses)"},
      {"((1,2),3))", "character 10: text after the end of the tree"},
      {"(1,2);", "character 6: text after the end of the tree"},
      {"(1,2):0.5", "character 6: text after the end of the tree"},
      {"(1,2,3)", "character 5: a node with more than two children"},
      {"((1),2)", "character 4: a node with only one child"},
      {"(1,)", "character 4: expected a leaf number or '(', found ')'"},
      {"(,1)", "character 2: expected a leaf number or '(', found ','"},
      {"(1 2,3)", "character 4: expected ',', ')' or ':', found '2'"},
      {"(1,a)", "character 4: expected a leaf number or '(', found 'a'"},
      {"(1:,2)", "character 4: empty branch length"},
      {"(1:-0.5,2)", "character 4: signed branch length"},
      {"(1:+3,2)", "character 4: signed branch length"},
      {"(1:1e5,2)", "character 5: expected ',', ')' or ':', found 'e'"},
      {"(1: 5,2)", "character 4: empty branch length"},
      {"(1:1.2.3,2)", "character 4: malformed branch length \"1.2.3\""},
      {"(1:.,2)", "character 4: malformed branch length \".\""},
      {"(0,1)", "character 2: leaf number 0 (leaves are numbered from 1)"},
      {"(1,3)", "character 4: leaf number 3 is larger than the number of leaves (2)"},
      {"(1,99999999999999999999)",
       "character 4: leaf number 99999999999999999999 is larger than the number of leaves (2)"},
      {"((1,2),(2,3))", "character 9: leaf number 2 occurs twice"},
      {"(1,((3:1,2),1))", "character 13: leaf number 1 occurs twice"},
  };
  for (const auto& c : cases) {
    int nrows = -1;
    EXPECT_EQ(lopper::NexusTreeCheck(c.tree, nrows), c.problem) << c.tree;
    EXPECT_EQ(nrows, -1) << c.tree;
  }
}

TEST(ReorderTree, ReversesRecordsAndRenumbersReferences) {
  struct Case {
    std::string tree;
    std::vector<Node> reordered;
  } const cases[] = {
      {"(1,2)", {{0, 1, kUnset}}},
      {"((1,2),3)", {{0, 1, kUnset}, {-1, 2, kUnset}}},
      {"((1,2),(3,4))", {{2, 3, kUnset}, {0, 1, kUnset}, {-2, -1, kUnset}}},
      {"(1:1,(2:2,(3:3,(4:4,5:4):3):2):1)", {{3, 4, 4}, {2, -1, 3}, {1, -2, 2}, {0, -3, 1}}},
  };
  for (const auto& c : cases) {
    Parsed p = ParseBoth(c.tree);
    lopper::ReorderTree(p.nodes.data(), p.nrows);
    EXPECT_EQ(p.nodes, c.reordered) << c.tree;
  }
}

}  // namespace
