// lopper: cuts the tree of a Nexus tree file into a number of clusters and
// lists every element with its cluster number, on standard output and in a
// cluster file.
//
// Exit status: 0 after a complete run or help; 2 when the command line is
// rejected or Nexus/Level is missing; 1 when the input cannot be used or the
// output cannot be written. Everything is checked before the cluster file is
// touched, and that file is replaced only once it is complete.
#include <fcntl.h>
#include <lopper/cluster.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "LopperInOut.h"
#include "NexusTree.h"
#include "SafeOutFile.h"

namespace {

int Fail(const std::string& message) {
  std::cout.flush();
  std::cerr << "lopper: " << message << std::endl;
  return 1;
}

// Reads and checks the tree of NexusFileName; returns "" when it can be cut
// into Lvl clusters, otherwise what is wrong.
std::string ReadTree(const std::string& NexusFileName, int Lvl, std::vector<std::string>& NodeNames,
                     std::string& Nexus, int& nrows) {
  errno = 0;
  std::vector<lopper::TranslateEntry> entries;
  if (!lopper::NexusFileIn(entries, NexusFileName, Nexus))
    return NexusFileName +
           ": cannot read Nexus file: " + (errno != 0 ? std::strerror(errno) : "read error");
  if (Nexus.empty()) return NexusFileName + ": no TREE line";
  const std::string problem = lopper::NexusTreeCheck(Nexus, nrows);
  if (!problem.empty()) return NexusFileName + ": tree string, " + problem;
  const std::string naming = lopper::LeafNames(entries, nrows, NodeNames);
  if (!naming.empty()) return NexusFileName + ": " + naming;
  // The cluster file holds a name and a number per line, split at the tab.
  for (const lopper::TranslateEntry& e : entries)
    if (e.name.find_first_of("\t\r\n") != std::string::npos)
      return NexusFileName + ": line " + std::to_string(e.line) +
             ": the name of TRANSLATE number " + std::to_string(e.number) +
             " contains a tab or line break, which the cluster file cannot hold";
  if (Lvl < 1 || Lvl > nrows)
    return NexusFileName + ": Level " + std::to_string(Lvl) + " is outside 1.." +
           std::to_string(nrows) + " (the tree has " + std::to_string(nrows) + " elements)";
  return "";
}

// True when both paths name one existing file (same device and inode).
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The hidden temporary cluster file of a run in progress, removed when a
// signal ends the run. A fixed buffer: the handler may not allocate.
char pending_temp[4096];

extern "C" void RemovePendingAndDie(int sig) {
  if (pending_temp[0]) ::unlink(pending_temp);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// Arms the removal of `temp` for the signals that end a run from outside
// (SIGPIPE: a reader of the listing went away); disarmed when destroyed.
class RemoveOnSignal {
 public:
  explicit RemoveOnSignal(const std::string& temp) {
    if (temp.empty() || temp.size() >= sizeof pending_temp) return;
    std::memcpy(pending_temp, temp.c_str(), temp.size() + 1);
    for (const int sig : kSignals) std::signal(sig, RemovePendingAndDie);
  }
  RemoveOnSignal(const RemoveOnSignal&) = delete;
  RemoveOnSignal& operator=(const RemoveOnSignal&) = delete;
  ~RemoveOnSignal() {
    for (const int sig : kSignals) std::signal(sig, SIG_DFL);
    pending_temp[0] = '\0';
  }

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
};

int Run(int argc, char** argv) {
  std::vector<std::string> NodeNames;
  std::string NexusFileName, OutFileName, Nexus;
  int Lvl = -1;
  int nrows = 0;

  lopper::welcome();
  bool usage_error = false;
  if (lopper::UserInterface(argc, argv, NexusFileName, Lvl, OutFileName, std::cout, &usage_error) !=
      0)
    return usage_error ? 2 : 0;
  if (OutFileName == NexusFileName || SameFile(OutFileName, NexusFileName))
    return Fail(OutFileName + ": the cluster file would replace the Nexus file it is read from");

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
  const RemoveOnSignal cleanup(OutFile.temp_path());
  std::cout << "Clusters list:" << std::endl;
  for (int i = 0; i < nrows; i++) {
    std::cout << NodeNames[i] << "\t" << cluid[i] << std::endl;
    OutFile.stream() << NodeNames[i] << '\t' << cluid[i] << '\n';
  }
  // The cluster file is put in place only after a complete listing.
  if (!std::cout.flush()) return Fail("cannot write standard output");
  if (!OutFile.commit(error)) return Fail(OutFileName + ": cannot write cluster file: " + error);
  return 0;
}

// A closed standard stream gets a read-only /dev/null, so that writes to it
// fail visibly instead of landing in the next file opened (the cluster file
// would take descriptor 1).
void ReserveStandardDescriptors() {
  for (int fd = 0; fd <= 2; fd++)
    if (::fcntl(fd, F_GETFD) == -1 && ::open("/dev/null", O_RDONLY) != fd) std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  ReserveStandardDescriptors();
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  } catch (const std::exception& e) {
    // The regular expressions give up on pathological lines by throwing.
    return Fail(std::string("cannot read the input: ") + e.what());
  }
}
