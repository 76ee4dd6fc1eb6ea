#include "LopperInOut.h"

#include <boost/program_options.hpp>
#include <exception>

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
      "With --by-height: the branch lengths are edge lengths (edge) or a merge's height on "
      "both its children (join) [Default: join when the tree fits it, else edge]");
}

// Checks the cut options together; throws as the options library does.
void CheckCutOptions(const po::variables_map& vm, CutSettings& cut) {
  cut.by_height = vm.count("by-height") > 0;
  if (vm.count("lengths") && !cut.by_height)
    throw po::error("option '--lengths' applies to '--by-height'");
  if (vm.count("lengths") && cut.lengths != "edge" && cut.lengths != "join")
    throw po::error("the argument ('" + cut.lengths +
                    "') for option '--lengths' is invalid: " + "expected edge or join");
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
    if (NexusFile.empty() || Lvl == -1) {
      out << desc << std::endl;
      if (usage_error) *usage_error = true;
      return 1;
    }
    out << "Options of your run:" << std::endl
        << "Nexus file Name: " << NexusFile << std::endl
        << "Cut tree at level: " << Lvl << std::endl
        << "Output cluster file name: " << OutName << std::endl;
    if (!settings.tree.empty()) out << "Tree: " << settings.tree << std::endl;
    if (settings.by_height)
      out << "Cut by height, branch lengths: "
          << (settings.lengths.empty() ? "read from the tree" : settings.lengths) << std::endl;
  } catch (const std::exception& e) {
    out << desc << std::endl << std::endl << e.what() << std::endl;
    if (usage_error) *usage_error = true;
    return 1;
  }
  return 0;
}

}  // namespace lopper
