// lopper-cluster: clusters the rows (or columns) of a data table, or the
// elements of a distance matrix, into a tree, cuts it into clusters and
// writes the cuts and the tree in formats other tools read.
//
// Exit status: 0 after a complete run, help or version; 1 when the input
// cannot be used or an output cannot be written (no output file is then
// created or changed); 2 when the command line is rejected.
#include <unistd.h>

#include <exception>
#include <iostream>
#include <new>

#include "options.h"
#include "run.h"

int main(int argc, char** argv) {
  const lopper::Parsed parsed = lopper::ParseCommandLine(argc, argv);
  if (!parsed.settings) {
    (parsed.status == 0 ? std::cout : std::cerr) << parsed.message << std::flush;
    return parsed.status;
  }
  try {
    return lopper::RunClustering(*parsed.settings, std::cout, std::cerr, ::isatty(2) == 1);
  } catch (const std::bad_alloc&) {
    std::cerr << "lopper-cluster: out of memory" << std::endl;
    return 1;
  }
}
