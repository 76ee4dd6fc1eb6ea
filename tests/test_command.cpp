// The built command, run in a scratch directory; whole outputs compared byte
// for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "options_table.h"
#include "test_util.h"

namespace {

using lopper_test::ReadFile;
using lopper_test::RunResult;
using lopper_test::TempDir;
using lopper_test::WriteFile;
namespace fs = std::filesystem;

// Characterisation: the banner as lopper prints it, misspelling included.
const std::string kBanner =
    "******************************************\n"
    "*            Welcome to the              *\n"
    "*         tree cuting application        *\n"
    "*                 Ver. 0.2               *\n"
    "*                                        *\n"
    "*        by the lopper developers        *\n"
    "******************************************\n"
    "                                          \n"
    "            This reads a Nexus            \n"
    "  tree file and extract clusters from it  \n"
    "                                          \n";
const std::string kTable = lopper_test::kOptionsTable;

std::string Echo(const std::string& nexus, int level, const std::string& out) {
  return "Options of your run:\nNexus file Name: " + nexus +
         "\nCut tree at level: " + std::to_string(level) + "\nOutput cluster file name: " + out +
         "\n";
}

std::string Nexus(const std::vector<std::string>& names, const std::string& tree) {
  std::string s = "#NEXUS\nBEGIN TREES;\n[!]\n\t TRANSLATE\n";
  for (std::size_t i = 0; i < names.size(); i++)
    s += "\t \t " + std::to_string(i + 1) + "\t" + names[i] + (i + 1 < names.size() ? ",\n" : "\n");
  return s + "\t \t ;\n\t TREE t.nex = " + tree + ";\nENDBLOCK;\n";
}

RunResult Lopper(const TempDir& dir, const std::vector<std::string>& args) {
  return lopper_test::RunProgram(dir, LOPPER_EXE, args);
}

TEST(Command, CutsTreesAndListsClusters) {
  struct Case {
    std::vector<std::string> names;
    std::string tree;
    int level;
    std::string listing;
  } const cases[] = {
      {{"alpha", "beta", "gamma"}, "((1,2),3)", 2, "alpha\t1\nbeta\t1\ngamma\t0\n"},
      {{"a", "b", "c", "d"}, "((1,2),(3,4))", 2, "a\t0\nb\t0\nc\t1\nd\t1\n"},
      // The undone merges follow the opening parentheses, not the heights.
      {{"a", "b", "c", "d"}, "((1:9,2:9):1,(3:1,4:1):1)", 3, "a\t0\nb\t1\nc\t2\nd\t2\n"},
      {{"a", "b", "c", "d"}, "((1,2),(3,4))", 4, "a\t0\nb\t1\nc\t2\nd\t3\n"},
      {{"a", "b", "c", "d"}, "((1,2),(3,4))", 1, "a\t0\nb\t0\nc\t0\nd\t0\n"},
      {{"left one", "right one"}, "(1,2)", 2, "left one\t0\nright one\t1\n"},
      {{"x", "y", "z"}, "(3:50.000,(1:25.000,2:25.000):50.000)", 2, "x\t1\ny\t1\nz\t0\n"},
      // One-character names, as the writer writes them.
      {{"p", "q", "r"}, "(2,(1,3))", 3, "p\t1\nq\t0\nr\t2\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    WriteFile(dir / "t.nex", Nexus(c.names, c.tree));
    const RunResult r = Lopper(dir, {"-N", "t.nex", "-L", std::to_string(c.level)});
    EXPECT_EQ(r.status, 0) << c.tree;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kBanner + Echo("t.nex", c.level, "Out.clu") + "Clusters list:\n" + c.listing);
    EXPECT_EQ(ReadFile(dir / "Out.clu"), c.listing) << c.tree;
  }
}

// Leaf L is named by the entry numbered L, wherever it stands; quotes and
// a ";" closing the last entry are Nexus syntax, not part of the name.
TEST(Command, TranslateNumbersAndNexusQuotingNameTheLeaves) {
  struct Case {
    std::string table, listing;
  } const cases[] = {
      {"\t3 cherry,\n\t1 apple,\n\t2 banana\n;\n", "apple\t1\nbanana\t1\ncherry\t0\n"},
      {"\t2\tb,\n\t3\tc,\n\t1\ta;\n", "a\t1\nb\t1\nc\t0\n"},
      {"\t1 'heat shock',\n\t2 'cow''s milk'\n\t3 plum ;\n",
       "heat shock\t1\ncow's milk\t1\nplum\t0\n"},
      {"\t1 'x;y',\n\t2 b\n\t3 c;\n\t1 after the table\n", "x;y\t1\nb\t1\nc\t0\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    WriteFile(dir / "t.nex",
              "#NEXUS\nBEGIN TREES;\nTRANSLATE\n" + c.table + "TREE t = ((1,2),3);\nEND;\n");
    const RunResult r = Lopper(dir, {"-N", "t.nex", "-L", "2"});
    EXPECT_EQ(r.status, 0) << c.table << r.err;
    EXPECT_EQ(ReadFile(dir / "Out.clu"), c.listing) << c.table;
  }
}

// --tree picks a tree of several by name or position; the last by default.
TEST(Command, TreeChoosesAmongSeveral) {
  TempDir dir;
  WriteFile(dir / "t.nex",
            "#NEXUS\nBEGIN TREES;\nTRANSLATE 1 a, 2 b, 3 c;\nTREE first = ((1,2),3);\n"
            "TREE second = ((1,3),2);\nEND;\n");
  struct Case {
    std::vector<std::string> choice;
    std::string listing;
  } const cases[] = {
      {{}, "a\t1\nb\t0\nc\t1\n"},
      {{"--tree", "first"}, "a\t1\nb\t1\nc\t0\n"},
      {{"--tree", "1"}, "a\t1\nb\t1\nc\t0\n"},
      {{"--tree", "2"}, "a\t1\nb\t0\nc\t1\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"-N", "t.nex", "-L", "2"};
    args.insert(args.end(), c.choice.begin(), c.choice.end());
    const RunResult r = Lopper(dir, args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "Out.clu"), c.listing) << (c.choice.empty() ? "" : c.choice[1]);
  }
  const RunResult unknown = Lopper(dir, {"-N", "t.nex", "-L", "2", "--tree", "third"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("third"), std::string::npos) << unknown.err;
}

TEST(Command, OutnameAndExistingFiles) {
  TempDir dir;
  WriteFile(dir / "t.nex", Nexus({"a", "b"}, "(1,2)"));
  WriteFile(dir / "Out.clu", "a much longer old content\nthat must go entirely\n");
  ::chmod((dir / "Out.clu").c_str(), 0640);
  EXPECT_EQ(Lopper(dir, {"-N", "t.nex", "-L", "2"}).status, 0);
  EXPECT_EQ(ReadFile(dir / "Out.clu"), "a\t0\nb\t1\n");
  EXPECT_EQ(fs::status(dir / "Out.clu").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  const RunResult r = Lopper(dir, {"-N", "t.nex", "-L", "1", "-O", "my clusters.clu"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kBanner + Echo("t.nex", 1, "my clusters.clu") + "Clusters list:\na\t0\nb\t0\n");
  EXPECT_EQ(ReadFile(dir / "my clusters.clu"), "a\t0\nb\t0\n");

  // A link keeps being a link; the file it points to gets the list.
  fs::create_symlink("target.clu", dir / "link.clu");
  WriteFile(dir / "target.clu", "old\n");
  EXPECT_EQ(Lopper(dir, {"-N", "t.nex", "-L", "2", "-O", "link.clu"}).status, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.clu"));
  EXPECT_EQ(ReadFile(dir / "target.clu"), "a\t0\nb\t1\n");

  // Devices are written, never replaced.
  EXPECT_EQ(Lopper(dir, {"-N", "t.nex", "-L", "2", "-O", "/dev/null"}).status, 0);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  for (const auto& entry : fs::directory_iterator(dir.str()))
    EXPECT_EQ(entry.path().filename().string().rfind(".", 0), std::string::npos)
        << "temporary file left: " << entry.path();
}

const std::string kStray = "too many positional options have been specified on the command line\n";

// A phylogeny with a node of three children and support labels, cut by
// the rules defined on it, with clusters worked out by hand: heights X 1,
// Y 2, root 4; largest leaf distances X 2, Y 3, root 7.5.
TEST(Command, RulesCutTreesOfManyChildrenAndHonourSupport) {
  const std::string newick = "((a:1,b:1,c:1)90:2,(d:1,e:2)40:1.5,f:4);\n";
  struct Case {
    std::vector<std::string> rule;
    std::string clusters;  // a ... f
  } const cases[] = {
      {{"--height", "1.5"}, "0 0 0 1 2 3"},
      {{"--height", "2"}, "0 0 0 1 1 2"},
      {{"--height", "2", "--min-size", "2"}, "0 0 0 1 1 -1"},
      {{"--clade", "max", "--threshold", "3"}, "0 0 0 1 1 2"},
      {{"--clade", "max", "--threshold", "10"}, "0 0 0 0 0 0"},
      {{"--clade", "max", "--threshold", "10", "--support", "50"}, "0 0 0 1 1 2"},
      {{"--clade", "max", "--threshold", "10", "--support", "30"}, "0 0 0 0 0 0"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    WriteFile(dir / "t.nwk", newick);
    std::vector<std::string> args{"-N", "t.nwk", "-O", "t.clu"};
    args.insert(args.end(), c.rule.begin(), c.rule.end());
    const RunResult r = Lopper(dir, args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(ReadFile(dir / "t.clu"));
    std::string name, clusters;
    for (int id; lines >> name >> id;)
      clusters += (clusters.empty() ? "" : " ") + std::to_string(id);
    EXPECT_EQ(clusters, c.clusters) << c.rule[0] << " " << c.rule[1];
  }
  for (const char* rule : {"-L", "--inconsistent"}) {
    TempDir dir;
    WriteFile(dir / "t.nwk", newick);
    const RunResult r = Lopper(dir, {"-N", "t.nwk", rule, "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("t.nwk: line 1, character 1: a node of 3 children; "), std::string::npos)
        << r.err;
  }
}

TEST(Command, HelpAndRejectedCommandLines) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string after_banner;
  } const cases[] = {
      {{"-h"}, 0, kTable + "\n"},
      {{"--help", "-N", "t.nex", "-L", "2"}, 0, kTable + "\n"},
      {{}, 2, kTable + "\n"},
      {{"-L", "5"}, 2, kTable + "\n"},
      {{"-N", "t.nex"}, 2, kTable + "\n"},
      {{"-N", "t.nex", "--Level=-1"}, 2, kTable + "\n"},
      {{"-N", "t.nex", "-L", "two"},
       2,
       kTable + "\n\nthe argument ('two') for option '--Level' is invalid\n"},
      {{"-N", "t.nex", "-L", "2", "--color"}, 2, kTable + "\n\nunrecognised option '--color'\n"},
      {{"-N", "t.nex", "b.nex", "-L", "2"}, 2, kTable + "\n\n" + kStray},
      {{"-N", "t.nex", "-L", "2", "5"}, 2, kTable + "\n\n" + kStray},
      {{"--version"}, 0, "lopper 0.2.0\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    WriteFile(dir / "t.nex", Nexus({"a", "b"}, "(1,2)"));
    const RunResult r = Lopper(dir, c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, kBanner + c.after_banner);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fs::exists(dir / "Out.clu"));
  }
}

TEST(Command, BadInputIsReportedAndLeavesTheClusterFileAlone) {
  const std::string names3 = "\t TRANSLATE\n\t \t 1\ta,\n\t \t 2\tb,\n\t \t 3\tc\n\t \t ;\n";
  struct Case {
    std::string content;  // empty: no Nexus file at all
    int level;
    std::string message;
  } const cases[] = {
      {"", 2, "lopper: t.nex: cannot read: No such file or directory\n"},
      {names3, 2, "lopper: t.nex: no TREE statement\n"},
      {names3 + "TREE t = ((1,2),3;\n", 2,
       "lopper: t.nex: line 6, character 18: expected ',', ')' or ':', found ';'\n"},
      {names3 + "TREE t = ((1,2),3));\n", 2,
       "lopper: t.nex: line 6, character 19: expected ';' after the tree, found ')'\n"},
      {names3 + "TREE t = (1,2,3);\n", 2,
       "lopper: t.nex: line 6, character 10: a node of 3 children; cutting by nesting (-L) needs "
       "every node to have two children (--height, --dynamic and --clade cut such trees)\n"},
      {names3 + "TREE t = ((1),2,3);\n", 2,
       "lopper: t.nex: line 6, character 13: a node with only one child\n"},
      {names3 + "TREE t = ((0,1),2);\n", 2,
       "lopper: t.nex: line 6, character 12: leaf number 0 is outside 1..3 (the TRANSLATE "
       "table's numbers)\n"},
      {names3 + "TREE t = ((1,4),2);\n", 2,
       "lopper: t.nex: line 6, character 14: leaf number 4 is outside 1..3 (the TRANSLATE "
       "table's numbers)\n"},
      {names3 + "TREE t = ((1,2),2);\n", 2,
       "lopper: t.nex: line 6, character 17: leaf '2' occurs twice\n"},
      {names3 + "TREE t = ((1,2),(3,4));\n", 2,
       "lopper: t.nex: line 2, character 5: the TRANSLATE table names 3 elements but the tree has "
       "4 leaves\n"},
      {names3 + "TREE t = (1,2);\n", 2,
       "lopper: t.nex: line 2, character 5: the TRANSLATE table names 3 elements but the tree has "
       "2 leaves\n"},
      {"TRANSLATE\n 1 a,\n 3 b,\n 1 c\n;\nTREE t = ((1,2),3);\n", 2,
       "lopper: t.nex: line 4, character 2: TRANSLATE number 1 occurs twice (also on line 2)\n"},
      {"TRANSLATE\n 1 a,\n 4 b,\n 2 c\n;\nTREE t = ((1,2),3);\n", 2,
       "lopper: t.nex: line 3, character 2: TRANSLATE number 4 is outside 1..3 (the tree has 3 "
       "leaves)\n"},
      {"TRANSLATE\n 1 a,\n 99999999999999999 b,\n 2 c\n;\nTREE t = ((1,2),3);\n", 2,
       "lopper: t.nex: line 3, character 2: TRANSLATE number too large is outside 1..3 (the tree "
       "has 3 leaves)\n"},
      {"TRANSLATE\n 1 a,\n 2 'b\tc',\n 3 d\n;\nTREE t = ((1,2),3);\n", 2,
       "lopper: t.nex: the name of leaf 2 contains a tab or line break, which the cluster file "
       "cannot hold\n"},
      {names3 + "TREE t = ((1,2),3);\n", 0,
       "lopper: t.nex: Level 0 is outside 1..3 (the tree has 3 elements)\n"},
      {names3 + "TREE t = ((1,2),3);\n", 4,
       "lopper: t.nex: Level 4 is outside 1..3 (the tree has 3 elements)\n"},
      {names3 + "TREE t = ((1,2),3);\n", -2,
       "lopper: t.nex: Level -2 is outside 1..3 (the tree has 3 elements)\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    if (!c.content.empty()) WriteFile(dir / "t.nex", c.content);
    WriteFile(dir / "Out.clu", "previous run\n");
    const RunResult r = Lopper(dir, {"-N", "t.nex", "-L", std::to_string(c.level)});
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, kBanner + Echo("t.nex", c.level, "Out.clu"));
    EXPECT_EQ(ReadFile(dir / "Out.clu"), "previous run\n");
  }
}

TEST(Command, UnwritableClusterFileIsReported) {
  struct Case {
    std::string outname, message;
    bool listed;  // the listing was printed before the write failed
  } const cases[] = {
      {"no/such/dir/x.clu",
       "lopper: no/such/dir/x.clu: cannot write cluster file: No such file or directory\n", false},
      {"sub", "lopper: sub: cannot write cluster file: Is a directory\n", false},
      {"/dev/full", "lopper: /dev/full: cannot write cluster file: No space left on device\n",
       true},
  };
  for (const auto& c : cases) {
    TempDir dir;
    WriteFile(dir / "t.nex", Nexus({"a", "b"}, "(1,2)"));
    fs::create_directory(dir / "sub");
    const RunResult r = Lopper(dir, {"-N", "t.nex", "-L", "2", "-O", c.outname});
    EXPECT_EQ(r.status, 1) << c.outname;
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, kBanner + Echo("t.nex", 2, c.outname) +
                         (c.listed ? "Clusters list:\na\t0\nb\t1\n" : ""));
    EXPECT_TRUE(fs::is_empty(dir / "sub"));
  }
}

TEST(Command, ClusterFileNeverReplacesTheNexusFile) {
  TempDir dir;
  const std::string tree = Nexus({"a", "b"}, "(1,2)");
  WriteFile(dir / "t.nex", tree);
  fs::create_symlink("t.nex", dir / "link.nex");
  fs::create_hard_link(dir / "t.nex", dir / "hard.nex");
  for (const std::string out : {"t.nex", "./t.nex", "link.nex", "hard.nex"}) {
    const RunResult r = Lopper(dir, {"-N", "t.nex", "-L", "2", "-O", out});
    EXPECT_EQ(r.status, 1) << out;
    EXPECT_EQ(r.err, "lopper: " + out +
                         ": the cluster file would replace the Nexus file it is read from\n");
    EXPECT_EQ(ReadFile(dir / "t.nex"), tree) << out;
  }
}

// A run ended by a signal while its listing is blocked on a full pipe
// leaves no temporary cluster file and dies of that signal.
TEST(Command, SignalsRemoveTheTemporaryFile) {
  TempDir dir;
  ASSERT_EQ(
      lopper_test::RunProgram(dir, LOPPER_MAKE_TREE, {"200000", "5", "random", "big.nex"}).status,
      0);
  auto temporary = [&dir] {
    for (const auto& entry : fs::directory_iterator(dir.str()))
      if (entry.path().filename().string().rfind(".Out.clu.", 0) == 0) return true;
    return false;
  };
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      if (::chdir(dir.str().c_str()) == 0)
        ::execl(LOPPER_EXE, LOPPER_EXE, "-N", "big.nex", "-L", "3", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    // The listing has begun (the file is open) once its heading arrives.
    std::string seen;
    char buffer[4096];
    for (ssize_t got; seen.find("Clusters list:") == std::string::npos &&
                      (got = ::read(out[0], buffer, sizeof buffer)) > 0;)
      seen.append(buffer, static_cast<std::size_t>(got));
    EXPECT_TRUE(temporary()) << sig;
    if (sig == SIGPIPE)
      ::close(out[0]);  // the next write of the listing raises it
    else
      ::kill(pid, sig);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (sig != SIGPIPE) ::close(out[0]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig << " status " << status;
    EXPECT_FALSE(temporary()) << sig;
    EXPECT_FALSE(fs::exists(dir / "Out.clu")) << sig;
  }
}

TEST(Command, DirectoryAsNexusFileIsReported) {
  TempDir dir;
  fs::create_directory(dir / "t.nex");
  const RunResult r = Lopper(dir, {"-N", "t.nex", "-L", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "lopper: t.nex: cannot read: Is a directory\n");
  EXPECT_FALSE(fs::exists(dir / "Out.clu"));
}

// The cut by nesting of the tree in a Nexus file, worked from the tree's
// text as the README states it: the merges of the level-1 first opening
// parentheses are undone; the elements directly inside one are numbered
// first (by their merge's parenthesis, then as written), then each
// remaining subtree by its opening parenthesis. Leaf number L is element
// L-1; the result lists, for each element, its name element_L and cluster.
std::string NestingCut(const std::string& nexus, int level) {
  const std::string text = nexus.substr(nexus.find('=', nexus.find("TREE")) + 1);
  std::vector<int> parent, open;            // merges by opening parenthesis
  std::vector<std::pair<int, int>> leaves;  // (innermost merge, element)
  bool leaf_next = false;                   // after '(' or ','
  for (std::size_t p = 0; p < text.size() && text[p] != ';'; p++) {
    const char ch = text[p];
    if (ch == '(') {
      parent.push_back(open.empty() ? -1 : open.back());
      open.push_back(static_cast<int>(parent.size()) - 1);
    } else if (ch == ')') {
      open.pop_back();
    } else if (ch == ':') {
      p = text.find_first_of(",);", p) - 1;
    } else if (leaf_next && std::isdigit(static_cast<unsigned char>(ch))) {
      std::size_t end = 0;
      leaves.emplace_back(open.back(), std::stoi(text.substr(p, 12), &end) - 1);
      p += end - 1;
    }
    if (!std::isspace(static_cast<unsigned char>(ch))) leaf_next = ch == '(' || ch == ',';
  }
  const int undone = level - 1;
  std::vector<std::pair<int, int>> direct;
  for (const auto& leaf : leaves)
    if (leaf.first < undone) direct.push_back(leaf);
  std::stable_sort(direct.begin(), direct.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<int> id(leaves.size(), -1), cluster(parent.size(), -1);
  int next = 0;
  for (const auto& leaf : direct) id[leaf.second] = next++;
  for (std::size_t m = undone; m < parent.size(); m++)
    cluster[m] = parent[m] < undone ? next++ : cluster[parent[m]];
  for (const auto& leaf : leaves)
    if (leaf.first >= undone) id[leaf.second] = cluster[leaf.first];
  std::string listing;
  for (std::size_t e = 0; e < id.size(); e++)
    listing += "element_" + std::to_string(e + 1) + "\t" + std::to_string(id[e]) + "\n";
  return listing;
}

// No capacity limit: 100,000 elements, as a chain (the deepest nesting) and
// as a random tree; the file the command writes agrees with its listing.
TEST(Command, LargeTrees) {
  for (const std::string shape : {"chain", "random"}) {
    TempDir dir;
    ASSERT_EQ(
        lopper_test::RunProgram(dir, LOPPER_MAKE_TREE, {"100000", "7", shape, "big.nex"}).status,
        0);
    const RunResult r = Lopper(dir, {"-N", "big.nex", "-L", "100"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string clusters = ReadFile(dir / "Out.clu");
    EXPECT_EQ(r.out, kBanner + Echo("big.nex", 100, "Out.clu") + "Clusters list:\n" + clusters);
    EXPECT_TRUE(clusters == NestingCut(ReadFile(dir / "big.nex"), 100)) << shape << ", seed 7";
  }
}

// Hostile inputs: each a correct result or a clear error, never a crash.
TEST(Command, HostileInputs) {
  TempDir dir;
  const std::string huge(100 * 1000 * 1000, 'n');
  struct Case {
    const char* what;
    std::string content, level, err;
    int status;
    std::string clusters;
  } const cases[] = {
      {"100 MB name", "TRANSLATE\n\t1\t" + huge + "\n\t2\tb\n;\nTREE t = (1,2);\n", "2", "", 0,
       huge + "\t0\nb\t1\n"},
      {"100 MB tree line",
       "TRANSLATE\n\t1\ta\n\t2\tb\n;\nTREE t = (1," + std::string(huge.size(), ' ') + "2);\n", "1",
       "", 0, "a\t0\nb\t0\n"},
      {"NUL and invalid UTF-8 in names",
       std::string("TRANSLATE\n\t1\ta\0b\xff\xfe\n\t2\tc\n;\nTREE t = (1,2);\n", 42), "2", "", 0,
       std::string("a\0b\xff\xfe\t0\nc\t1\n", 12)},
      {"leaf number beyond int",
       "TRANSLATE\n\t1\ta\n\t2\tb\n;\nTREE t = (1,99999999999999999999);\n", "2",
       "lopper: t.nex: line 5, character 13: leaf number 99999999999999999999 is outside 1..2 (the "
       "TRANSLATE table's numbers)\n",
       1, ""},
  };
  for (const auto& c : cases) {
    lopper_test::WriteFile(dir / "t.nex", c.content);
    std::filesystem::remove(dir / "Out.clu");
    const RunResult r = Lopper(dir, {"-N", "t.nex", "-L", c.level});
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(r.err, c.err) << c.what;
    if (c.status == 0) {
      EXPECT_TRUE(ReadFile(dir / "Out.clu") == c.clusters) << c.what;
    }
  }
  const RunResult big_level = Lopper(dir, {"-N", "t.nex", "-L", "99999999999"});
  EXPECT_EQ(big_level.status, 2);
  EXPECT_NE(big_level.out.find("the argument ('99999999999') for option '--Level' is invalid"),
            std::string::npos);

  // Standard output that cannot be written.
  lopper_test::WriteFile(dir / "t.nex", Nexus({"a", "b"}, "(1,2)"));
  lopper_test::WriteFile(dir / "Out.clu", "previous run\n");
  const RunResult full =
      lopper_test::RunProgram(dir, LOPPER_EXE, {"-N", "t.nex", "-L", "2"}, "/dev/full");
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "lopper: cannot write standard output\n");
  EXPECT_EQ(ReadFile(dir / "Out.clu"), "previous run\n");
  const std::string closed =
      "cd '" + dir.str() + "' && '" LOPPER_EXE "' -N t.nex -L 2 >&- 2>err.txt";
  const int raw = std::system(closed.c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << raw;
  EXPECT_EQ(ReadFile(dir / "err.txt"), "lopper: cannot write standard output\n");
  EXPECT_EQ(ReadFile(dir / "Out.clu"), "previous run\n");
}

// A tree nested 1,000,000 levels deep, with a TRANSLATE table of 1,000,000
// entries: written by the writer, read, checked, cut.
TEST(Command, MillionLevelsDeep) {
  TempDir dir;
  ASSERT_EQ(
      lopper_test::RunProgram(dir, LOPPER_MAKE_TREE, {"1000000", "3", "chain", "deep.nex"}).status,
      0);
  const RunResult r = Lopper(dir, {"-N", "deep.nex", "-L", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadFile(dir / "Out.clu") == NestingCut(ReadFile(dir / "deep.nex"), 3))
      << "chain, seed 3";
}

}  // namespace
