// lopper: cuts the tree of a Nexus tree file into clusters (a number of
// them, or by a rule: a height, inconsistency, the dynamic tree cut, clade
// thresholds) and lists every element with its cluster number, on standard
// output and in a cluster file.
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
#include "CutRules.h"
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

lopper::TreeChoice ChoiceOf(const lopper::CutSettings& cut) {
  lopper::TreeChoice choice;
  if (!cut.tree.empty() && cut.tree.find_first_not_of("0123456789") == std::string::npos &&
      cut.tree.size() < 10)
    choice.index = std::stoi(cut.tree);
  else
    choice.name = cut.tree;
  return choice;
}

// The tree of NexusFileName the settings choose, or else what is wrong with
// it, starting with the file name.
lopper::TreeReadResult ReadTree(const std::string& NexusFileName, const lopper::CutSettings& cut) {
  lopper::TreeReadResult read = lopper::ReadNexusTree(NexusFileName, ChoiceOf(cut));
  if (!read.tree) return read;
  const std::vector<std::string>& names = read.tree->names;
  // The cluster file holds a name and a number per line, split at the tab.
  // (A loop: find_first_of calls memchr for every character.)
  const auto unfit = [](char ch) { return ch == '\t' || ch == '\r' || ch == '\n'; };
  for (std::size_t e = 0; e < names.size(); e++)
    if (std::any_of(names[e].begin(), names[e].end(), unfit)) {
      read.error = NexusFileName + ": the name of leaf " + std::to_string(e + 1) +
                   " contains a tab or line break, which the cluster file cannot hold";
      read.tree.reset();
      break;
    }
  return read;
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

  const lopper::TreeReadResult read = ReadTree(NexusFileName, cut);
  if (!read.tree) return Fail(read.error);
  const lopper::CutResult clusters = lopper::CutByRule(*read.tree, Lvl, cut, NexusFileName);
  if (!clusters.problem.empty()) return Fail(clusters.problem);

  lopper::SafeOutFile OutFile(OutFileName);
  const std::string unopened = OutFile.open();
  if (!unopened.empty()) return Fail(OutFileName + ": cannot write cluster file: " + unopened);
  const lopper::RemoveOnSignal cleanup({OutFile.temp_path()});
  std::cout << "Clusters list:\n";
  WriteListing(read.tree->names, clusters.cluid, OutFile.stream());
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
