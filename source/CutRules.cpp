#include "CutRules.h"

#include <lopper/cluster.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <iostream>
#include <utility>

#include "HeightCut.h"

namespace lopper {

namespace {

// The tree as a rule sees it: the records with their heights for the rules
// of heights (in height order for --by-height), the file's records and
// their edge lengths for the clade cut.
struct Prepared {
  const TreeRead& tree;
  std::vector<Node> heights;
  std::vector<std::array<double, 2>> edges;
};

using Rule = int (*)(const Prepared&, int Lvl, const CutSettings&, int* cluid);

int Nesting(const Prepared& p, int Lvl, const CutSettings&, int* cluid) {
  const int n = static_cast<int>(p.tree.names.size());
  cuttree(n, p.tree.nodes.data(), Lvl, cluid);
  return cluid[0] < 0 ? -1 : Lvl;
}

int ByHeight(const Prepared& p, int Lvl, const CutSettings&, int* cluid) {
  const int n = static_cast<int>(p.tree.names.size());
  cuttree(n, p.heights.data(), Lvl, cluid);
  return cluid[0] < 0 ? -1 : Lvl;
}

int Height(const Prepared& p, int, const CutSettings& cut, int* cluid) {
  return cuttree_height(static_cast<int>(p.tree.names.size()), p.heights.data(), cut.threshold,
                        cluid);
}

int Inconsistent(const Prepared& p, int, const CutSettings& cut, int* cluid) {
  return cuttree_inconsistent(static_cast<int>(p.tree.names.size()), p.heights.data(),
                              cut.threshold, cut.depth, cluid);
}

int Dynamic(const Prepared& p, int, const CutSettings& cut, int* cluid) {
  const int n = static_cast<int>(p.tree.names.size());
  const std::vector<Node> listed = AsHclustLists(n, p.heights.data());
  return cuttree_dynamic(n, n > 1 ? listed.data() : nullptr, cut.cut_height, cut.deep_split,
                         cut.min_size, cluid);
}

int Clade(const Prepared& p, int, const CutSettings& cut, int* cluid) {
  // std::array<double, 2> holds its two values as a double[2] and nothing else.
  static_assert(sizeof(std::array<double, 2>) == sizeof(double[2]));
  const double(*lengths)[2] = reinterpret_cast<const double(*)[2]>(p.edges.data());
  return cuttree_clade(static_cast<int>(p.tree.names.size()), p.tree.nodes.data(), lengths,
                       p.tree.support.data(), p.tree.joined.data(), cut.clade, cut.threshold,
                       cut.support, cluid);
}

// Which records with heights a rule takes: none, in the file's order (any
// order with children first will do), or lowest first.
enum class Heights { kNone, kAsRead, kSorted };

// What each rule needs and is called: heights, edge lengths, a binary
// tree; the name its messages use.
struct RuleEntry {
  CutKind kind;
  Rule cut;
  Heights heights;
  bool edges;
  bool binary;
  const char* name;
};

constexpr RuleEntry kRules[] = {
    {CutKind::kNesting, Nesting, Heights::kNone, false, true, "cutting by nesting (-L)"},
    {CutKind::kByHeight, ByHeight, Heights::kSorted, false, true, "--by-height"},
    {CutKind::kHeight, Height, Heights::kAsRead, false, false, "--height"},
    {CutKind::kInconsistent, Inconsistent, Heights::kAsRead, false, true, "--inconsistent"},
    {CutKind::kDynamic, Dynamic, Heights::kAsRead, false, false, "--dynamic"},
    {CutKind::kClade, Clade, Heights::kNone, true, false, "--clade"},
};

const RuleEntry& EntryOf(CutKind kind) {
  for (const RuleEntry& entry : kRules)
    if (entry.kind == kind) return entry;
  return kRules[0];
}

// The reading of the branch lengths the settings name or the tree fits,
// said on standard error.
BranchLengths ReadingOf(const TreeRead& tree, const CutSettings& cut, const std::string& source) {
  const bool join = cut.lengths.empty() ? FitsJoinHeights(tree) : cut.lengths == "join";
  if (cut.lengths.empty())
    std::cerr << "lopper: " << source << ": branch lengths read as "
              << (join ? "join heights (both children of every merge carry its height; "
                         "--lengths edge reads them as edge lengths)"
                       : "edge lengths (--lengths join reads them as the heights of merges)")
              << std::endl;
  return join ? BranchLengths::kJoin : BranchLengths::kEdge;
}

// Why `tree` cannot be cut by `entry`, or "".
std::string Unfit(const TreeRead& tree, int Lvl, const RuleEntry& entry,
                  const std::string& source) {
  const int nleaves = static_cast<int>(tree.names.size());
  if ((entry.kind == CutKind::kNesting || entry.kind == CutKind::kByHeight) &&
      (Lvl < 1 || Lvl > nleaves))
    return source + ": Level " + std::to_string(Lvl) + " is outside 1.." + std::to_string(nleaves) +
           " (the tree has " + std::to_string(nleaves) + " elements)";
  if (entry.binary && !tree.polytomy.empty())
    return tree.polytomy + "; " + entry.name +
           " needs every node to have two children (--height, --dynamic and --clade cut such "
           "trees)";
  if (entry.heights != Heights::kNone || entry.edges)
    if (const int missing = MissingLengths(tree)) {
      // A node of k children is k-1 records with k-2 links, which are no branches.
      const auto links =
          std::count_if(tree.joined.begin(), tree.joined.end(), [](char j) { return j != 0; });
      return source + ": " + std::to_string(missing) + " of the tree's " +
             std::to_string(2 * tree.nodes.size() - links) + " branches have no length; " +
             entry.name + " needs them all";
    }
  return "";
}

}  // namespace

CutResult CutByRule(const TreeRead& tree, int Lvl, const CutSettings& cut,
                    const std::string& source) {
  const RuleEntry& entry = EntryOf(cut.kind);
  CutResult result{Unfit(tree, Lvl, entry, source), {}};
  if (!result.problem.empty()) return result;
  Prepared prepared{tree, {}, {}};
  if (entry.heights != Heights::kNone || entry.edges) {
    const BranchLengths reading = ReadingOf(tree, cut, source);
    if (entry.heights == Heights::kAsRead) prepared.heights = WithHeights(tree, reading);
    if (entry.heights == Heights::kSorted) prepared.heights = OrderedByHeight(tree, reading);
    if (entry.edges) prepared.edges = EdgeLengths(tree, reading);
  }
  result.cluid.assign(tree.names.size(), -1);
  const int found = entry.cut(prepared, Lvl, cut, result.cluid.data());
  // The tree and the settings are checked: what is left to fail is memory.
  if (found < 0 || (cut.min_size > 0 && cut.kind != CutKind::kDynamic &&
                    dropsmallclusters(static_cast<int>(result.cluid.size()), result.cluid.data(),
                                      cut.min_size) < 0))
    result.problem = "out of memory";
  return result;
}

}  // namespace lopper
