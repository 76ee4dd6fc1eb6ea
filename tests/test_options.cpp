#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "LopperInOut.h"
#include "options_table.h"

namespace {

using lopper_test::kOptionsTable;

struct Parsed {
  int result;
  bool usage_error;
  std::string out, NexusFile, OutName;
  int Lvl;
};

Parsed Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "lopper");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  Parsed p{-9, false, "", "", "", -9};
  std::ostringstream out;
  p.result = lopper::UserInterface(static_cast<int>(args.size()), argv.data(), p.NexusFile, p.Lvl,
                                   p.OutName, out, &p.usage_error);
  p.out = out.str();
  return p;
}

std::string Echo(const std::string& nexus, int level, const std::string& out) {
  return "Options of your run:\nNexus file Name: " + nexus +
         "\nCut tree at level: " + std::to_string(level) + "\nOutput cluster file name: " + out +
         "\n";
}

TEST(UserInterface, RunsGoOnWithTheSettingsEchoed) {
  struct Case {
    std::vector<std::string> args;
    std::string nexus, outname;
    int level;
  } const cases[] = {
      {{"-N", "tree.nex", "-L", "3"}, "tree.nex", "Out.clu", 3},
      {{"--Nexus", "tree.nex", "--Level", "3"}, "tree.nex", "Out.clu", 3},
      {{"--Nexus=a b.nex", "--Level=7", "--Outname=my clusters.clu"},
       "a b.nex",
       "my clusters.clu",
       7},
      {{"-L", "2", "-O", "x.clu", "-N", "t"}, "t", "x.clu", 2},
      {{"-Nt.nex", "-L5"}, "t.nex", "Out.clu", 5},
      // The range of Level is checked against the tree later, not here.
      {{"-N", "t", "-L", "0"}, "t", "Out.clu", 0},
      {{"-N", "t", "-L", "-4"}, "t", "Out.clu", -4},
  };
  for (const auto& c : cases) {
    const Parsed p = Parse(c.args);
    EXPECT_EQ(p.result, 0) << c.args[0];
    EXPECT_FALSE(p.usage_error);
    EXPECT_EQ(p.NexusFile, c.nexus);
    EXPECT_EQ(p.Lvl, c.level);
    EXPECT_EQ(p.OutName, c.outname);
    EXPECT_EQ(p.out, Echo(c.nexus, c.level, c.outname));
  }
}

TEST(UserInterface, UsageErrorFlagIsOptional) {
  std::string args[] = {"lopper", "--bogus"};
  char* argv[] = {&args[0][0], &args[1][0], nullptr};
  std::string nexus, out;
  int level = 0;
  std::ostringstream sink;
  EXPECT_EQ(lopper::UserInterface(2, argv, nexus, level, out, sink), 1);
  EXPECT_NE(sink.str().find("unrecognised option '--bogus'"), std::string::npos);
}

// The run stops with the options table alone on `out`.
void ExpectTableAlone(const std::vector<std::string>& args, bool usage_error) {
  const Parsed p = Parse(args);
  EXPECT_EQ(p.result, 1);
  EXPECT_EQ(p.usage_error, usage_error);
  EXPECT_EQ(p.out, std::string(kOptionsTable) + "\n");
}

TEST(UserInterface, HelpWinsOverEverythingElse) {
  const std::vector<std::vector<std::string>> cases = {
      {"-h"}, {"--help"}, {"-h", "-N", "t.nex", "-L", "3"}, {"-N", "t.nex", "--help", "-L", "3"}};
  for (const auto& args : cases) ExpectTableAlone(args, false);
}

TEST(UserInterface, MissingNexusOrLevelPrintsTheTableAlone) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"-L", "5"}, {"-N", "tree.nex"}, {"--Level=-1", "-N", "tree.nex"}, {"-N", "", "-L", "2"}};
  for (const auto& args : cases) ExpectTableAlone(args, true);
}

// Characterisation: Boost.Program_options's own messages (the first five)
// are pinned from lopper's output.
TEST(UserInterface, RejectedCommandLinesPrintTableAndTheLibrarysMessage) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } const cases[] = {
      {{"--bogus"}, "unrecognised option '--bogus'"},
      {{"-N", "t", "-L", "abc"}, "the argument ('abc') for option '--Level' is invalid"},
      {{"-N", "t", "-L", "3x"}, "the argument ('3x') for option '--Level' is invalid"},
      {{"-N", "t", "-L"}, "the required argument for option '--Level' is missing"},
      {{"-N", "a", "-N", "b", "-L", "2"}, "option '--Nexus' cannot be specified more than once"},
      {{"-N", "t", "-L", "2", "--lengths", "edge"},
       "option '--lengths' applies to a cut by branch lengths (--by-height, --height, "
       "--inconsistent, --dynamic, --clade)"},
      {{"-N", "t", "-L", "2", "--height", "1"},
       "choose one cut: --Level, --height, --inconsistent, --dynamic or --clade"},
      {{"-N", "t", "--dynamic", "--clade", "max", "--threshold", "1"},
       "choose one cut: --Level, --height, --inconsistent, --dynamic or --clade"},
      {{"-N", "t", "--height", "1", "--depth", "3"},
       "option '--depth' applies to '--inconsistent'"},
      {{"-N", "t", "--inconsistent", "1", "--depth", "0"}, "option '--depth' must be at least 1"},
      {{"-N", "t", "--height", "1", "--cut-height", "3"},
       "option '--cut-height' applies to '--dynamic'"},
      {{"-N", "t", "--dynamic", "--deep-split", "2"},
       "option '--deep-split' takes 0 or 1 for a tree file (R's deepSplit FALSE or TRUE)"},
      {{"-N", "t", "--clade", "median", "--threshold", "1"},
       "the argument ('median') for option '--clade' is invalid: expected max, avg, sum or single"},
      {{"-N", "t", "--clade", "max"}, "option '--clade' needs '--threshold'"},
      {{"-N", "t", "--height", "1", "--support", "50"}, "option '--support' applies to '--clade'"},
      {{"-N", "t", "--height", "1", "--min-size", "0"}, "option '--min-size' must be at least 1"},
      {{"-N", "t", "--height", "nan"}, "option '--height' needs a number, not NaN"},
      {{"-N", "t", "-L", "2", "--by-height", "--lengths", "up"},
       "the argument ('up') for option '--lengths' is invalid: expected edge or join"},
  };
  for (const auto& c : cases) {
    const Parsed p = Parse(c.args);
    EXPECT_EQ(p.result, 1);
    EXPECT_TRUE(p.usage_error);
    EXPECT_EQ(p.out, std::string(kOptionsTable) + "\n\n" + c.message + "\n");
  }
}

// A rule other than Level needs no Level: its line stands where Level's
// would, and its settings reach the caller (the dynamic cut's minimum size
// is R's 20 unless given).
TEST(UserInterface, RulesNeedNoLevelAndAreEchoed) {
  struct Case {
    std::vector<std::string> args;
    lopper::CutKind kind;
    int min_size;
    std::string line;
  } const cases[] = {
      {{"--height", "0.5"}, lopper::CutKind::kHeight, 0, "Cut tree at height: 0.5"},
      {{"--inconsistent", "1.5", "--depth", "3", "--min-size", "2"},
       lopper::CutKind::kInconsistent,
       2,
       "Cut tree where inconsistency is at most 1.5, depth 3"},
      {{"--dynamic"},
       lopper::CutKind::kDynamic,
       20,
       "Dynamic tree cut: deep split 0, cut height 99% of the highest merge"},
      {{"--dynamic", "--deep-split", "1", "--cut-height", "4", "--min-size", "5"},
       lopper::CutKind::kDynamic,
       5,
       "Dynamic tree cut: deep split 1, cut height 4"},
      {{"--clade", "sum", "--threshold", "2", "--support", "70"},
       lopper::CutKind::kClade,
       0,
       "Clade cut: sum within 2, support at least 70"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"lopper", "-N", "t.nex"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    std::string nexus, outname;
    int level = -1;
    lopper::CutSettings cut;
    std::ostringstream out;
    ASSERT_EQ(lopper::UserInterface(static_cast<int>(argv.size()), argv.data(), nexus, level,
                                    outname, out, nullptr, &cut),
              0)
        << out.str();
    const std::string smallest =
        c.min_size ? "Smallest cluster kept: " + std::to_string(c.min_size) + "\n" : "";
    EXPECT_EQ(out.str(), "Options of your run:\nNexus file Name: t.nex\n" + c.line +
                             "\nOutput cluster file name: Out.clu\n" + smallest);
    EXPECT_EQ(cut.kind, c.kind);
    EXPECT_EQ(cut.min_size, c.min_size);
  }
}

// The choice of tree and cut reaches the caller and is echoed after the
// four lines of every run.
TEST(UserInterface, TreeAndHeightCutAreEchoed) {
  struct Case {
    std::vector<std::string> args;
    lopper::CutSettings cut;
    std::string echo;
  } const cases[] = {
      {{}, {"", false, ""}, ""},
      {{"--tree", "second"}, {"second", false, ""}, "Tree: second\n"},
      {{"--by-height"}, {"", true, ""}, "Cut by height, branch lengths: read from the tree\n"},
      {{"--tree", "2", "--by-height", "--lengths", "join"},
       {"2", true, "join"},
       "Tree: 2\nCut by height, branch lengths: join\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"lopper", "-N", "t.nex", "-L", "3"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    std::string nexus, outname;
    int level = 0;
    lopper::CutSettings cut;
    std::ostringstream out;
    ASSERT_EQ(lopper::UserInterface(static_cast<int>(argv.size()), argv.data(), nexus, level,
                                    outname, out, nullptr, &cut),
              0)
        << c.echo;
    EXPECT_EQ(out.str(), Echo("t.nex", 3, "Out.clu") + c.echo);
    EXPECT_EQ(cut.tree, c.cut.tree);
    EXPECT_EQ(cut.by_height, c.cut.by_height);
    EXPECT_EQ(cut.lengths, c.cut.lengths);
  }
}

}  // namespace
