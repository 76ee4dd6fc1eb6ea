// lopper: cuts the tree of a Nexus tree file into a number of clusters and
// lists every element with its cluster number, on standard output and in a
// cluster file.
//
// Exit status: 0 after a complete run, help or version; 2 when the command
// line is rejected or Nexus/Level is missing; 1 when the input cannot be used
// or the output cannot be written. Everything is checked before the cluster
// file is touched, and that file is replaced only once it is complete.
#include <lopper/cluster.h>

#include <algorithm>
#include <charconv>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "CommandSupport.h"
#include "HeightCut.h"
#include "LopperInOut.h"
#include "NexusTree.h"
#include "SafeOutFile.h"

namespace {

// Reports message on standard error after what standard output holds so
// far; returns the exit status of a failed run.
int Fail(const std::string& message) {
  std::cout.flush();
  std::cerr << "lopper: " << message << std::endl;
  return 1;
}

// The tree of NexusFileName as settings choose it, checked for cutting
// into Lvl clusters: its names, and its records in the order cuttree
// undoes them. Empty problem: usable; otherwise what is wrong, starting
// with the file name.
struct CutTree {
  std::string problem;
  std::vector<std::string> names;
  std::vector<lopper::Node> nodes;
};

lopper::TreeChoice ChoiceOf(const lopper::CutSettings& cut) {
  lopper::TreeChoice choice;
  if (!cut.tree.empty() && cut.tree.find_first_not_of("0123456789") == std::string::npos &&
      cut.tree.size() < 10)
    choice.index = std::stoi(cut.tree);
  else
    choice.name = cut.tree;
  return choice;
}

// The records by height, in the reading the settings name or the tree fits
// (said on standard error).
CutTree ByHeight(const std::string& NexusFileName, lopper::TreeRead& tree,
                 const lopper::CutSettings& cut) {
  if (const int missing = lopper::MissingLengths(tree))
    return CutTree{NexusFileName + ": " + std::to_string(missing) + " of the tree's " +
                       std::to_string(2 * tree.nodes.size()) +
                       " branches have no length; --by-height needs them all",
                   {},
                   {}};
  const bool join = cut.lengths.empty() ? lopper::FitsJoinHeights(tree) : cut.lengths == "join";
  if (cut.lengths.empty())
    std::cerr << "lopper: " << NexusFileName << ": branch lengths read as "
              << (join ? "join heights (both children of every merge carry its height; "
                         "--lengths edge reads them as edge lengths)"
                       : "edge lengths (--lengths join reads them as the heights of merges)")
              << std::endl;
  std::vector<lopper::Node> nodes = lopper::OrderedByHeight(
      tree, join ? lopper::BranchLengths::kJoin : lopper::BranchLengths::kEdge);
  return CutTree{"", std::move(tree.names), std::move(nodes)};
}

CutTree ReadTree(const std::string& NexusFileName, int Lvl, const lopper::CutSettings& cut) {
  lopper::TreeReadResult read = lopper::ReadNexusTree(NexusFileName, ChoiceOf(cut));
  if (!read.tree) return CutTree{read.error, {}, {}};
  // Moved, not copied, into the result: a million names cost 32 MB.
  lopper::TreeRead& tree = *read.tree;
  const int nleaves = static_cast<int>(tree.names.size());
  // The cluster file holds a name and a number per line, split at the tab.
  // (A loop: find_first_of calls memchr for every character.)
  const auto unfit = [](char ch) { return ch == '\t' || ch == '\r' || ch == '\n'; };
  for (int e = 0; e < nleaves; e++)
    if (std::any_of(tree.names[e].begin(), tree.names[e].end(), unfit))
      return CutTree{NexusFileName + ": the name of leaf " + std::to_string(e + 1) +
                         " contains a tab or line break, which the cluster file cannot hold",
                     {},
                     {}};
  if (Lvl < 1 || Lvl > nleaves)
    return CutTree{NexusFileName + ": Level " + std::to_string(Lvl) + " is outside 1.." +
                       std::to_string(nleaves) + " (the tree has " + std::to_string(nleaves) +
                       " elements)",
                   {},
                   {}};
  if (cut.by_height) return ByHeight(NexusFileName, tree, cut);
  return CutTree{"", std::move(tree.names), std::move(tree.nodes)};
}

// Writes "name<TAB>cluster" lines to standard output and to file. The
// lines go out in blocks, never flushed one by one (a flush per line is a
// write call per element); a failed write of standard output shows in its
// state, which the caller checks with the final flush.
void WriteListing(const std::vector<std::string>& names, const std::vector<int>& cluid,
                  std::ostream& file) {
  constexpr std::size_t kBlock = 1 << 16;
  std::string block;
  block.reserve(kBlock + 64);
  const auto put = [&block, &file] {
    std::cout.write(block.data(), static_cast<std::streamsize>(block.size()));
    file.write(block.data(), static_cast<std::streamsize>(block.size()));
    block.clear();
  };
  char number[16];
  for (std::size_t i = 0; i < names.size(); i++) {
    // std::to_chars writes what "<< int" writes in the classic locale,
    // which lopper never leaves.
    const auto end = std::to_chars(number, number + sizeof number, cluid[i]).ptr;
    block += names[i];
    block += '\t';
    block.append(number, end);
    block += '\n';
    if (block.size() >= kBlock) put();
  }
  put();
}

// The whole run; returns the exit status.
int Run(int argc, char** argv) {
  std::string NexusFileName, OutFileName;
  int Lvl = -1;
  lopper::CutSettings cut;

  lopper::welcome();
  bool usage_error = false;
  if (lopper::UserInterface(argc, argv, NexusFileName, Lvl, OutFileName, std::cout, &usage_error,
                            &cut) != 0)
    return usage_error ? 2 : 0;
  if (OutFileName == NexusFileName || lopper::SameFile(OutFileName, NexusFileName))
    return Fail(OutFileName + ": the cluster file would replace the Nexus file it is read from");

  const CutTree read = ReadTree(NexusFileName, Lvl, cut);
  if (!read.problem.empty()) return Fail(read.problem);
  const std::vector<std::string>& NodeNames = read.names;
  const int nrows = static_cast<int>(NodeNames.size());
  std::vector<int> cluid(static_cast<std::size_t>(nrows));
  lopper::cuttree(nrows, read.nodes.data(), Lvl, cluid.data());
  // Level and tree are checked: the one failure left to cuttree is memory.
  if (cluid[0] < 0) return Fail("out of memory");

  lopper::SafeOutFile OutFile(OutFileName);
  const std::string unopened = OutFile.open();
  if (!unopened.empty()) return Fail(OutFileName + ": cannot write cluster file: " + unopened);
  const lopper::RemoveOnSignal cleanup({OutFile.temp_path()});
  std::cout << "Clusters list:\n";
  WriteListing(NodeNames, cluid, OutFile.stream());
  // The cluster file is put in place only after a complete listing.
  if (!std::cout.flush()) return Fail("cannot write standard output");
  const std::string uncommitted = OutFile.commit();
  if (!uncommitted.empty())
    return Fail(OutFileName + ": cannot write cluster file: " + uncommitted);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  lopper::ReserveStandardDescriptors();
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  }
}
