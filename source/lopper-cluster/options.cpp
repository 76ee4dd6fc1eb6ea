#include "options.h"

#include <lopper/names.h>

#include <boost/program_options.hpp>
#include <cmath>
#include <exception>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "text/scan.h"

namespace po = boost::program_options;

namespace lopper {

namespace {

// A word an option takes, and what it stands for.
template <class T>
struct Named {
  const char* name;
  T value;
};

constexpr Named<Partitioning> kPartitionings[] = {{"kmeans", Partitioning::kMeans},
                                                  {"kmedians", Partitioning::kMedians},
                                                  {"kmedoids", Partitioning::kMedoids},
                                                  {"som", Partitioning::kSom}};
constexpr Named<Init> kInits[] = {{"random", Init::kRandom}, {"kmeans++", Init::kKmeansPlusPlus}};
constexpr Named<Centering> kCenterings[] = {
    {"none", Centering::kNone}, {"mean", Centering::kMean}, {"median", Centering::kMedian}};
constexpr Named<ColumnScaling> kColumnScalings[] = {{"center-columns", ColumnScaling::kCenter},
                                                    {"scale-columns", ColumnScaling::kScale}};
constexpr Named<Scaling> kScalings[] = {
    {"none", Scaling::kNone}, {"sd", Scaling::kStandardDeviation}, {"norm", Scaling::kNorm}};

// What `word` stands for among `choices`, if anything.
template <class T, std::size_t N>
std::optional<T> Find(const std::string& word, const Named<T> (&choices)[N]) {
  for (const Named<T>& c : choices)
    if (word == c.name) return c.value;
  return std::nullopt;
}

template <class T, std::size_t N>
std::string Names(const Named<T> (&choices)[N]) {
  std::string known;
  for (const Named<T>& c : choices) known += std::string(known.empty() ? "" : ", ") + c.name;
  return known;
}

// What `word`, the value of --option, stands for among `choices`.
template <class T, std::size_t N>
T Choose(const std::string& word, const Named<T> (&choices)[N], const std::string& option) {
  if (const auto found = Find(word, choices)) return *found;
  throw std::invalid_argument("--" + option + " '" + word + "': expected one of " + Names(choices));
}

// The library code that `word`, the value of --option, names in `table`.
template <std::size_t N>
char ChooseCode(const std::string& word, const CodeName (&table)[N], const std::string& option) {
  if (const char code = CodeOf(word, table)) return code;
  throw std::invalid_argument("--" + option + " '" + word + "': expected one of " +
                              NameList(table));
}

// -m: a linkage for a tree, or a partitioning method.
void ParseMethod(const std::string& word, Settings& s) {
  if (const auto partitioning = Find(word, kPartitionings)) {
    s.partitioning = *partitioning;
  } else if (const char linkage = CodeOf(word, kLinkageNames)) {
    s.method = linkage;
  } else {
    throw std::invalid_argument("--method '" + word + "': expected one of " +
                                Names(kPartitionings) + ", " + NameList(kLinkageNames));
  }
}

// A whole number of at least `least`, the value of `option`.
int ParseWhole(const std::string& word, int least, const std::string& option) {
  std::size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(word, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != word.size() || value < least)
    throw std::invalid_argument(option + " '" + word + "': expected a whole number of at least " +
                                std::to_string(least));
  return value;
}

// AxB, two whole numbers of at least (least_a, least_b), as --grid and
// --fit take them; `expected` completes the message when the word is not.
std::pair<int, int> ParseSize(const std::string& word, int least_a, int least_b,
                              const std::string& option, const std::string& expected) {
  const std::size_t x = word.find('x');
  try {
    if (x == std::string::npos) throw std::invalid_argument("");
    return {ParseWhole(word.substr(0, x), least_a, ""),
            ParseWhole(word.substr(x + 1), least_b, "")};
  } catch (const std::invalid_argument&) {
    throw std::invalid_argument(option + " '" + word + "': expected " + expected);
  }
}

// The words of comma-separated lists (one per occurrence of an option),
// each read by `read`.
template <typename Read>
auto ParseList(const std::vector<std::string>& lists, Read read) {
  std::vector<decltype(read(std::string()))> values;
  for (const std::string& list : lists) {
    std::istringstream words(list);
    std::string word;
    while (std::getline(words, word, ',')) values.push_back(read(word));
  }
  return values;
}

std::vector<int> ParseKs(const std::vector<std::string>& lists) {
  return ParseList(lists, [](const std::string& word) {
    try {
      return ParseWhole(word, 1, "-k");
    } catch (const std::invalid_argument&) {
      throw std::invalid_argument("-k '" + word +
                                  "': expected whole numbers of at least 1, separated by commas");
    }
  });
}

// Comma-separated finite numbers, from one or several occurrences of option.
std::vector<double> ParseNumbers(const std::vector<std::string>& lists, const std::string& option) {
  return ParseList(lists, [&option](const std::string& word) {
    const detail::Decimal number = detail::ReadDecimal(word);
    if (word.empty() || number.end != word.data() + word.size() || !std::isfinite(number.value))
      throw std::invalid_argument(option + " '" + word +
                                  "': expected finite numbers separated by commas");
    return number.value;
  });
}

std::optional<char> ParseSeparator(const std::string& word) {
  if (word.empty()) return std::nullopt;
  if (word == "tab" || word == "\\t") return '\t';
  if (word == "comma") return ',';
  if (word == "semicolon") return ';';
  if (word.size() == 1 && word != "\"" && word != "\n" && word != "\r") return word[0];
  throw std::invalid_argument("--sep '" + word +
                              "': expected one character, or tab, comma or semicolon");
}

// --decimal and --exclude-columns: how the table's cells read.
void ParseCellOptions(const po::variables_map& vm, Settings& s) {
  const std::string decimal = vm["decimal"].as<std::string>();
  if (decimal != "." && decimal != ",")
    throw std::invalid_argument("--decimal '" + decimal + "': expected . or ,");
  s.decimal = decimal[0];
  if (s.decimal == ',' && s.separator == ',')
    throw std::invalid_argument(
        "--decimal , needs another separator than a comma: give --sep ';' or --sep tab");
  if (!vm.count("exclude-columns")) return;
  for (const std::string& list : vm["exclude-columns"].as<std::vector<std::string>>()) {
    std::istringstream names(list);
    std::string name;
    while (std::getline(names, name, ',')) {
      if (name.empty())
        throw std::invalid_argument("--exclude-columns '" + list +
                                    "': expected column names separated by commas");
      s.exclude_columns.push_back(name);
    }
  }
}

Preprocessing ParsePreprocessing(const po::variables_map& vm) {
  Preprocessing p;
  p.log2 = vm.count("log2") > 0;
  p.center = Choose(vm["center"].as<std::string>(), kCenterings, "center");
  p.scale = Choose(vm["scale"].as<std::string>(), kScalings, "scale");
  for (const auto& c : kColumnScalings)
    if (vm.count(c.name) && c.value > p.columns) p.columns = c.value;
  return p;
}

// The cuts besides -k and --height, into the "Cuts and outputs" group.
void AddRuleOptions(po::options_description& output) {
  output.add_options()(
      "inconsistent", po::value<std::vector<std::string>>()->composing(),
      "cut where the inconsistency coefficient is at most T (SciPy's fcluster 'inconsistent'); "
      "several as 0.8,1.2")("depth", po::value<std::string>(),
                            "with --inconsistent: the levels of merges a coefficient sees "
                            "[2]")("dynamic",
                                   "the dynamic tree cut (R's cutreeDynamic); elements it "
                                   "leaves out get cluster 0")(
      "dynamic-method", po::value<std::string>(),
      "with --dynamic: tree (the tree's shape) or hybrid (with the distances, as R's default) "
      "[tree]")("deep-split", po::value<std::string>(),
                "with --dynamic: R's deepSplit, 0 or 1 for tree, 0 to 4 for hybrid [0 tree, 1 "
                "hybrid]")("cut-height", po::value<double>(),
                           "with --dynamic: no cluster above this height [R's default]")(
      "no-pam",
      "with --dynamic-method hybrid: leave the elements out of clusters as they are "
      "(R's pamStage = FALSE)")(
      "clade", po::value<std::string>(),
      "the fewest clades within --threshold: max (largest distance along the tree), avg (mean "
      "distance), sum (total branch length) or single (single linkage)")(
      "threshold", po::value<std::vector<std::string>>()->composing(),
      "with --clade: the threshold; several as 0.2,0.5")(
      "min-size", po::value<std::string>(),
      "clusters smaller than this get cluster 0 [none; 20 for --dynamic]");
}

// Consensus clustering's options, into the "Cuts and outputs" group.
void AddConsensusOptions(po::options_description& output) {
  output.add_options()("consensus", po::value<std::string>(),
                       "with -k: consensus clustering (ConsensusClusterPlus's) from N resamples: "
                       "for each k the consensus CDF's area and its change (--report) and the "
                       "final clusters (consensus-k=K columns)")(
      "subsample-items", po::value<std::string>(),
      "with --consensus: the share of the elements each resample draws, in (0, 1] [0.8]")(
      "subsample-values", po::value<std::string>(),
      "with --consensus: the share of the values each resample draws, in (0, 1] [1]")(
      "consensus-matrix", po::value<std::string>(),
      "with --consensus: write each k's consensus matrix to PREFIXk=K.tsv")(
      "item-consensus", po::value<std::string>(),
      "with --consensus: element k cluster consensus, each element's mean consensus with each "
      "final cluster, to FILE (- : standard output)")(
      "consensus-svg", po::value<std::string>(),
      "with --consensus: draw the consensus CDFs and the delta-area plot to FILE");
}

// The multiscale bootstrap's options, into the "Cuts and outputs" group.
void AddBootstrapOptions(po::options_description& output) {
  output.add_options()("bootstrap", po::value<std::string>(),
                       "tree methods: support for each merge from N resamples of the values per "
                       "scale (R's pvclust nboot): BP and AU p-values, in --support, the "
                       "trees' node labels, --svg and --report")(
      "bootstrap-scales", po::value<std::vector<std::string>>()->composing(),
      "with --bootstrap: the resample sizes over the number of values [0.5,0.6,...,1.4, "
      "pvclust's]")("support", po::value<std::string>(),
                    "with --bootstrap: per merge, in the linkage file's order: merge size "
                    "height bp au se.bp se.au v c pchi, to FILE (- : standard output)")(
      "support-label", po::value<std::string>(),
      "with --bootstrap: au or bp, in percent, as the node labels of --newick, --nexus and "
      "--svg [au]")("alpha", po::value<std::string>(),
                    "with --bootstrap: --report lists the largest clusters of AU at least "
                    "this (R's pvpick) [0.95]");
}

po::options_description Described() {
  po::options_description input("Input", 100, 50);
  input.add_options()(
      "sep", po::value<std::string>()->default_value(""),
      "cell separator: one character, tab, comma or semicolon (default: comma for .csv and "
      ".csv.gz, semicolon there with --decimal ',', otherwise tab)")(
      "decimal", po::value<std::string>()->default_value("."),
      "the values' decimal mark: . or , (then the separator cannot be a comma)")(
      "exclude-columns", po::value<std::vector<std::string>>()->composing(),
      "leave out these columns of the table (text or ID columns), as NAME,NAME or repeated")(
      "input", po::value<std::string>()->default_value("data"),
      "data: a table of elements (rows) and their values; distances: a square, symmetric "
      "distance matrix with the names as header and first column")(
      "transpose", "cluster the columns instead of the rows")(
      "weights", po::value<std::string>()->default_value(""),
      "FILE (a column name and its weight per line, after a header) or auto (computed from "
      "the data); default: every column weighs 1")(
      "weight-cutoff", po::value<double>()->default_value(0.1, "0.1"),
      "with --weights auto: distance below which two columns count as neighbours")(
      "weight-exponent", po::value<double>()->default_value(1.0, "1"),
      "with --weights auto: exponent of the neighbour terms")(
      "log2", "replace each value by its base-2 logarithm (values must be above 0)")(
      "center-columns",
      "subtract from each column (variable) its mean, as R's scale(x, scale = FALSE)")(
      "scale-columns",
      "subtract from each column (variable) its mean and divide it by its standard deviation, "
      "as R's scale(x): for variables in different units, before -d euclidean")(
      "center", po::value<std::string>()->default_value("none"),
      "subtract from each profile (row) its mean or median: for gene profiles")(
      "scale", po::value<std::string>()->default_value("none"),
      "divide each profile (row) by its standard deviation (sd) or its norm")(
      "drop-empty",
      "leave out the elements without any value (listed on standard error, NA in the clusters "
      "file) instead of stopping");
  po::options_description clustering("Clustering", 100, 50);
  clustering.add_options()(
      "method,m", po::value<std::string>()->default_value("average"),
      "a linkage (below, by name or letter): a tree; kmeans, kmedians, kmedoids: k clusters "
      "(-k) from --npass starts (see --init); som: a self-organising map (--grid)")(
      "distance,d", po::value<std::string>()->default_value("pearson"),
      "a distance (below, by name or letter). Values missing in either element take no part; "
      "the sums of euclidean, sqeuclidean, manhattan and canberra are scaled up by all "
      "dimensions over those present, as R's dist() does")(
      "no-matrix",
      "build the tree from the data without a distance matrix, in memory proportional to the "
      "data: single and centroid linkage, ward and median on complete data; chosen by itself "
      "when the matrix would not fit in the memory available")(
      "leaf-order", po::value<std::string>()->default_value("none"),
      "none (as the tree was built) or optimal: swap the children of merges so that the sum of "
      "distances between neighbouring leaves is smallest")(
      "leaf-order-limit", po::value<double>(),
      "with --leaf-order optimal: the seconds it may be estimated to take (default 60) before "
      "the run stops, saying how long it would take")(
      "force",
      "with --leaf-order optimal: order the leaves however long that is estimated to take")(
      "npass", po::value<std::string>()->default_value("10"),
      "kmeans, kmedians, kmedoids: starts per k (see --init); the best result is kept")(
      "init", po::value<std::string>()->default_value("kmeans++"),
      "kmeans, kmedians: how each start begins: kmeans++ (centres drawn apart by k-means++, "
      "each element with its nearest, as scikit-learn's KMeans starts) or random (a random "
      "partition, lopper 0.2's starts, which stall more often)")(
      "seed", po::value<std::string>()->default_value(std::to_string(kDefaultSeed)),
      "seed of the random starts, so that runs repeat exactly; clock: from the clock, and the "
      "seed is reported on standard error")("grid", po::value<std::string>(),
                                            "som: the map's cells across and down, as 5x4")(
      "iterations", po::value<std::string>()->default_value("100000"),
      "som: how many times an element is presented to the map")(
      "tau", po::value<double>()->default_value(0.02, "0.02"),
      "som: the initial learning rate, above 0");
  po::options_description output("Cuts and outputs", 100, 50);
  output.add_options()(",k", po::value<std::vector<std::string>>()->composing(),
                       "cut into this many clusters; several as 2,3,10 or repeated")(
      "height", po::value<std::vector<double>>()->composing(),
      "cut at this height (repeatable): a cluster is a largest subtree with no merge above it");
  AddRuleOptions(output);
  AddBootstrapOptions(output);
  AddConsensusOptions(output);
  output.add_options()(
      "clusters", po::value<std::string>()->default_value("-"),
      "file of the cuts: a name column, then one column per cut (- : standard output)")(
      "newick", po::value<std::string>()->default_value(""),
      "write the tree in Newick to FILE (- : standard output)")(
      "nexus", po::value<std::string>()->default_value(""),
      "write the tree as a Nexus file FILE (- : standard output)")(
      "linkage", po::value<std::string>()->default_value(""),
      "write SciPy's linkage matrix (id1 id2 height size per merge) to FILE (- : standard "
      "output)")(
      "centroids", po::value<std::string>()->default_value(""),
      "kmeans, kmedians: each cluster's centre in the table's columns; kmedoids: each cluster's "
      "medoid; som: each cell's vector; to FILE")(
      "report", po::value<std::string>(),
      "for each k or cut: the within-cluster error and how many starts found it (partitions), "
      "the mean silhouette width (--silhouette); to FILE (- : standard error, the default for "
      "partitions)")("silhouette", "add each cut's or k's mean silhouette width to the report")(
      "svg", po::value<std::string>()->default_value(""),
      "draw the data as a heatmap beside the tree (or grouped by cluster) to FILE")(
      "html", po::value<std::string>()->default_value(""),
      "write the heatmap and trees as a page to explore in a browser (zoom, search, drag the "
      "cut and download its clusters) to FILE")(
      "cluster-columns", po::value<std::string>(),
      "with --svg or --html: order the columns by a tree of this linkage (as -m), drawn above "
      "the heatmap")(
      "column-annotations", po::value<std::string>(),
      "with --svg or --html: draw categories of the columns as coloured bars above the heatmap, "
      "from FILE: a header naming the annotations, then a line per column (its name "
      "in the table, then its categories)")("gaps",
                                            "with --svg: leave gaps between the band's clusters")(
      "fit", po::value<std::string>(), "with --svg: draw within WIDTHxHEIGHT pixels, as 1200x900")(
      "threads", po::value<std::string>(),
      "threads to compute with, at least 1 (default: one per core); results do not depend "
      "on it")("progress", "show progress on standard error (default when it is a terminal)")(
      "quiet,q", "show no progress")("help,h", "print this help and stop")(
      "version", "print the version and stop");
  po::options_description all;
  all.add(input).add(clustering).add(output);
  return all;
}

const char kLinkagePolicy[] =
    "  ward and median need -d euclidean on data, where their criteria are defined; with\n"
    "  --input distances they update the given matrix as R's hclust does. centroid measures\n"
    "  between the clusters' mean profiles by any distance.\n";

// What the command line takes after the options: the names of the linkages
// and distances, one line each.
std::string NamesHelp() {
  return "\nLinkages (-m, --cluster-columns):\n" + NameLines(kLinkageNames) + kLinkagePolicy +
         "\nDistances (-d):\n" + NameLines(kDistanceNames);
}

const char kUsage[] =
    "Usage: lopper-cluster [options] TABLE\n"
    "Clusters the rows (or columns) of TABLE (a file, - for standard input, "
    ".gz read compressed)\ninto a tree and cuts it.\n";

}  // namespace

namespace {

// "-" names standard output for every file, which one output at most can
// have: the clusters' is theirs by default.
void CheckOneStandardOutput(const Settings& s, bool cuts) {
  const std::pair<const char*, const std::string*> outputs[] = {
      {"clusters", &s.clusters},
      {"newick", &s.newick},
      {"nexus", &s.nexus},
      {"linkage", &s.linkage},
      {"centroids", &s.centroids},
      {"svg", &s.svg},
      {"html", &s.html},
      {"support", &s.bootstrap.support},
      {"item-consensus", &s.consensus.items_file}};
  const char* first = nullptr;
  for (const auto& [option, path] : outputs) {
    if (*path != "-" || (path == &s.clusters && !cuts)) continue;
    if (first)
      throw std::invalid_argument(std::string("--") + first + " and --" + option +
                                  " would both go to standard output (-): name a file for one "
                                  "of them");
    first = option;
  }
}

// A tree run needs something to write; a partition always has clusters.
void CheckOutputsWanted(const po::variables_map& vm, const Settings& s) {
  const bool cuts = !s.ks.empty() || !s.heights.empty() || s.cuts.any() || !s.tree();
  if (s.bootstrap.on() && s.bootstrap.support.empty() && s.newick.empty() && s.nexus.empty() &&
      s.svg.empty() && s.html.empty() && s.report.empty())
    throw std::invalid_argument(
        "--bootstrap has nothing to write its support to: give --support, --newick, --nexus, "
        "--svg, --html or --report");
  CheckOneStandardOutput(s, cuts);
  if (!cuts && !vm["clusters"].defaulted())
    throw std::invalid_argument("--clusters needs a cut: give -k, --height or another cut");
  if (!cuts && s.newick.empty() && s.nexus.empty() && s.linkage.empty() && s.svg.empty() &&
      s.html.empty() && !s.bootstrap.on())
    throw std::invalid_argument(
        "nothing to write: give -k, --height, --inconsistent, --dynamic or --clade for clusters, "
        "or --newick, --nexus, --linkage, --svg or --html");
  if (s.silhouette && !cuts)
    throw std::invalid_argument("--silhouette measures clusters: give -k or --height");
}

// Options that only data can take, rejected with --input distances.
void CheckDistancesInput(const po::variables_map& vm, const Settings& s) {
  for (const char* option : {"transpose", "log2", "svg", "html", "no-matrix", "center-columns",
                             "scale-columns", "drop-empty", "bootstrap", "consensus"})
    if (vm.count(option) && !vm[option].defaulted())
      throw std::invalid_argument(std::string("--") + option +
                                  " applies to data, not to --input distances");
  for (const char* option : {"weights", "center", "scale", "distance"})
    if (!vm[option].defaulted())
      throw std::invalid_argument(std::string("--") + option +
                                  " applies to data, not to --input distances");
  if (s.tree() && s.method == 'c')
    throw std::invalid_argument(
        "centroid linkage recomputes distances from the data: it cannot run on "
        "--input distances");
  if (!s.tree() && s.partitioning != Partitioning::kMedoids)
    throw std::invalid_argument(
        "-m " + vm["method"].as<std::string>() +
        " computes centres from the data: it cannot run on --input distances");
}

// Options that only some methods take, rejected with the others.
struct MethodOption {
  const char* option;
  bool (*applies)(Partitioning);
  const char* methods;
};

bool IsTree(Partitioning p) { return p == Partitioning::kNone; }
bool IsPartition(Partitioning p) { return p != Partitioning::kNone; }
bool TakesK(Partitioning p) { return p != Partitioning::kSom; }
bool TakesPasses(Partitioning p) { return IsPartition(p) && TakesK(p); }
bool IsSom(Partitioning p) { return p == Partitioning::kSom; }
bool HasCentres(Partitioning p) { return p == Partitioning::kMeans || p == Partitioning::kMedians; }

constexpr MethodOption kMethodOptions[] = {
    {"height", IsTree, "tree methods"},
    {"inconsistent", IsTree, "tree methods"},
    {"dynamic", IsTree, "tree methods"},
    {"clade", IsTree, "tree methods"},
    {"min-size", IsTree, "tree methods"},
    {"newick", IsTree, "tree methods"},
    {"nexus", IsTree, "tree methods"},
    {"linkage", IsTree, "tree methods"},
    {"leaf-order", IsTree, "tree methods"},
    {"no-matrix", IsTree, "tree methods"},
    {"bootstrap", IsTree, "tree methods"},
    {"consensus", TakesK, "tree methods, kmeans, kmedians and kmedoids"},
    {"-k", TakesK, "tree methods, kmeans, kmedians and kmedoids"},
    {"npass", TakesPasses, "kmeans, kmedians and kmedoids"},
    {"init", HasCentres, "kmeans and kmedians"},
    {"centroids", IsPartition, "kmeans, kmedians, kmedoids and som"},
    {"grid", IsSom, "som"},
    {"iterations", IsSom, "som"},
    {"tau", IsSom, "som"},
};

void CheckMethodOptions(const po::variables_map& vm, const Settings& s) {
  for (const MethodOption& o : kMethodOptions)
    if (vm.count(o.option) && !vm[o.option].defaulted() && !o.applies(s.partitioning))
      throw std::invalid_argument(std::string(o.option[0] == '-' ? "" : "--") + o.option +
                                  " applies to " + o.methods + ", not to -m " +
                                  vm["method"].as<std::string>());
  if (vm.count("seed") && !vm["seed"].defaulted() && IsTree(s.partitioning) && !s.bootstrap.on() &&
      !s.consensus.on())
    throw std::invalid_argument(
        "--seed applies to kmeans, kmedians, kmedoids, som, --bootstrap "
        "and --consensus, not to -m " +
        vm["method"].as<std::string>());
  if (s.consensus.on() && s.ks.empty())
    throw std::invalid_argument("--consensus clusters the resamples into each k: give -k");
  if (TakesPasses(s.partitioning) && s.ks.empty())
    throw std::invalid_argument("-m " + vm["method"].as<std::string>() +
                                " needs the number of clusters: give -k");
  if (IsSom(s.partitioning) && !vm.count("grid"))
    throw std::invalid_argument("-m som needs the map's size: give --grid, as 5x4");
  for (const char* option : {"cluster-columns", "column-annotations"})
    if (vm.count(option) && s.svg.empty() && s.html.empty())
      throw std::invalid_argument(std::string("--") + option +
                                  " shapes the picture: give --svg or --html");
  for (const char* option : {"gaps", "fit"})
    if (vm.count(option) && s.svg.empty())
      throw std::invalid_argument(std::string("--") + option + " shapes the picture: give --svg");
}

// Ward's and the median's criteria are defined on Euclidean distances: on
// data no other is taken, while a given matrix is the user's own choice.
void CheckEuclideanLinkage(const std::string& option, char method, const Settings& s) {
  if (s.distances_input || s.distance == 'E' || (method != 'w' && method != 'd')) return;
  const bool ward = method == 'w';
  throw std::invalid_argument(option + " " + NameOf(method, kLinkageNames) +
                              " needs -d euclidean (" + (ward ? "Ward's" : "the median's") +
                              " criterion is defined on Euclidean distances); with --input "
                              "distances its update runs on your matrix as R's hclust does");
}

// --no-matrix builds the tree alone: nothing that needs the distances after
// it, and only the linkages whose updates need no matrix.
void CheckNoMatrix(const Settings& s) {
  if (!s.no_matrix || !s.tree()) return;
  if (s.method == 'm' || s.method == 'a' || s.method == 'q')
    throw std::invalid_argument(std::string("-m ") + NameOf(s.method, kLinkageNames) +
                                " needs the distance matrix; --no-matrix takes single, centroid, "
                                "ward and median linkage");
  if (s.optimal_leaf_order)
    throw std::invalid_argument(
        "--leaf-order optimal needs the distance matrix: it cannot run with --no-matrix");
  if (s.silhouette)
    throw std::invalid_argument(
        "--silhouette needs the distance matrix: it cannot run with --no-matrix");
  if (s.cuts.hybrid)
    throw std::invalid_argument(
        "--dynamic-method hybrid needs the distance matrix: it cannot run with --no-matrix (the "
        "tree method needs none)");
}

constexpr Named<char> kCladeRules[] = {{"max", 'm'}, {"avg", 'a'}, {"sum", 's'}, {"single", 'l'}};

// The cuts besides -k and --height; each option checked against the cut it
// goes with.
TreeCuts ParseTreeCuts(const po::variables_map& vm) {
  TreeCuts c;
  if (vm.count("inconsistent"))
    c.inconsistent =
        ParseNumbers(vm["inconsistent"].as<std::vector<std::string>>(), "--inconsistent");
  c.dynamic = vm.count("dynamic") > 0;
  if (vm.count("clade")) c.clade = Choose(vm["clade"].as<std::string>(), kCladeRules, "clade");
  const auto needs = [&vm](const char* option, bool given, const char* cut) {
    if (vm.count(option) && !given)
      throw std::invalid_argument(std::string("--") + option + " applies to " + cut);
  };
  needs("depth", !c.inconsistent.empty(), "--inconsistent");
  for (const char* option : {"dynamic-method", "deep-split", "cut-height"})
    needs(option, c.dynamic, "--dynamic");
  needs("threshold", c.clade, "--clade");
  if (vm.count("depth")) c.depth = ParseWhole(vm["depth"].as<std::string>(), 1, "--depth");
  if (vm.count("dynamic-method")) {
    const std::string method = vm["dynamic-method"].as<std::string>();
    if (method != "tree" && method != "hybrid")
      throw std::invalid_argument("--dynamic-method '" + method + "': expected tree or hybrid");
    c.hybrid = method == "hybrid";
  }
  needs("no-pam", c.hybrid, "--dynamic-method hybrid");
  c.pam = !vm.count("no-pam");
  c.deep_split = c.hybrid ? 1 : 0;
  if (vm.count("deep-split")) {
    c.deep_split = ParseWhole(vm["deep-split"].as<std::string>(), 0, "--deep-split");
    if (c.deep_split > (c.hybrid ? 4 : 1))
      throw std::invalid_argument(c.hybrid ? "--deep-split takes 0 to 4 (R's levels)"
                                           : "--deep-split takes 0 or 1 with the tree method "
                                             "(R's FALSE or TRUE); the hybrid method takes 0 to 4");
  }
  if (vm.count("cut-height")) c.cut_height = vm["cut-height"].as<double>();
  if (std::isnan(c.cut_height) != !vm.count("cut-height") || std::isinf(c.cut_height))
    throw std::invalid_argument("--cut-height must be a finite number");
  if (c.clade && !vm.count("threshold")) throw std::invalid_argument("--clade needs --threshold");
  if (c.clade)
    c.clade_thresholds =
        ParseNumbers(vm["threshold"].as<std::vector<std::string>>(), "--threshold");
  if (vm.count("min-size"))
    c.min_size = ParseWhole(vm["min-size"].as<std::string>(), 1, "--min-size");
  else if (c.dynamic)
    c.min_size = 20;
  return c;
}

// pvclust's scales: seq(0.5, 1.4, by = 0.1).
std::vector<double> DefaultScales() {
  std::vector<double> scales(10);
  for (int i = 0; i < 10; i++) scales[i] = 0.5 + i * 0.1;
  return scales;
}

BootstrapSettings ParseBootstrap(const po::variables_map& vm) {
  BootstrapSettings b;
  if (vm.count("bootstrap"))
    b.nboot = ParseWhole(vm["bootstrap"].as<std::string>(), 1, "--bootstrap");
  for (const char* option : {"bootstrap-scales", "support", "support-label", "alpha"})
    if (vm.count(option) && !b.on())
      throw std::invalid_argument(std::string("--") + option + " applies to --bootstrap");
  b.scales = vm.count("bootstrap-scales")
                 ? ParseNumbers(vm["bootstrap-scales"].as<std::vector<std::string>>(),
                                "--bootstrap-scales")
                 : DefaultScales();
  if (static_cast<double>(b.nboot) * static_cast<double>(b.scales.size()) >
      std::numeric_limits<int>::max())
    throw std::invalid_argument("--bootstrap " + std::to_string(b.nboot) + " at " +
                                std::to_string(b.scales.size()) +
                                " scales is more resamples than one run counts (2^31 - 1)");
  for (const double r : b.scales)
    if (!(r > 0))
      throw std::invalid_argument(
          "--bootstrap-scales must be above 0 (1: as many values as the "
          "table has)");
  if (vm.count("support")) b.support = vm["support"].as<std::string>();
  if (vm.count("support-label")) {
    const std::string label = vm["support-label"].as<std::string>();
    if (label != "au" && label != "bp")
      throw std::invalid_argument("--support-label '" + label + "': expected au or bp");
    b.label_bp = label == "bp";
  }
  if (vm.count("alpha")) {
    const std::string word = vm["alpha"].as<std::string>();
    b.alpha = ParseNumbers({word}, "--alpha").front();
    if (!(b.alpha > 0 && b.alpha < 1))
      throw std::invalid_argument("--alpha '" + word + "': expected a number between 0 and 1");
  }
  return b;
}

// A share of the elements or values a resample draws: above 0, at most 1.
double ParseShare(const po::variables_map& vm, const char* option, double fallback) {
  if (!vm.count(option)) return fallback;
  const std::string word = vm[option].as<std::string>();
  const double share = ParseNumbers({word}, std::string("--") + option).front();
  if (!(share > 0 && share <= 1))
    throw std::invalid_argument(std::string("--") + option + " '" + word +
                                "': expected a share above 0 and at most 1");
  return share;
}

ConsensusSettings ParseConsensus(const po::variables_map& vm) {
  ConsensusSettings c;
  if (vm.count("consensus"))
    c.reps = ParseWhole(vm["consensus"].as<std::string>(), 1, "--consensus");
  for (const char* option : {"subsample-items", "subsample-values", "consensus-matrix",
                             "item-consensus", "consensus-svg"})
    if (vm.count(option) && !c.on())
      throw std::invalid_argument(std::string("--") + option + " applies to --consensus");
  c.items = ParseShare(vm, "subsample-items", c.items);
  c.values = ParseShare(vm, "subsample-values", c.values);
  if (vm.count("consensus-matrix")) c.matrices = vm["consensus-matrix"].as<std::string>();
  if (vm.count("item-consensus")) c.items_file = vm["item-consensus"].as<std::string>();
  if (vm.count("consensus-svg")) c.svg = vm["consensus-svg"].as<std::string>();
  if (c.matrices == "-" || c.svg == "-")
    throw std::invalid_argument(std::string("--") +
                                (c.svg == "-" ? "consensus-svg" : "consensus-matrix") +
                                " writes files: name one instead of -");
  return c;
}

// The options of partitioning methods and of the picture.
void ParseMethodSettings(const po::variables_map& vm, Settings& s) {
  s.npass = ParseWhole(vm["npass"].as<std::string>(), 1, "--npass");
  s.init = Choose(vm["init"].as<std::string>(), kInits, "init");
  const std::string seed = vm["seed"].as<std::string>();
  s.seed = seed == "clock" ? std::nullopt : std::optional<int>(ParseWhole(seed, 0, "--seed"));
  if (vm.count("grid"))
    std::tie(s.grid_x, s.grid_y) =
        ParseSize(vm["grid"].as<std::string>(), 1, 1, "--grid",
                  "the cells across and down as in 5x4, each at least 1");
  s.iterations = ParseWhole(vm["iterations"].as<std::string>(), 1, "--iterations");
  s.tau = vm["tau"].as<double>();
  if (!(s.tau > 0) || !std::isfinite(s.tau))
    throw std::invalid_argument("--tau must be a finite number above 0");
  const std::string order = vm["leaf-order"].as<std::string>();
  if (order != "none" && order != "optimal")
    throw std::invalid_argument("--leaf-order '" + order + "': expected one of none, optimal");
  s.optimal_leaf_order = order == "optimal";
  s.force = vm.count("force") > 0;
  if (vm.count("leaf-order-limit")) s.leaf_order_limit = vm["leaf-order-limit"].as<double>();
  if (!(s.leaf_order_limit > 0) || !std::isfinite(s.leaf_order_limit))
    throw std::invalid_argument("--leaf-order-limit must be a finite number of seconds above 0");
  if ((s.force || vm.count("leaf-order-limit")) && !s.optimal_leaf_order)
    throw std::invalid_argument(
        std::string(s.force ? "--force" : "--leaf-order-limit") +
        " bounds the time of --leaf-order optimal: give --leaf-order optimal");
  s.drop_empty = vm.count("drop-empty") > 0;
  s.silhouette = vm.count("silhouette") > 0;
  s.centroids = vm["centroids"].as<std::string>();
  s.svg = vm["svg"].as<std::string>();
  s.html = vm["html"].as<std::string>();
  if (vm.count("cluster-columns"))
    s.column_method =
        ChooseCode(vm["cluster-columns"].as<std::string>(), kLinkageNames, "cluster-columns");
  if (vm.count("column-annotations"))
    s.column_annotations = vm["column-annotations"].as<std::string>();
  s.gaps = vm.count("gaps") > 0;
  // At least 400 by 300, so that the legends and trees keep room.
  if (vm.count("fit"))
    std::tie(s.fit_width, s.fit_height) =
        ParseSize(vm["fit"].as<std::string>(), 400, 300, "--fit",
                  "the picture's largest width and height in pixels as in 1200x900, at least "
                  "400x300");
  // A partition's report is its result; a tree's is asked for.
  if (vm.count("report"))
    s.report = vm["report"].as<std::string>();
  else if (!s.tree() || s.silhouette || s.consensus.on())
    s.report = "-";
}

Settings ToSettings(const po::variables_map& vm) {
  Settings s;
  s.table = vm["table"].as<std::string>();
  s.separator = ParseSeparator(vm["sep"].as<std::string>());
  ParseCellOptions(vm, s);
  const std::string input = vm["input"].as<std::string>();
  if (input != "data" && input != "distances")
    throw std::invalid_argument("--input '" + input + "': expected data or distances");
  s.distances_input = input == "distances";
  s.transpose = vm.count("transpose") > 0;
  s.weights = vm["weights"].as<std::string>();
  s.weight_cutoff = vm["weight-cutoff"].as<double>();
  s.weight_exponent = vm["weight-exponent"].as<double>();
  if (!(s.weight_cutoff > 0) || !std::isfinite(s.weight_cutoff) ||
      !std::isfinite(s.weight_exponent))
    throw std::invalid_argument(
        "--weight-cutoff must be a positive number, --weight-exponent finite");
  s.preprocessing = ParsePreprocessing(vm);
  ParseMethod(vm["method"].as<std::string>(), s);
  s.distance = ChooseCode(vm["distance"].as<std::string>(), kDistanceNames, "distance");
  if (vm.count("-k")) s.ks = ParseKs(vm["-k"].as<std::vector<std::string>>());
  if (vm.count("height")) s.heights = vm["height"].as<std::vector<double>>();
  for (const double h : s.heights)
    if (!std::isfinite(h)) throw std::invalid_argument("--height must be a finite number");
  s.cuts = ParseTreeCuts(vm);
  s.bootstrap = ParseBootstrap(vm);
  s.consensus = ParseConsensus(vm);
  if (s.cuts.clade && (s.method == 'c' || s.method == 'd'))
    throw std::invalid_argument(
        "--clade needs branch lengths, which centroid and median trees lack where a merge lies "
        "below the one inside it: choose another linkage");
  s.clusters = vm["clusters"].as<std::string>();
  s.newick = vm["newick"].as<std::string>();
  s.nexus = vm["nexus"].as<std::string>();
  s.linkage = vm["linkage"].as<std::string>();
  ParseMethodSettings(vm, s);
  if (vm.count("threads")) s.threads = ParseWhole(vm["threads"].as<std::string>(), 1, "--threads");
  if (vm.count("progress") && vm.count("quiet"))
    throw std::invalid_argument("--progress and --quiet contradict each other");
  s.progress = vm.count("progress") ? Progress::kOn
               : vm.count("quiet")  ? Progress::kOff
                                    : Progress::kAuto;
  s.no_matrix = vm.count("no-matrix") > 0;
  CheckMethodOptions(vm, s);
  CheckOutputsWanted(vm, s);
  if (s.tree()) CheckEuclideanLinkage("-m", s.method, s);
  if (s.column_method) CheckEuclideanLinkage("--cluster-columns", *s.column_method, s);
  if (s.distances_input) CheckDistancesInput(vm, s);
  CheckNoMatrix(s);
  return s;
}

}  // namespace

Parsed ParseCommandLine(int argc, const char* const argv[]) {
  const po::options_description visible = Described();
  po::options_description all;
  all.add(visible).add_options()("table", po::value<std::string>());
  po::positional_options_description positional;
  positional.add("table", 1);
  std::ostringstream help;
  help << kUsage << visible << NamesHelp();
  Parsed parsed;
  try {
    po::variables_map vm;
    po::store(po::command_line_parser(argc, argv).options(all).positional(positional).run(), vm);
    po::notify(vm);
    if (vm.count("help")) return {std::nullopt, 0, help.str()};
    if (vm.count("version"))
      return {std::nullopt, 0, std::string("lopper-cluster ") + LOPPER_VERSION + "\n"};
    if (!vm.count("table")) throw std::invalid_argument("no TABLE given");
    return {ToSettings(vm), 0, ""};
  } catch (const std::exception& e) {
    return {std::nullopt, 2,
            std::string("lopper-cluster: ") + e.what() + "\n" + "Try 'lopper-cluster --help'.\n"};
  }
}

const char* CladeRuleName(char rule) {
  for (const Named<char>& clade : kCladeRules)
    if (clade.value == rule) return clade.name;
  return "";
}

}  // namespace lopper
