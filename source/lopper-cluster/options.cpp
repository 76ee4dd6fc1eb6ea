#include "options.h"

#include <boost/program_options.hpp>
#include <cmath>
#include <exception>
#include <sstream>
#include <stdexcept>
#include <type_traits>

namespace po = boost::program_options;

namespace lopper {

namespace {

// A word an option takes, and what it stands for.
template <class T>
struct Named {
  const char* name;
  T value;
};

constexpr Named<char> kMethods[] = {
    {"single", 's'}, {"complete", 'm'}, {"average", 'a'}, {"centroid", 'c'}};
constexpr Named<char> kDistances[] = {
    {"euclidean", 'e'},  {"cityblock", 'b'},     {"pearson", 'c'},  {"abspearson", 'a'},
    {"uncentered", 'u'}, {"absuncentered", 'x'}, {"spearman", 's'}, {"kendall", 'k'}};
constexpr Named<Centering> kCenterings[] = {
    {"none", Centering::kNone}, {"mean", Centering::kMean}, {"median", Centering::kMedian}};
constexpr Named<Scaling> kScalings[] = {
    {"none", Scaling::kNone}, {"sd", Scaling::kStandardDeviation}, {"norm", Scaling::kNorm}};

// What `word`, the value of --option, stands for among `choices`; for a
// table of library codes (char), the code's letter stands for itself.
template <class T, std::size_t N>
T Choose(const std::string& word, const Named<T> (&choices)[N], const std::string& option) {
  for (const Named<T>& c : choices) {
    if (word == c.name) return c.value;
    if constexpr (std::is_same_v<T, char>)
      if (word == std::string(1, c.value)) return c.value;
  }
  std::string known;
  for (const Named<T>& c : choices) known += std::string(known.empty() ? "" : ", ") + c.name;
  throw std::invalid_argument("--" + option + " '" + word + "': expected one of " + known);
}

std::vector<int> ParseKs(const std::vector<std::string>& lists) {
  std::vector<int> ks;
  for (const std::string& list : lists) {
    std::istringstream words(list);
    std::string word;
    while (std::getline(words, word, ',')) {
      std::size_t used = 0;
      int k = 0;
      try {
        k = std::stoi(word, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used == 0 || used != word.size() || k < 1)
        throw std::invalid_argument("-k '" + word +
                                    "': expected whole numbers of at least 1, "
                                    "separated by commas");
      ks.push_back(k);
    }
  }
  return ks;
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

Preprocessing ParsePreprocessing(const po::variables_map& vm) {
  Preprocessing p;
  p.log2 = vm.count("log2") > 0;
  p.center = Choose(vm["center"].as<std::string>(), kCenterings, "center");
  p.scale = Choose(vm["scale"].as<std::string>(), kScalings, "scale");
  return p;
}

po::options_description Described() {
  po::options_description input("Input", 100, 50);
  input.add_options()(
      "sep", po::value<std::string>()->default_value(""),
      "cell separator: one character, tab or comma (default: comma for .csv and .csv.gz, "
      "otherwise tab)")(
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
      "center", po::value<std::string>()->default_value("none"),
      "subtract from each profile its mean or median")(
      "scale", po::value<std::string>()->default_value("none"),
      "divide each profile by its standard deviation (sd) or its norm");
  po::options_description clustering("Clustering", 100, 50);
  clustering.add_options()("method,m", po::value<std::string>()->default_value("average"),
                           "linkage: single, complete, average or centroid (or s, m, a, c)")(
      "distance,d", po::value<std::string>()->default_value("pearson"),
      "euclidean (e): mean of the squared differences, weighted, no square root; "
      "cityblock (b): mean of the absolute differences, weighted; "
      "pearson (c): 1 - Pearson correlation; abspearson (a): 1 - |Pearson correlation|; "
      "uncentered (u): 1 - uncentred correlation (cosine); absuncentered (x): 1 - |uncentred "
      "correlation|; spearman (s): 1 - Spearman rank correlation; kendall (k): 1 - Kendall's "
      "tau. Values missing in either element take no part.");
  po::options_description output("Cuts and outputs", 100, 50);
  output.add_options()(",k", po::value<std::vector<std::string>>()->composing(),
                       "cut into this many clusters; several as 2,3,10 or repeated")(
      "height", po::value<std::vector<double>>()->composing(),
      "cut at this height (repeatable): a cluster is a largest subtree with no merge above it")(
      "clusters", po::value<std::string>()->default_value("-"),
      "file of the cuts: a name column, then one column per cut (- : standard output)")(
      "newick", po::value<std::string>()->default_value(""), "write the tree in Newick to FILE")(
      "nexus", po::value<std::string>()->default_value(""), "write the tree as a Nexus file FILE")(
      "linkage", po::value<std::string>()->default_value(""),
      "write SciPy's linkage matrix (id1 id2 height size per merge) to FILE")(
      "progress", "show progress on standard error (default when it is a terminal)")(
      "quiet,q", "show no progress")("help,h", "print this help and stop")(
      "version", "print the version and stop");
  po::options_description all;
  all.add(input).add(clustering).add(output);
  return all;
}

const char kUsage[] =
    "Usage: lopper-cluster [options] TABLE\n"
    "Clusters the rows (or columns) of TABLE (a file, - for standard input, "
    ".gz read compressed)\ninto a tree and cuts it.\n";

}  // namespace

namespace {

// Options that only data can take, rejected with --input distances.
void CheckDistancesInput(const po::variables_map& vm, const Settings& s) {
  for (const char* option : {"transpose", "log2"})
    if (vm.count(option))
      throw std::invalid_argument(std::string("--") + option +
                                  " applies to data, not to --input distances");
  for (const char* option : {"weights", "center", "scale", "distance"})
    if (!vm[option].defaulted())
      throw std::invalid_argument(std::string("--") + option +
                                  " applies to data, not to --input distances");
  if (s.method == 'c')
    throw std::invalid_argument(
        "centroid linkage recomputes distances from the data: it cannot run on --input "
        "distances");
}

Settings ToSettings(const po::variables_map& vm) {
  Settings s;
  s.table = vm["table"].as<std::string>();
  s.separator = ParseSeparator(vm["sep"].as<std::string>());
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
  s.method = Choose(vm["method"].as<std::string>(), kMethods, "method");
  s.distance = Choose(vm["distance"].as<std::string>(), kDistances, "distance");
  if (vm.count("-k")) s.ks = ParseKs(vm["-k"].as<std::vector<std::string>>());
  if (vm.count("height")) s.heights = vm["height"].as<std::vector<double>>();
  for (const double h : s.heights)
    if (!std::isfinite(h)) throw std::invalid_argument("--height must be a finite number");
  s.clusters = vm["clusters"].as<std::string>();
  s.newick = vm["newick"].as<std::string>();
  s.nexus = vm["nexus"].as<std::string>();
  s.linkage = vm["linkage"].as<std::string>();
  if (vm.count("progress") && vm.count("quiet"))
    throw std::invalid_argument("--progress and --quiet contradict each other");
  s.progress = vm.count("progress") ? Progress::kOn
               : vm.count("quiet")  ? Progress::kOff
                                    : Progress::kAuto;
  const bool cuts = !s.ks.empty() || !s.heights.empty();
  if (!cuts && !vm["clusters"].defaulted())
    throw std::invalid_argument("--clusters needs a cut: give -k or --height");
  if (!cuts && s.newick.empty() && s.nexus.empty() && s.linkage.empty())
    throw std::invalid_argument(
        "nothing to write: give -k or --height for clusters, or --newick, --nexus or --linkage");
  if (s.distances_input) CheckDistancesInput(vm, s);
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
  help << kUsage << visible;
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

}  // namespace lopper
