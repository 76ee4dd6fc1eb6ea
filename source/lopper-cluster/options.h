// lopper-cluster's command line: what to read, how to cluster, where the
// cuts and the tree go.
#ifndef LOPPER_CLUSTER_COMMAND_OPTIONS_H
#define LOPPER_CLUSTER_COMMAND_OPTIONS_H

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "preprocess.h"

namespace lopper {

enum class Progress { kAuto, kOn, kOff };

// A run's settings, each as the user gave it or its default. Output paths
// are empty when the output is not wanted; clusters "-" is standard output.
struct Settings {
  std::string table;  // a path, or "-" for standard input
  std::optional<char> separator;
  bool distances_input = false;  // the table is a distance matrix
  bool transpose = false;
  std::string weights;  // a file, "auto", or empty for all 1
  double weight_cutoff = 0.1;
  double weight_exponent = 1.0;
  Preprocessing preprocessing;
  char method = 'a';    // the library's code: s, m, a, c
  char distance = 'c';  // the library's code: e, b, c, a, u, x, s, k
  std::vector<int> ks;
  std::vector<double> heights;
  std::string clusters;
  std::string newick, nexus, linkage;
  Progress progress = Progress::kAuto;
};

// What the command line asks for: a run, or to stop with an exit status
// (0 after --help or --version, 2 for a rejected command line) once
// `message` is printed (on standard output for status 0, standard error
// otherwise).
struct Parsed {
  std::optional<Settings> settings;
  int status = 0;
  std::string message;
};

Parsed ParseCommandLine(int argc, const char* const argv[]);

}  // namespace lopper

#endif
