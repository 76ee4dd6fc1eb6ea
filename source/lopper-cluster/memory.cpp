#include "memory.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace lopper {

namespace {

// The number after "key" at the start of a line of `text`, times the
// "kB" unit when one follows.
std::optional<std::uint64_t> KeyedBytes(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, key.size(), key) != 0) continue;
    std::istringstream words(line.substr(key.size()));
    std::uint64_t value = 0;
    std::string unit;
    if (!(words >> value)) return std::nullopt;
    words >> unit;
    return unit == "kB" ? value * 1024 : value;
  }
  return std::nullopt;
}

// A whole number alone on the first line of `text`.
std::optional<std::uint64_t> Number(const std::string& text) {
  std::istringstream words(text);
  std::uint64_t value = 0;
  std::string rest;
  if (!(words >> value) || (words >> rest)) return std::nullopt;
  return value;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The group at `path` below `root` and each of its ancestors up to the
// root, whose limits bind it too.
std::vector<GroupLimit> GroupsFrom(const std::string& root, std::string path,
                                   const char* limit_file, const char* usage_file) {
  std::vector<GroupLimit> groups;
  while (true) {
    const std::string dir = root + path + "/";
    groups.push_back({Slurp(dir + limit_file), Slurp(dir + usage_file)});
    if (path.size() <= 1) break;
    path = path.substr(0, path.find_last_of('/'));
  }
  return groups;
}

}  // namespace

std::optional<std::uint64_t> MemAvailableBytes(const std::string& meminfo) {
  return KeyedBytes(meminfo, "MemAvailable:");
}

std::optional<std::uint64_t> MappedBytes(const std::string& status) {
  return KeyedBytes(status, "VmSize:");
}

std::optional<std::uint64_t> GroupLeft(const GroupLimit& group) {
  // cgroup v1 writes "no limit" as the largest page multiple below 2^63.
  constexpr std::uint64_t kUnlimited = std::uint64_t{1} << 62;
  const auto limit = Number(group.limit);
  if (!limit || *limit >= kUnlimited) return std::nullopt;
  const std::uint64_t used = Number(group.usage).value_or(0);
  return used < *limit ? *limit - used : 0;
}

std::optional<std::string> GroupPath(const std::string& cgroup, bool v2) {
  std::istringstream lines(cgroup);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    bool memory = false;
    std::istringstream names(controllers);
    for (std::string name; std::getline(names, name, ',');) memory |= name == "memory";
    if (v2 ? line.compare(0, first, "0") == 0 && controllers.empty() : memory)
      return line.substr(second + 1);
  }
  return std::nullopt;
}

std::optional<std::uint64_t> AvailableBytes(const MemoryFacts& facts) {
  std::optional<std::uint64_t> least = MemAvailableBytes(facts.meminfo);
  const auto bound = [&least](std::optional<std::uint64_t> b) {
    if (b && (!least || *b < *least)) least = b;
  };
  if (facts.address_limit) {
    const std::uint64_t mapped = MappedBytes(facts.status).value_or(0);
    bound(mapped < *facts.address_limit ? *facts.address_limit - mapped : 0);
  }
  for (const GroupLimit& group : facts.groups) bound(GroupLeft(group));
  return least;
}

MemoryFacts ReadMemoryFacts() {
  MemoryFacts facts;
  facts.meminfo = Slurp("/proc/meminfo");
  facts.status = Slurp("/proc/self/status");
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    facts.address_limit = limit.rlim_cur;
  const std::string cgroup = Slurp("/proc/self/cgroup");
  // cgroup v2 is mounted at /sys/fs/cgroup, or at its unified/ folder
  // beside the v1 controllers on hybrid systems.
  if (const auto path = GroupPath(cgroup, true))
    for (const char* root : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}) {
      const auto groups = GroupsFrom(root, *path, "memory.max", "memory.current");
      facts.groups.insert(facts.groups.end(), groups.begin(), groups.end());
    }
  if (const auto path = GroupPath(cgroup, false)) {
    const auto groups = GroupsFrom("/sys/fs/cgroup/memory", *path, "memory.limit_in_bytes",
                                   "memory.usage_in_bytes");
    facts.groups.insert(facts.groups.end(), groups.begin(), groups.end());
  }
  return facts;
}

std::string GiB(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f GiB", static_cast<double>(bytes) / (1u << 30));
  return text;
}

MemoryBlock MatrixBlock(std::uint64_t n, int matrices, const std::string& noun) {
  const std::uint64_t bytes = matrices * (n * (n - 1) / 2) * sizeof(double);
  if (noun != "elements")
    return {"the distance matrices of " + std::to_string(n) + " " + noun, bytes};
  return {"the distance matrix of " + std::to_string(n) + " elements" +
              (matrices > 1 ? " (with its working copy)" : ""),
          bytes};
}

std::optional<std::string> Shortfall(const std::vector<MemoryBlock>& blocks,
                                     std::optional<std::uint64_t> available) {
  std::uint64_t need = 0;
  std::vector<const MemoryBlock*> named;
  for (const MemoryBlock& b : blocks) {
    need += b.bytes;
    if (b.bytes > 0) named.push_back(&b);
  }
  if (!available || need <= *available) return std::nullopt;
  const std::string more = ", more than the " + GiB(*available) + " of memory available";
  if (named.size() == 1) return named[0]->what + " needs " + GiB(need) + more;
  std::string each;
  for (const MemoryBlock* b : named)
    each += (each.empty() ? "" : ", ") + b->what + " " + GiB(b->bytes);
  return "the run needs " + GiB(need) + " (" + each + ")" + more;
}

std::optional<std::string> Shortfall(const std::vector<MemoryBlock>& blocks) {
  return Shortfall(blocks, AvailableBytes(ReadMemoryFacts()));
}

}  // namespace lopper
