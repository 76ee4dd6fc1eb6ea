// The memory lopper-cluster counts on, from the text of /proc and the
// control groups' files as the system writes them.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "memory.h"

namespace {

using lopper::GroupLimit;
using Bytes = std::optional<std::uint64_t>;
constexpr std::uint64_t kKiB = 1024;

TEST(Memory, ProcFilesAreReadByTheirKeys) {
  const std::string meminfo =
      "MemTotal:       24596916 kB\nMemFree:        22018556 kB\nMemAvailable:   23101980 kB\n";
  EXPECT_EQ(lopper::MemAvailableBytes(meminfo), Bytes(23101980 * kKiB));
  EXPECT_EQ(lopper::MemAvailableBytes("MemTotal: 1 kB\n"), std::nullopt);  // kernels before 3.14
  EXPECT_EQ(lopper::MappedBytes("Name:\tlopper-cluster\nVmPeak:\t  9000 kB\nVmSize:\t  8000 kB\n"),
            Bytes(8000 * kKiB));
}

TEST(Memory, GroupsLeaveTheirLimitLessTheirUsage) {
  struct Case {
    GroupLimit group;
    Bytes left;
  } const cases[] = {
      {{"1073741824\n", "73741824\n"}, 1000000000},
      {{"max\n", "5\n"}, std::nullopt},
      {{"9223372036854771712\n", "5\n"}, std::nullopt},  // v1 without a limit
      {{"", ""}, std::nullopt},                          // no such file
      {{"100\n", "200\n"}, 0},
      {{"100\n", ""}, 100},
  };
  for (const Case& c : cases) EXPECT_EQ(lopper::GroupLeft(c.group), c.left) << c.group.limit;
}

TEST(Memory, TheProcesssGroupIsFoundForEitherVersion) {
  const std::string hybrid = "5:devices:/\n4:cpu,memory:/slurm/uid_1/job_7\n0::/slurm/job_7/step\n";
  EXPECT_EQ(lopper::GroupPath(hybrid, true), std::optional<std::string>("/slurm/job_7/step"));
  EXPECT_EQ(lopper::GroupPath(hybrid, false), std::optional<std::string>("/slurm/uid_1/job_7"));
  EXPECT_EQ(lopper::GroupPath("0::/\n", false), std::nullopt);
  EXPECT_EQ(lopper::GroupPath("4:memory:/a\n", true), std::nullopt);
}

TEST(Memory, TheLeastOfTheSourcesIsAvailable) {
  lopper::MemoryFacts facts;
  EXPECT_EQ(lopper::AvailableBytes(facts), std::nullopt);
  facts.meminfo = "MemAvailable: 4000 kB\n";
  EXPECT_EQ(lopper::AvailableBytes(facts), Bytes(4000 * kKiB));
  facts.status = "VmSize: 1000 kB\n";
  facts.address_limit = 3000 * kKiB;  // less what the process maps already
  EXPECT_EQ(lopper::AvailableBytes(facts), Bytes(2000 * kKiB));
  facts.groups = {{"max", "1"}, {std::to_string(1500 * kKiB), std::to_string(200 * kKiB)}};
  EXPECT_EQ(lopper::AvailableBytes(facts), Bytes(1300 * kKiB));
  facts.address_limit = 500 * kKiB;
  EXPECT_EQ(lopper::AvailableBytes(facts), Bytes(0));
  // This machine's own files give some bound.
  EXPECT_GT(lopper::AvailableBytes(lopper::ReadMemoryFacts()).value_or(0), 0u);
}

}  // namespace
