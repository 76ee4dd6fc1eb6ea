// The command's dialogue with its user: banner and command-line options.
#ifndef LOPPER_LOPPERINOUT_H
#define LOPPER_LOPPERINOUT_H

#include <iostream>
#include <string>

namespace lopper {

// Prints the eleven-line banner, every line 42 characters wide.
inline void welcome(std::ostream& out = std::cout) {
  const std::string stars(42, '*');
  const std::string blanks(42, ' ');
  out << stars << std::endl
      << "*            Welcome to the              *" << std::endl
      << "*         tree cuting application        *" << std::endl
      << "*                 Ver. 0.2               *" << std::endl
      << "*                                        *" << std::endl
      << "*        by the lopper developers        *" << std::endl
      << stars << std::endl
      << blanks << std::endl
      << "            This reads a Nexus            " << std::endl
      << "  tree file and extract clusters from it  " << std::endl
      << blanks << std::endl;
}

// Which tree of the file is cut, and how, beyond the number of clusters.
struct CutSettings {
  std::string tree;        // a tree's name or 1-based position; empty: the file's default
  bool by_height = false;  // cut below the highest merges by branch lengths
  std::string lengths;     // with by_height: "edge", "join", or empty: read from the tree
};

// Parses the command line into the Nexus file name, the number of clusters
// and the cluster file name, and into *cut (when given) the choice of tree
// and cut; the echo then names those given.
// Returns 0 when the run may go on, the three echoed on `out`. Returns 1
// when it must stop: help or the version was printed, Nexus or Level is
// missing (Level -1 counts as missing: the options table is printed), or the
// command line was rejected (the table and the options library's message).
// For the last two, *usage_error (if given) is set true; otherwise false.
// NexusFile keeps its value unless Nexus is given; Lvl and OutName receive
// the given value or the default, except that a rejected command line
// leaves them as they were.
int UserInterface(int argc, char** argv, std::string& NexusFile, int& Lvl, std::string& OutName,
                  std::ostream& out = std::cout, bool* usage_error = nullptr,
                  CutSettings* cut = nullptr);

}  // namespace lopper

#endif
