// Reads a Nexus file, cuts its tree and prints the clusters: the command's
// work through the installed libraries.
#include <lopper/NexusTree.h>
#include <lopper/cluster.h>

#include <iostream>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::vector<std::string> names;
  std::string tree;
  int n = 0;
  if (!lopper::NexusFileIn(names, argv[1], tree) || !lopper::NexusTreeCheck(tree, n).empty())
    return 1;
  std::vector<lopper::Node> nodes(n - 1);
  lopper::NexusTreeIn(tree, nodes.data(), n);
  lopper::ReorderTree(nodes.data(), n);
  std::vector<int> ids(n);
  lopper::cuttree(n, nodes.data(), std::stoi(argv[2]), ids.data());
  for (int i = 0; i < n; i++) std::cout << names[i] << '\t' << ids[i] << '\n';
  return 0;
}
