#include "LopperInOut.h"

#include <boost/program_options.hpp>
#include <exception>

namespace po = boost::program_options;

namespace lopper {

int UserInterface(int argc, char** argv, std::string& NexusFile, int& Lvl, std::string& OutName,
                  std::ostream& out, bool* usage_error) {
  if (usage_error) *usage_error = false;
  po::options_description desc("Allowed options");
  desc.add_options()("help,h", "produce help message")("version", "print the version and stop")(
      "Nexus,N", po::value<std::string>(&NexusFile), "Nexus file name")(
      "Outname,O", po::value<std::string>(&OutName)->default_value(std::string("Out.clu")),
      "Output cluster file/tree [Default=Out.clu]")(
      "Level,L", po::value<int>(&Lvl)->default_value(-1), "Level at which to cut the tree");
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
    if (NexusFile.empty() || Lvl == -1) {
      out << desc << std::endl;
      if (usage_error) *usage_error = true;
      return 1;
    }
    out << "Options of your run:" << std::endl
        << "Nexus file Name: " << NexusFile << std::endl
        << "Cut tree at level: " << Lvl << std::endl
        << "Output cluster file name: " << OutName << std::endl;
  } catch (const std::exception& e) {
    out << desc << std::endl << std::endl << e.what() << std::endl;
    if (usage_error) *usage_error = true;
    return 1;
  }
  return 0;
}

}  // namespace lopper
