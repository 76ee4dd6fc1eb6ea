// Fuzz target: ParseNexusTree on arbitrary text. The first byte picks the
// tree by position (0: the default), the rest is the text. The result is a
// tree or else a one-line message naming the source; a tree is binary over
// its elements, each element and record used once, children before
// parents, one pair of lengths per record.
#include <cstdint>
#include <string>
#include <vector>

#include "NexusTree.h"
#include "fuzz_util.h"

namespace {

using lopper_fuzz::Check;

// Every element and every record but the root is a child exactly once, and
// a record's children come before it.
void CheckTree(const lopper::TreeRead& t) {
  const int n = static_cast<int>(t.names.size());
  Check(n >= 2 && t.nodes.size() == static_cast<std::size_t>(n - 1));
  Check(t.lengths.size() == t.nodes.size());
  std::vector<int> uses(2 * n - 1, 0);
  for (int r = 0; r < n - 1; r++) {
    for (const int c : {t.nodes[r].left, t.nodes[r].right}) {
      Check(c < n && c >= -r);
      uses[c >= 0 ? c : n - c - 1]++;
    }
  }
  for (int k = 0; k < 2 * n - 2; k++) Check(uses[k] == 1);
  Check(uses[2 * n - 2] == 0);  // the root
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const lopper::TreeChoice choice{"", data[0] % 4};
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const lopper::TreeReadResult r = lopper::ParseNexusTree(text, "fuzz", choice);
  Check(r.tree.has_value() == r.error.empty());
  if (r.tree) {
    CheckTree(*r.tree);
  } else {
    Check(r.error.compare(0, 6, "fuzz: ") == 0);
    Check(r.error.find_first_of("\r\n") == std::string::npos);
  }
  return 0;
}
