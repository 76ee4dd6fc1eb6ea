// How much memory lopper-cluster may still take: the least of the machine's
// available memory, the process's address-space limit and its control
// group's limit, as batch systems such as Slurm set them. Reading the
// system's files is kept apart from the arithmetic on their text, so that
// the tests can give any text.
#ifndef LOPPER_CLUSTER_COMMAND_MEMORY_H
#define LOPPER_CLUSTER_COMMAND_MEMORY_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lopper {

// A control group's limit file and its usage file, as text ("" when the
// file is not there).
struct GroupLimit {
  std::string limit;  // cgroup v2 memory.max ("max": none), v1 memory.limit_in_bytes
  std::string usage;  // memory.current, v1 memory.usage_in_bytes
};

// The texts and numbers the memory available is computed from.
struct MemoryFacts {
  std::string meminfo;                         // /proc/meminfo
  std::string status;                          // /proc/self/status
  std::optional<std::uint64_t> address_limit;  // RLIMIT_AS; none: unlimited
  std::vector<GroupLimit> groups;              // the process's group and its ancestors
};

// "MemAvailable: N kB" of /proc/meminfo, in bytes.
std::optional<std::uint64_t> MemAvailableBytes(const std::string& meminfo);

// "VmSize: N kB" of /proc/self/status, in bytes: what the address-space
// limit already counts.
std::optional<std::uint64_t> MappedBytes(const std::string& status);

// What a group's limit leaves: limit - usage, 0 when usage is above it;
// none for "max", a v1 "unlimited" (a number near 2^63) or a missing file.
std::optional<std::uint64_t> GroupLeft(const GroupLimit& group);

// The path of the process's memory group in /proc/self/cgroup's text:
// the cgroup v2 line "0::PATH" when v2 is true, else the v1 line of the
// memory controller; none when there is no such line.
std::optional<std::string> GroupPath(const std::string& cgroup, bool v2);

// The least of what each source leaves; none when no source sets a bound.
std::optional<std::uint64_t> AvailableBytes(const MemoryFacts& facts);

// The facts of the running process, from /proc and /sys/fs/cgroup.
MemoryFacts ReadMemoryFacts();

// Bytes in GiB to two decimals, as "1.25 GiB".
std::string GiB(std::uint64_t bytes);

// One of the large blocks a run holds at once, named for messages.
struct MemoryBlock {
  std::string what;
  std::uint64_t bytes;
};

// `matrices` distance matrices of n elements, n(n-1)/2 doubles each, named
// "the distance matrix of N elements" (with "and its working copy" for 2)
// or "the distance matrices of N noun" (none at all: 0 bytes).
MemoryBlock MatrixBlock(std::uint64_t n, int matrices, const std::string& noun = "elements");

// When blocks together would not fit in `available` bytes, what they need
// and what there is: "WHAT needs X GiB, more than the Y GiB of memory
// available" for one block, "the run needs X GiB (WHAT X1 GiB, ...), more
// than ..." for several (blocks of 0 bytes left out); none when they fit
// or nothing bounds the memory.
std::optional<std::string> Shortfall(const std::vector<MemoryBlock>& blocks,
                                     std::optional<std::uint64_t> available);

// Shortfall against the memory available to this process now.
std::optional<std::string> Shortfall(const std::vector<MemoryBlock>& blocks);

}  // namespace lopper

#endif
