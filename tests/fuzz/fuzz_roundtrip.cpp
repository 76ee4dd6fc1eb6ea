// Fuzz target: trees decoded from the input are written with NexusTreeOut,
// read back as the command reads them and compared. The input decides the
// size, the shape, the record order, the distances and the names; a second
// decoding makes arbitrary records, which the writer must reject or write
// as a tree that reads back.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "NexusTree.h"
#include "cluster.h"
#include "fuzz_util.h"
#include "misc.h"
#include "tree_gen.h"

namespace {

using lopper_fuzz::Bytes;
using lopper_fuzz::Check;

std::string ScratchFile() {
  static const std::string path =
      "/tmp/lopper-fuzz-roundtrip-" + std::to_string(::getpid()) + ".tre";
  return path;
}

// Reads the file back; the names read go to `names`.
std::vector<lopper::Node> ReadBack(std::vector<std::string>& names) {
  lopper::TreeReadResult r = lopper::ReadNexusTree(ScratchFile());
  std::remove(ScratchFile().c_str());  // one replay process per input: leave nothing behind
  Check(r.tree.has_value());
  names = r.tree->names;
  return r.tree->nodes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes in{data, size};
  const int n = 2 + static_cast<int>(in.next() % 40);
  const unsigned order = in.next() % 3;  // children first, parents first, shuffled

  // Children-first tree: each record joins two of the open subtrees.
  std::vector<int> open(n);
  for (int e = 0; e < n; e++) open[e] = e;
  std::vector<lopper::Node> tree;
  while (open.size() > 1) {
    const std::size_t a = in.next() % open.size();
    const int left = open[a];
    open.erase(open.begin() + a);
    const std::size_t b = in.next() % open.size();
    const double distance = in.next() / 7.0;
    tree.push_back({left, open[b], distance});
    open[b] = -static_cast<int>(tree.size());
  }
  std::vector<int> position(tree.size());
  for (std::size_t k = 0; k < position.size(); k++) position[k] = static_cast<int>(k);
  if (order == 1) std::reverse(position.begin(), position.end());
  if (order == 2)
    for (std::size_t k = position.size(); k > 1; k--)
      std::swap(position[k - 1], position[in.next() % k]);
  std::vector<lopper::Node> written(tree.size());
  auto moved = [&](int ref) { return ref >= 0 ? ref : -(position[-ref - 1] + 1); };
  for (std::size_t k = 0; k < tree.size(); k++)
    written[position[k]] = {moved(tree[k].left), moved(tree[k].right), tree[k].distance};

  std::vector<std::string> names;
  for (int e = 0; e < n; e++) {
    std::string name(1, static_cast<char>('a' + in.next() % 26));
    for (unsigned len = in.next() % 4; len > 0; len--) name += " ,()x9"[in.next() % 6];
    names.push_back(name + static_cast<char>('a' + e % 26));
  }

  Check(lopper::NexusTreeOut(n, written.data(), ScratchFile(), names));
  std::vector<std::string> read;
  std::vector<lopper::Node> back = ReadBack(read);
  Check(read == names);
  Check(static_cast<int>(back.size()) == n - 1);
  // Lengths come back for children-first records; compare structure alone
  // otherwise.
  std::vector<lopper::Node> expected = tree;
  for (std::size_t r = 0; r < tree.size(); r++) {
    expected[r].distance =
        order == 0 ? lopper::str2dbl(lopper::dbl2str(100.0 * tree[r].distance, 3, 4)) : 0.0;
    if (order != 0) back[r].distance = 0.0;
  }
  Check(lopper_test::Clades(back) == lopper_test::Clades(expected));

  // Arbitrary records: rejected, or a file that reads back as a tree.
  std::vector<lopper::Node> junk(n - 1);
  for (auto& r : junk)
    r = {static_cast<int>(in.next() % (2 * n)) - n, static_cast<int>(in.next() % (2 * n)) - n, 0.5};
  if (lopper::NexusTreeOut(n, junk.data(), ScratchFile(), names)) {
    std::vector<std::string> again;
    Check(static_cast<int>(ReadBack(again).size()) == n - 1);
  }
  return 0;
}
