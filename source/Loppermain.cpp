// lopper: cuts the tree of a Nexus tree file into a number of clusters and
// lists every element with its cluster number, on standard output and in a
// cluster file.
//
// Exit status: 0 after a complete run or help; 2 when the command line is
// rejected or Nexus/Level is missing; 1 when the input cannot be used or the
// output cannot be written. Everything is checked before the cluster file is
// touched, and that file is replaced only once it is complete.
#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "LopperInOut.h"
#include "NexusTree.h"
#include "SafeOutFile.h"
#include "cluster.h"

namespace {

int Fail(const std::string& message) {
  std::cout.flush();
  std::cerr << "lopper: " << message << std::endl;
  return 1;
}

// Reads and checks the tree of NexusFileName; returns "" when it can be cut
// into Lvl clusters, otherwise what is wrong.
std::string ReadTree(const std::string& NexusFileName, int Lvl,
                     std::vector<std::string>& NodeNames, std::string& Nexus, int& nrows) {
  errno = 0;
  if (!lopper::NexusFileIn(NodeNames, NexusFileName, Nexus))
    return NexusFileName + ": cannot read Nexus file: " +
           (errno != 0 ? std::strerror(errno) : "read error");
  if (Nexus.empty()) return NexusFileName + ": no TREE line";
  const std::string problem = lopper::NexusTreeCheck(Nexus, nrows);
  if (!problem.empty()) return NexusFileName + ": tree string, " + problem;
  if (NodeNames.size() < static_cast<std::size_t>(nrows))
    return NexusFileName + ": the TRANSLATE table names " + std::to_string(NodeNames.size()) +
           " elements but the tree has " + std::to_string(nrows) + " leaves";
  if (Lvl < 1 || Lvl > nrows)
    return NexusFileName + ": Level " + std::to_string(Lvl) + " is outside 1.." +
           std::to_string(nrows) + " (the tree has " + std::to_string(nrows) + " elements)";
  return "";
}

int Run(int argc, char** argv) {
  std::vector<std::string> NodeNames;
  std::string NexusFileName, OutFileName, Nexus;
  int Lvl = -1;
  int nrows = 0;

  lopper::welcome();
  bool usage_error = false;
  if (lopper::UserInterface(argc, argv, NexusFileName, Lvl, OutFileName, std::cout,
                            &usage_error) != 0)
    return usage_error ? 2 : 0;

  const std::string problem = ReadTree(NexusFileName, Lvl, NodeNames, Nexus, nrows);
  if (!problem.empty()) return Fail(problem);

  std::vector<lopper::Node> treenodes(static_cast<std::size_t>(nrows - 1));
  lopper::NexusTreeIn(Nexus, treenodes.data(), nrows);
  lopper::ReorderTree(treenodes.data(), nrows);
  std::vector<int> cluid(static_cast<std::size_t>(nrows));
  lopper::cuttree(nrows, treenodes.data(), Lvl, cluid.data());
  if (cluid[0] < 0) return Fail("out of memory");

  lopper::SafeOutFile OutFile(OutFileName);
  std::string error;
  if (!OutFile.open(error)) return Fail(OutFileName + ": cannot write cluster file: " + error);
  std::cout << "Clusters list:" << std::endl;
  for (int i = 0; i < nrows; i++) {
    std::cout << NodeNames[i] << "\t" << cluid[i] << std::endl;
    OutFile.stream() << NodeNames[i] << '\t' << cluid[i] << '\n';
  }
  if (!OutFile.commit(error)) return Fail(OutFileName + ": cannot write cluster file: " + error);
  if (!std::cout) return Fail("cannot write standard output");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  } catch (const std::exception& e) {
    // The regular expressions give up on pathological lines by throwing.
    return Fail(std::string("cannot read the input: ") + e.what());
  }
}
