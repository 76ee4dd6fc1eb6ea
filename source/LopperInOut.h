// The command's dialogue with its user: banner and command-line options.
#ifndef LOPPER_LOPPERINOUT_H
#define LOPPER_LOPPERINOUT_H

#include <iostream>
#include <limits>
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

// The rule a tree is cut by. kNesting undoes the Level-1 last merges of the
// file's nesting; kByHeight the Level-1 highest merges by branch lengths;
// the others need no Level.
enum class CutKind { kNesting, kByHeight, kHeight, kInconsistent, kDynamic, kClade };

// The names --clade takes, with the library's rule codes.
struct CladeName {
  const char* name;
  char rule;
};
inline constexpr CladeName kCladeNames[] = {
    {"max", 'm'}, {"avg", 'a'}, {"sum", 's'}, {"single", 'l'}};

// Which tree of the file is cut, and how, beyond the number of clusters.
struct CutSettings {
  static constexpr double kUnset = std::numeric_limits<double>::quiet_NaN();
  std::string tree;        // a tree's name or 1-based position; empty: the file's default
  bool by_height = false;  // cut below the highest merges by branch lengths
  std::string lengths;     // "edge", "join", or empty: read from the tree
  CutKind kind = CutKind::kNesting;
  // kHeight's height; kInconsistent's and kClade's threshold.
  double threshold = 0;
  int depth = 2;  // kInconsistent: the levels of merges a coefficient sees
  // kDynamic: R's deepSplit, 0 (FALSE) or 1 (TRUE); no branch above
  // cut_height (unset: R's default).
  int deep_split = 0;
  double cut_height = kUnset;
  // kClade: 'm' max, 'a' avg, 's' sum, 'l' single; branches of support below
  // `support` are never inside a cluster (unset: none).
  char clade = 0;
  double support = kUnset;
  // Elements of clusters smaller than min_size get -1; 0: none, except
  // kDynamic's minimum of 20 (R's).
  int min_size = 0;
};

// Parses the command line into the Nexus file name, the number of clusters
// and the cluster file name, and into *cut (when given) the choice of tree
// and cut; the echo then names those given.
// Returns 0 when the run may go on, the settings echoed on `out`. Returns 1
// when it must stop: help or the version was printed, Nexus or the cut is
// missing (a Level of -1 and no other rule: the options table is printed), or the
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
