// The example pipeline: cluster the bundled table, write the tree, cut it
// with the command.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "NexusTree.h"
#include "test_util.h"
#include "tree_gen.h"

namespace {

using lopper_test::ReadFile;
using lopper_test::RunProgram;
using lopper_test::TempDir;

const std::vector<std::string> kNames{"alpha", "beta", "gamma", "delta",     "epsilon",
                                      "zeta",  "eta",  "theta", "heat shock"};

lopper_test::Tree ReadBack(const std::string& path) {
  const lopper::TreeReadResult r = lopper::ReadNexusTree(path);
  EXPECT_EQ(r.error, "");
  if (!r.tree) return {};
  EXPECT_EQ(r.tree->names, kNames);
  return r.tree->nodes;
}

TEST(Example, ClusterTableThenCut) {
  const std::string table = LOPPER_SOURCE_DIR "/examples/profiles.tsv";
  for (const char* method : {"s", "m", "a", "c"}) {
    for (const char* dist : {"e", "b", "c", "s"}) {
      TempDir dir;
      const auto made =
          RunProgram(dir, LOPPER_CLUSTER_TABLE, {table, method, dist, "profiles.nex"});
      ASSERT_EQ(made.status, 0) << made.err;
      std::set<std::vector<int>> clades;
      for (const auto& c : lopper_test::Clades(ReadBack(dir / "profiles.nex")))
        clades.insert(c.first);
      for (int k = 1; k <= 9; k++) {
        const auto cut =
            RunProgram(dir, LOPPER_EXE, {"-N", "profiles.nex", "-L", std::to_string(k)});
        ASSERT_EQ(cut.status, 0) << cut.err;
        std::istringstream lines(ReadFile(dir / "Out.clu"));
        std::string line;
        std::map<std::string, std::vector<int>> clusters;
        for (int e = 0; std::getline(lines, line); e++) {
          EXPECT_EQ(line.substr(0, line.find('\t')), kNames[e]);
          clusters[line.substr(line.find('\t') + 1)].push_back(e);
        }
        EXPECT_EQ(clusters.size(), static_cast<std::size_t>(k)) << method << dist;
        for (const auto& [id, members] : clusters)
          EXPECT_TRUE(members.size() == 1 || clades.count(members)) << method << dist << " k " << k;
      }
    }
  }
}

TEST(Example, BadTablesAreReported) {
  TempDir dir;
  const struct {
    std::string content, message;
  } cases[] = {
      {"g\ta\tb\nx\t1\t2\ny\t1\n", "line 3 has 2 cells, the header 3\n"},
      {"g\ta\tb\nx\t1\t2\ny\t1\tseven\n", "line 3, column 3: not a number: seven\n"},
      {"g\ta\nx\t1\n", "need at least two rows and one column of values\n"},
  };
  for (const auto& c : cases) {
    lopper_test::WriteFile(dir / "t.tsv", c.content);
    const auto r = RunProgram(dir, LOPPER_CLUSTER_TABLE, {"t.tsv", "a", "e", "t.nex"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "lopper_cluster_table: t.tsv: " + c.message);
    EXPECT_FALSE(std::filesystem::exists(dir / "t.nex"));
  }
  EXPECT_EQ(RunProgram(dir, LOPPER_CLUSTER_TABLE, {"t.tsv", "q", "e", "t.nex"}).status, 2);
}

}  // namespace
