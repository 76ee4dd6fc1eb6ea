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

TEST(Memory, ShortfallsNameTheBlocksThatDoNotFit) {
  constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
  const lopper::MemoryBlock matrix = lopper::MatrixBlock(100000, 2);
  EXPECT_EQ(matrix.bytes, 2 * (100000ull * 99999 / 2) * 8);
  const lopper::MemoryBlock picture{"the picture", kGiB / 2};
  const lopper::MemoryBlock none = lopper::MatrixBlock(5000, 0, "columns");
  struct Case {
    std::vector<lopper::MemoryBlock> blocks;
    Bytes available;
    std::optional<std::string> message;
  } const cases[] = {
      {{matrix}, 100 * kGiB, std::nullopt},
      {{matrix}, std::nullopt, std::nullopt},
      {{matrix, none},
       kGiB,
       "the distance matrix of 100000 elements (with its working copy) needs 74.51 GiB, more "
       "than the 1.00 GiB of memory available"},
      {{lopper::MatrixBlock(3000, 1), picture, lopper::MatrixBlock(4000, 2, "columns")},
       kGiB / 2,
       "the run needs 0.65 GiB (the distance matrix of 3000 elements 0.03 GiB, the picture 0.50 "
       "GiB, the distance matrices of 4000 columns 0.12 GiB), more than the 0.50 GiB of memory "
       "available"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(lopper::Shortfall(c.blocks, c.available), c.message) << c.blocks.size();
}

}  // namespace
