// Reads a Nexus file, cuts its tree and prints the clusters: the command's
// work through the installed libraries.
#include <lopper/NexusTree.h>
#include <lopper/cluster.h>

#include <iostream>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const lopper::TreeReadResult read = lopper::ReadNexusTree(argv[1]);
  if (!read.tree) return 1;
  const std::vector<std::string>& names = read.tree->names;
  std::vector<lopper::Node> nodes = read.tree->nodes;
  const int n = static_cast<int>(names.size());
  std::vector<int> ids(n);
  lopper::cuttree(n, nodes.data(), std::stoi(argv[2]), ids.data());
  for (int i = 0; i < n; i++) std::cout << names[i] << '\t' << ids[i] << '\n';
  return 0;
}
