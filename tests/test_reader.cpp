#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NexusTree.h"
#include "test_util.h"

namespace {

using Names = std::vector<std::string>;

struct Read {
  bool ok;
  Names names;
  std::string nexus;
};

Read ReadText(const std::string& content) {
  lopper_test::TempDir dir;
  lopper_test::WriteFile(dir / "t.nex", content);
  Read r{false, {}, "stale"};
  r.ok = lopper::NexusFileIn(r.names, dir / "t.nex", r.nexus);
  return r;
}

const std::string kTable = "\t TRANSLATE\n\t \t 1\talpha,\n\t \t 2\tbeta\n\t \t ;\n";

// Characterisation: the old reader's quirks below (a tree line without the
// tree form taken whole, keywords only in capitals, trailing commas dropped,
// unclosed quotes kept) are pinned from lopper's own output, not a rule.
TEST(NexusFileIn, ReadsNamesAndTreeStringCharacterised) {
  struct Case {
    const char* what;
    std::string content;
    Names names;
    std::string nexus;
  } const cases[] = {
      {"example", kTable + "\t TREE USER = (1:0.5,2:0.5);\n", {"alpha", "beta"}, "(1:0.5,2:0.5)"},
      {"writer's whole form",
       "#NEXUS\nBEGIN TREES;\n[!]\n" + kTable +
           "\t TREE out.tre = (1:25.000,2:25.000);\nENDBLOCK;\n",
       {"alpha", "beta"},
       "(1:25.000,2:25.000)"},
      {"no TREE line", kTable, {"alpha", "beta"}, ""},
      {"no TRANSLATE line", "\t \t 1\talpha\n\t TREE X = (1,2);\n", {}, "(1,2)"},
      {"later TREE wins",
       kTable + "TREE A = (1,2);\nTREE B = (2,1);\n",
       {"alpha", "beta"},
       "(2,1)"},
      {"BEGIN TREES after the tree",
       kTable + "TREE A = (1,2);\nBEGIN TREES;\n",
       {"alpha", "beta"},
       "BEGIN TREES;"},
      {"line without the tree form is taken whole",
       kTable + "\t TREE A = (1,2); \n",
       {"alpha", "beta"},
       "\t TREE A = (1,2); "},
      {"tree after the last '=' followed by '('", "TREE A = x = (1,2);\n", {}, "(1,2)"},
      {"entry numbers are ignored", "TRANSLATE\n 5 a1\n 6 a2\n 7 a3\n", {"a1", "a2", "a3"}, ""},
      {"trailing commas dropped, blanks kept",
       "TRANSLATE\n\t1\talpha ,,,\n\t2\tb, c,\n",
       {"alpha ", "b, c"},
       ""},
      {"keywords only in capitals", "translate\n\t1\talpha\ntree A = (1,2);\n", {}, ""},
      {"two tables are appended",
       "TRANSLATE\n 1 a\n;\nTRANSLATE\n 1 b\n 2 c\n",
       {"a", "b", "c"},
       ""},
      {"table ends at the first other line", "TRANSLATE\n 1 a\nx 2 b\n 3 c\n", {"a"}, ""},
      {"one-character names after one tab",
       "\t TRANSLATE\n\t \t 1\ta,\n\t \t 2\tb\n\t \t ;\n",
       {"a", "b"},
       ""},
      {"CRLF line ends",
       "\t TRANSLATE\r\n\t \t 1\talpha,\r\n\t \t 2\tbeta\r\n\t \t ;\r\n"
       "\t TREE USER = (1,2);\r\n",
       {"alpha", "beta"},
       "(1,2)"},
      {"last line without a line feed is read once", "TRANSLATE\n 1 a\n 2 b", {"a", "b"}, ""},
      {"empty file", "", {}, ""},
      {"numbers 1 ... n name the leaves in any order", "TRANSLATE\n 2 x\n 1 y\n", {"y", "x"}, ""},
      {"quoted names unquoted, ';' after one ends the table",
       "TRANSLATE\n 1 'heat shock',\n 2 'it''s' ;\n 3 c\n",
       {"heat shock", "it's"},
       ""},
      {"';' ends the table, blanks and commas before it dropped",
       "TRANSLATE\n 1 a ,;\n 2 b\n",
       {"a"},
       ""},
      {"a quote not closed, or text after it, keeps the quotes",
       "TRANSLATE\n 1 'a' b\n 2 'c\n 3 ''\n",
       {"'a' b", "'c", ""},
       ""},
  };
  for (const auto& c : cases) {
    const Read r = ReadText(c.content);
    EXPECT_TRUE(r.ok) << c.what;
    EXPECT_EQ(r.names, c.names) << c.what;
    EXPECT_EQ(r.nexus, c.nexus) << c.what;
  }
}

TEST(NexusFileIn, AppendsAfterExistingNames) {
  lopper_test::TempDir dir;
  lopper_test::WriteFile(dir / "t.nex", kTable);
  Names names{"zero"};
  std::string nexus;
  EXPECT_TRUE(lopper::NexusFileIn(names, dir / "t.nex", nexus));
  EXPECT_EQ(names, (Names{"zero", "alpha", "beta"}));
}

TEST(NexusFileIn, UnreadableFileGivesFalseAndNothing) {
  lopper_test::TempDir dir;
  for (const std::string& path : {dir / "missing.nex", dir.str()}) {
    Names names;
    std::string nexus = "stale";
    EXPECT_FALSE(lopper::NexusFileIn(names, path, nexus)) << path;
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(nexus, "");
  }
}

}  // namespace
