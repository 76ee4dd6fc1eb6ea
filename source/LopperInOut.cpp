#include "LopperInOut.h"

#include <algorithm>
#include <boost/program_options.hpp>
#include <cmath>
#include <exception>
#include <initializer_list>
#include <sstream>
#include <utility>

namespace po = boost::program_options;

namespace lopper {

namespace {

// The options of the tree and the cut, into *cut.
void AddCutOptions(po::options_description& desc, CutSettings& cut) {
  desc.add_options()("tree", po::value<std::string>(&cut.tree),
                     "Tree to cut in a file of several: its name or position from 1 [Default: "
                     "the last of a Nexus file, the first of a Newick file]")(
      "by-height",
      "Cut below the Level-1 highest merges by their heights from the branch lengths "
      "[Default: by the nesting of the tree]")(
      "lengths", po::value<std::string>(&cut.lengths),
      "With a cut by branch lengths: they are edge lengths (edge) or a merge's height on "
      "both its children (join) [Default: join when the tree fits it, else edge]")(
      "height", po::value<double>(&cut.threshold),
      "Instead of Level: cut at this height (SciPy's fcluster 'distance', R's cutree h)")(
      "inconsistent", po::value<double>(&cut.threshold),
      "Instead of Level: cut where the inconsistency coefficient is at most this (SciPy's "
      "fcluster 'inconsistent')")("depth", po::value<int>(&cut.depth),
                                  "With --inconsistent: levels of merges a coefficient sees "
                                  "[Default=2]")(
      "dynamic", "Instead of Level: the dynamic tree cut (R's cutreeDynamic, method tree)")(
      "deep-split", po::value<int>(&cut.deep_split),
      "With --dynamic: 1 splits deeper (R's deepSplit TRUE), 0 not [Default=0]")(
      "cut-height", po::value<double>(&cut.cut_height),
      "With --dynamic: no cluster above this height [Default: 99% of the highest merge]")(
      "clade", po::value<std::string>(),
      "Instead of Level: the fewest clades whose leaves keep within --threshold: max (largest "
      "distance along the tree), avg (mean distance), sum (total branch length) or single "
      "(single linkage)")("threshold", po::value<double>(), "With --clade: the threshold")(
      "support", po::value<double>(&cut.support),
      "With --clade: no cluster holds a branch of lower support (the internal node labels)")(
      "min-size", po::value<int>(&cut.min_size),
      "Elements of clusters smaller than this get cluster -1 [Default: none; 20 with --dynamic]");
}

// The rule the options choose; throws as the options library does when
// they choose more than one.
CutKind ChosenRule(const po::variables_map& vm) {
  static const std::pair<const char*, CutKind> rules[] = {{"height", CutKind::kHeight},
                                                          {"inconsistent", CutKind::kInconsistent},
                                                          {"dynamic", CutKind::kDynamic},
                                                          {"clade", CutKind::kClade}};
  CutKind kind = vm.count("by-height") ? CutKind::kByHeight : CutKind::kNesting;
  int chosen = vm.count("Level") && !vm["Level"].defaulted() ? 1 : 0;
  for (const auto& [option, rule] : rules)
    if (vm.count(option)) {
      kind = rule;
      chosen++;
    }
  if (chosen > 1)
    throw po::error("choose one cut: --Level, --height, --inconsistent, --dynamic or --clade");
  return kind;
}

// Throws unless `option`, when given, goes with a rule in `rules`.
void RequireRule(const po::variables_map& vm, const char* option, CutKind kind,
                 std::initializer_list<CutKind> rules, const char* names) {
  if (vm.count(option) && std::find(rules.begin(), rules.end(), kind) == rules.end())
    throw po::error(std::string("option '--") + option + "' applies to " + names);
}

// The clade rule named by --clade, and its threshold, into cut.
void CheckClade(const po::variables_map& vm, CutSettings& cut) {
  const std::string& name = vm["clade"].as<std::string>();
  for (const auto& [known, rule] : kCladeNames)
    if (name == known) cut.clade = rule;
  if (!cut.clade)
    throw po::error("the argument ('" + name +
                    "') for option '--clade' is invalid: expected max, avg, sum or single");
  if (!vm.count("threshold")) throw po::error("option '--clade' needs '--threshold'");
  cut.threshold = vm["threshold"].as<double>();
}

// The line that says how the tree is cut, after the file's.
std::string CutLine(const CutSettings& cut, int Lvl) {
  std::ostringstream line;
  switch (cut.kind) {
    case CutKind::kNesting:
    case CutKind::kByHeight:
      line << "Cut tree at level: " << Lvl;
      break;
    case CutKind::kHeight:
      line << "Cut tree at height: " << cut.threshold;
      break;
    case CutKind::kInconsistent:
      line << "Cut tree where inconsistency is at most " << cut.threshold << ", depth "
           << cut.depth;
      break;
    case CutKind::kDynamic:
      line << "Dynamic tree cut: deep split " << cut.deep_split << ", cut height ";
      if (std::isnan(cut.cut_height))
        line << "99% of the highest merge";
      else
        line << cut.cut_height;
      break;
    case CutKind::kClade:
      for (const auto& [name, rule] : kCladeNames)
        if (rule == cut.clade) line << "Clade cut: " << name << " within " << cut.threshold;
      if (!std::isnan(cut.support)) line << ", support at least " << cut.support;
      break;
  }
  return line.str();
}

// Checks the cut options together; throws as the options library does.
void CheckCutOptions(const po::variables_map& vm, CutSettings& cut) {
  cut.kind = ChosenRule(vm);
  cut.by_height = cut.kind == CutKind::kByHeight;
  using K = CutKind;
  RequireRule(vm, "lengths", cut.kind,
              {K::kByHeight, K::kHeight, K::kInconsistent, K::kDynamic, K::kClade},
              "a cut by branch lengths (--by-height, --height, --inconsistent, --dynamic, "
              "--clade)");
  RequireRule(vm, "depth", cut.kind, {K::kInconsistent}, "'--inconsistent'");
  RequireRule(vm, "deep-split", cut.kind, {K::kDynamic}, "'--dynamic'");
  RequireRule(vm, "cut-height", cut.kind, {K::kDynamic}, "'--dynamic'");
  RequireRule(vm, "threshold", cut.kind, {K::kClade}, "'--clade'");
  RequireRule(vm, "support", cut.kind, {K::kClade}, "'--clade'");
  if (vm.count("lengths") && cut.lengths != "edge" && cut.lengths != "join")
    throw po::error("the argument ('" + cut.lengths +
                    "') for option '--lengths' is invalid: " + "expected edge or join");
  if (cut.depth < 1) throw po::error("option '--depth' must be at least 1");
  if (cut.deep_split != 0 && cut.deep_split != 1)
    throw po::error(
        "option '--deep-split' takes 0 or 1 for a tree file (R's deepSplit FALSE or TRUE)");
  if (vm.count("min-size") && cut.min_size < 1)
    throw po::error("option '--min-size' must be at least 1");
  if (cut.kind == K::kDynamic && !vm.count("min-size")) cut.min_size = 20;
  for (const char* option : {"height", "inconsistent", "cut-height", "threshold", "support"})
    if (vm.count(option) && std::isnan(vm[option].as<double>()))
      throw po::error(std::string("option '--") + option + "' needs a number, not NaN");
  if (cut.kind == K::kClade) CheckClade(vm, cut);
}

}  // namespace

int UserInterface(int argc, char** argv, std::string& NexusFile, int& Lvl, std::string& OutName,
                  std::ostream& out, bool* usage_error, CutSettings* cut) {
  if (usage_error) *usage_error = false;
  CutSettings ignored;
  CutSettings& settings = cut ? *cut : ignored;
  po::options_description desc("Allowed options");
  desc.add_options()("help,h", "produce help message")("version", "print the version and stop")(
      "Nexus,N", po::value<std::string>(&NexusFile), "Nexus file name")(
      "Outname,O", po::value<std::string>(&OutName)->default_value(std::string("Out.clu")),
      "Output cluster file/tree [Default=Out.clu]")(
      "Level,L", po::value<int>(&Lvl)->default_value(-1), "Level at which to cut the tree");
  AddCutOptions(desc, settings);
  try {
    po::variables_map vm;
    // No positional words: a stray one would otherwise be dropped unseen.
    const po::positional_options_description none;
    po::store(po::command_line_parser(argc, argv).options(desc).positional(none).run(), vm);
    po::notify(vm);
    if (vm.count("help")) {
      out << desc << "\n";
      return 1;
    }
    if (vm.count("version")) {
      out << "lopper " << LOPPER_VERSION << std::endl;
      return 1;
    }
    CheckCutOptions(vm, settings);
    const bool needs_level =
        settings.kind == CutKind::kNesting || settings.kind == CutKind::kByHeight;
    if (NexusFile.empty() || (needs_level && Lvl == -1)) {
      out << desc << std::endl;
      if (usage_error) *usage_error = true;
      return 1;
    }
    out << "Options of your run:" << std::endl
        << "Nexus file Name: " << NexusFile << std::endl
        << CutLine(settings, Lvl) << std::endl
        << "Output cluster file name: " << OutName << std::endl;
    if (!settings.tree.empty()) out << "Tree: " << settings.tree << std::endl;
    if (settings.by_height)
      out << "Cut by height, branch lengths: "
          << (settings.lengths.empty() ? "read from the tree" : settings.lengths) << std::endl;
    if (settings.min_size > 0) out << "Smallest cluster kept: " << settings.min_size << std::endl;
  } catch (const std::exception& e) {
    out << desc << std::endl << std::endl << e.what() << std::endl;
    if (usage_error) *usage_error = true;
    return 1;
  }
  return 0;
}

}  // namespace lopper
