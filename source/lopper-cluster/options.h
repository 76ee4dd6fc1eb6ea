// lopper-cluster's command line: what to read, how to cluster, where the
// cuts and the tree go.
#ifndef LOPPER_CLUSTER_COMMAND_OPTIONS_H
#define LOPPER_CLUSTER_COMMAND_OPTIONS_H

#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "preprocess.h"

namespace lopper {

enum class Progress { kAuto, kOn, kOff };

// The partitioning methods; kNone: a tree by linkage `method`.
enum class Partitioning { kNone, kMeans, kMedians, kMedoids, kSom };

// How k-means and k-medians passes start: from random partitions (the
// library's kcluster passes) or each from a k-means++ partition.
enum class Init { kRandom, kKmeansPlusPlus };

// The seed of every random start when none is given: runs repeat exactly.
constexpr int kDefaultSeed = 1;

// The cuts of a tree besides -k and --height, each a column of the
// clusters file.
struct TreeCuts {
  std::vector<double> inconsistent;  // thresholds on the inconsistency coefficient
  int depth = 2;                     // the levels of merges a coefficient sees
  bool dynamic = false;              // the dynamic tree cut
  bool hybrid = false;               // its hybrid method, on the distances
  int deep_split = 0;                // R's deepSplit: 0-1 (tree), 0-4 (hybrid)
  double cut_height = std::numeric_limits<double>::quiet_NaN();  // NaN: R's default
  bool pam = true;  // hybrid: assign the leftovers as R's pamStage
  char clade = 0;   // 'm' max, 'a' avg, 's' sum, 'l' single; 0: none
  std::vector<double> clade_thresholds;
  // Elements of clusters smaller than this are in none (0); 0: no minimum,
  // except the dynamic cut's own (R's 20).
  int min_size = 0;

  bool any() const { return !inconsistent.empty() || dynamic || clade; }
};

// --bootstrap: the multiscale bootstrap of the tree's merges (pvclust's).
struct BootstrapSettings {
  int nboot = 0;               // resamples per scale; 0: no bootstrap
  std::vector<double> scales;  // resample sizes over the number of values
  std::string support;         // the per-merge table's file; empty: none
  bool label_bp = false;       // the trees' node labels: BP instead of AU
  double alpha = 0.95;         // the report lists clusters of AU at least this

  bool on() const { return nboot > 0; }
};

// --consensus: consensus clustering of resamples for each -k (Monti et al.
// 2003, as ConsensusClusterPlus).
struct ConsensusSettings {
  int reps = 0;            // resamples; 0: no consensus clustering
  double items = 0.8;      // the share of the elements each resample draws
  double values = 1.0;     // the share of the values (columns) it draws
  std::string matrices;    // prefix of one consensus matrix file per k; empty: none
  std::string items_file;  // item consensus, long format; empty: none
  std::string svg;         // the CDF and delta-area plots; empty: none

  bool on() const { return reps > 0; }
};

// A run's settings, each as the user gave it or its default. Output paths
// are empty when the output is not wanted; clusters "-" is standard output.
struct Settings {
  std::string table;  // a path, or "-" for standard input
  std::optional<char> separator;
  char decimal = '.';                        // the values' decimal mark
  std::vector<std::string> exclude_columns;  // the table's columns left out
  bool distances_input = false;              // the table is a distance matrix
  bool transpose = false;
  std::string weights;  // a file, "auto", or empty for all 1
  double weight_cutoff = 0.1;
  double weight_exponent = 1.0;
  Preprocessing preprocessing;
  Partitioning partitioning = Partitioning::kNone;
  char method = 'a';       // linkage, the library's code (see names.h)
  char distance = 'c';     // the library's code (see names.h)
  bool no_matrix = false;  // the tree from the data by treeclusterdata
  std::vector<int> ks;     // the cuts, or the k of each partition
  std::vector<double> heights;
  TreeCuts cuts;
  BootstrapSettings bootstrap;
  ConsensusSettings consensus;
  bool optimal_leaf_order = false;
  bool force = false;            // order the leaves however long it would take
  double leaf_order_limit = 60;  // seconds the leaf order may be estimated to take
  bool drop_empty = false;       // leave out the elements without values
  int npass = 10;
  Init init = Init::kKmeansPlusPlus;
  std::optional<int> seed = kDefaultSeed;  // none: from the clock, reported
  int grid_x = 0, grid_y = 0;              // the map's cells
  int iterations = 100000;
  double tau = 0.02;
  bool silhouette = false;
  std::string clusters;
  std::string newick, nexus, linkage;
  std::string centroids;
  std::string report;  // "-": standard error
  std::string svg;
  std::string html;                   // the page to explore the clustering in
  std::optional<char> column_method;  // linkage of the picture's column tree
  std::string column_annotations;     // the picture's column categories; empty: none
  bool gaps = false;                  // gaps between the band's clusters
  int fit_width = 0, fit_height = 0;  // the picture's largest size; 0: the default
  Progress progress = Progress::kAuto;
  std::optional<int> threads;  // none: the library's default, one per core

  bool tree() const { return partitioning == Partitioning::kNone; }
  // Whether the distances are needed after the tree is built.
  bool keeps_distances() const { return optimal_leaf_order || silhouette || cuts.hybrid; }
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

// The name --clade takes for the library's clade rule code.
const char* CladeRuleName(char rule);

}  // namespace lopper

#endif
