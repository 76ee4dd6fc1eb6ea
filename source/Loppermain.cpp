// lopper: cuts the tree of a Nexus tree file into a number of clusters and
// lists every element with its cluster number, on standard output and in a
// cluster file.
//
// Exit status: 0 after a complete run, help or version; 2 when the command
// line is rejected or Nexus/Level is missing; 1 when the input cannot be used
// or the output cannot be written. Everything is checked before the cluster
// file is touched, and that file is replaced only once it is complete.
#include <lopper/cluster.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "CommandSupport.h"
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

// A Nexus file read and checked for cutting. When `problem` is "" the
// tree string is sound and names[L-1] names its leaf L; otherwise `problem`
// says what is wrong, starting with the file name, and the rest is empty.
struct CheckedTree {
  std::string problem;
  std::vector<std::string> names;
  std::string tree;
  int nleaves = 0;
};

// Reads the tree of NexusFileName and checks that it can be cut into Lvl
// clusters.
CheckedTree ReadTree(const std::string& NexusFileName, int Lvl) {
  auto fail = [&NexusFileName](const std::string& problem) {
    return CheckedTree{NexusFileName + ": " + problem, {}, {}, 0};
  };
  CheckedTree read;
  errno = 0;
  std::vector<lopper::TranslateEntry> entries;
  if (!lopper::NexusFileIn(entries, NexusFileName, read.tree))
    return fail(std::string("cannot read Nexus file: ") +
                (errno != 0 ? std::strerror(errno) : "read error"));
  if (read.tree.empty()) return fail("no TREE line");
  const std::string problem = lopper::NexusTreeCheck(read.tree, read.nleaves);
  if (!problem.empty()) return fail("tree string, " + problem);
  const std::string naming = lopper::LeafNames(entries, read.nleaves, read.names);
  if (!naming.empty()) return fail(naming);
  // The cluster file holds a name and a number per line, split at the tab.
  for (const lopper::TranslateEntry& e : entries)
    if (e.name.find_first_of("\t\r\n") != std::string::npos)
      return fail("line " + std::to_string(e.line) + ": the name of TRANSLATE number " +
                  std::to_string(e.number) +
                  " contains a tab or line break, which the cluster file cannot hold");
  if (Lvl < 1 || Lvl > read.nleaves)
    return fail("Level " + std::to_string(Lvl) + " is outside 1.." + std::to_string(read.nleaves) +
                " (the tree has " + std::to_string(read.nleaves) + " elements)");
  return read;
}

// The whole run; returns the exit status.
int Run(int argc, char** argv) {
  std::string NexusFileName, OutFileName;
  int Lvl = -1;

  lopper::welcome();
  bool usage_error = false;
  if (lopper::UserInterface(argc, argv, NexusFileName, Lvl, OutFileName, std::cout, &usage_error) !=
      0)
    return usage_error ? 2 : 0;
  if (OutFileName == NexusFileName || lopper::SameFile(OutFileName, NexusFileName))
    return Fail(OutFileName + ": the cluster file would replace the Nexus file it is read from");

  const CheckedTree read = ReadTree(NexusFileName, Lvl);
  if (!read.problem.empty()) return Fail(read.problem);
  const std::vector<std::string>& NodeNames = read.names;
  int nrows = read.nleaves;

  std::vector<lopper::Node> treenodes(static_cast<std::size_t>(nrows - 1));
  lopper::NexusTreeIn(read.tree, treenodes.data(), nrows);
  lopper::ReorderTree(treenodes.data(), nrows);
  std::vector<int> cluid(static_cast<std::size_t>(nrows));
  lopper::cuttree(nrows, treenodes.data(), Lvl, cluid.data());
  // Level and tree are checked: the one failure left to cuttree is memory.
  if (cluid[0] < 0) return Fail("out of memory");

  lopper::SafeOutFile OutFile(OutFileName);
  const std::string unopened = OutFile.open();
  if (!unopened.empty()) return Fail(OutFileName + ": cannot write cluster file: " + unopened);
  const lopper::RemoveOnSignal cleanup({OutFile.temp_path()});
  std::cout << "Clusters list:" << std::endl;
  for (int i = 0; i < nrows; i++) {
    std::cout << NodeNames[i] << "\t" << cluid[i] << std::endl;
    OutFile.stream() << NodeNames[i] << '\t' << cluid[i] << '\n';
  }
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
  } catch (const std::exception& e) {
    // The regular expressions give up on pathological lines by throwing.
    return Fail(std::string("cannot read the input: ") + e.what());
  }
}
