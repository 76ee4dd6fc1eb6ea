// Fuzz target: reading a tree and cutting it, on arbitrary bytes. The first
// byte picks Level (-128 ... 127), the rest is the Nexus file. Trees that
// ReadNexusTree reads must cut into Level non-empty clusters; the tree
// string of the file's TREE line, valid or not, must parse without writing
// outside the records it opens.
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

namespace {

using lopper_fuzz::Check;

std::string ScratchFile() {
  static const std::string path = "/tmp/lopper-fuzz-command-" + std::to_string(::getpid()) + ".nex";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int level = static_cast<int8_t>(data[0]);  // invalid levels too
  const std::string path = ScratchFile();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);

  std::vector<std::string> names;
  std::string tree;
  lopper::NexusFileIn(names, path, tree);  // the tree string for the strict parser
  std::remove(path.c_str());               // one replay process per input: leave nothing behind

  // Any string: exactly as many records as it opens.
  const std::size_t opens = std::count(tree.begin(), tree.end(), '(');
  std::vector<lopper::Node> raw(opens);
  std::vector<int> pairs(2 * opens);
  std::vector<double> lengths(opens);
  int leaves = 0;
  lopper::NexusTreeIn(tree, raw.data(), leaves);
  lopper::NexusTreeIn(tree, reinterpret_cast<int(*)[2]>(pairs.data()), lengths.data(), leaves);

  // The tree as ReadNexusTree gives it, cut when Level fits.
  std::string file(reinterpret_cast<const char*>(data + 1), size - 1);
  const lopper::TreeReadResult read = lopper::ParseNexusTree(file, "fuzz");
  if (!read.tree) return 0;
  const std::vector<lopper::Node>& nodes = read.tree->nodes;
  const int nrows = static_cast<int>(read.tree->names.size());
  Check(nrows >= 2 && nodes.size() == static_cast<std::size_t>(nrows - 1));
  if (level < 1 || level > nrows) return 0;
  for (int r = 0; r < nrows - 1; r++)
    for (const int c : {nodes[r].left, nodes[r].right}) Check(c < nrows && c >= -r);
  std::vector<int> ids(nrows);
  lopper::cuttree(nrows, nodes.data(), level, ids.data());
  std::vector<int> members(level, 0);
  for (const int id : ids) {
    Check(id >= 0 && id < level);
    members[id]++;
  }
  for (const int m : members) Check(m > 0);
  return 0;
}
