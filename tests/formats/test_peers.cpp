// Round trips through the readers the files are written for: SciPy reads
// the linkage matrix, R's ape and DendroPy the Newick and Nexus trees, the
// built lopper the Nexus file. The trees are treecluster's on random data;
// each test is skipped when its reader is not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "formats.h"
#include "peers.h"
#include "test_util.h"

namespace {

using lopper::Node;
using lopper_test::ReadFile;
using lopper_test::RunProgram;
using lopper_test::TempDir;
using lopper_test::WriteFile;

constexpr unsigned kSeed = 20261209;
const std::string kMethods = "smac";

// A name, and whether ape's read.tree and read.nexus give it back as it is
// (both read every file of these names).
struct PeerName {
  std::string name;
  bool ape_newick, ape_nexus;
};
const PeerName kNames[] = {
    {"alpha", true, true},       {"12", true, true},
    {"a-b", true, true},         {"\xc3\xa9t\xc3\xa9", true, true},
    {"heat shock", false, true}, {"a_b", false, true},
    {"a:b", false, true},        {"(x)", false, true},
    {"a=b", false, true},        {"", false, true},
    {"a{b}", false, true},       {"a\\b", false, true},
    {" lead", false, true},      {"a]b[", false, true},
    {"tree = (", false, true},   {"it's", false, false},
    {"a,b", false, false},       {"[x]y", false, false},
    {"a\"b", false, false},
};
// Names that make ape's read.nexus misread the whole tree; the other
// readers take them too.
const std::string kApeBreakers[] = {"x;y", "Translate me"};

struct Clustering {
  char method;
  int n;
  std::vector<Node> tree;
  std::vector<std::string> names;
};

// treecluster's tree over one element per name, each a random point in the
// unit square (seed kSeed), by squared Euclidean distance.
Clustering Cluster(char method, const std::vector<std::string>& names) {
  const int n = static_cast<int>(names.size());
  std::mt19937 rng(kSeed);
  std::uniform_real_distribution<double> coordinate(0.0, 1.0);
  std::vector<std::vector<double>> points(n, std::vector<double>(2));
  std::vector<std::vector<int>> present(n, std::vector<int>(2, 1));
  std::vector<double*> data;
  std::vector<int*> mask;
  for (int i = 0; i < n; i++) {
    for (double& x : points[i]) x = coordinate(rng);
    data.push_back(points[i].data());
    mask.push_back(present[i].data());
  }
  const double weight[2] = {1.0, 1.0};
  Node* records =
      lopper::treecluster(n, 2, data.data(), mask.data(), weight, 0, 'e', method, nullptr);
  if (!records) throw std::runtime_error(std::string("treecluster failed, method ") + method);
  Clustering c{method, n, {records, records + n - 1}, names};
  std::free(records);
  return c;
}

// The names of kNames, then those of kApeBreakers when asked for.
std::vector<std::string> AllNames(bool with_ape_breakers) {
  std::vector<std::string> names;
  for (const PeerName& p : kNames) names.push_back(p.name);
  if (with_ape_breakers)
    names.insert(names.end(), std::begin(kApeBreakers), std::end(kApeBreakers));
  return names;
}

// Whether the shell command probe (a reader loading its library) succeeds.
bool Installed(const std::string& probe) {
  return std::system((probe + " >/dev/null 2>&1").c_str()) == 0;
}

// x equals y up to the rounding of sums of edge lengths.
bool Near(double x, double y) { return std::fabs(x - y) <= 1e-9 * std::max(1.0, std::fabs(y)); }

// The fields of line between separators; a final separator ends an empty
// field (an empty name last on a line).
std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, separator);) fields.push_back(field);
  if (!line.empty() && line.back() == separator) fields.emplace_back();
  return fields;
}

// The height of the lowest record over each pair of elements.
std::vector<std::vector<double>> JoinHeights(const Clustering& c) {
  std::vector<std::vector<double>> height(c.n, std::vector<double>(c.n, 0.0));
  std::vector<std::vector<int>> members(c.tree.size());
  const auto under = [&](int ref) { return ref >= 0 ? std::vector<int>{ref} : members[-ref - 1]; };
  for (std::size_t i = 0; i < c.tree.size(); i++) {
    const std::vector<int> left = under(c.tree[i].left), right = under(c.tree[i].right);
    for (const int a : left)
      for (const int b : right) height[a][b] = height[b][a] = c.tree[i].distance;
    members[i] = left;
    members[i].insert(members[i].end(), right.begin(), right.end());
  }
  return height;
}

// What a tree reader gave back, one line per fact, tab-separated:
// "U TRUE|FALSE" whether it finds the tree ultrametric (ape only), "R depth
// label" per tip, its distance from the root, and "P distance label label"
// per pair of tips.
struct Reading {
  std::string ultrametric;
  std::vector<std::pair<std::string, double>> depths;
  std::vector<std::tuple<std::string, std::string, double>> pairs;
};

Reading ParseReading(const std::string& text) {
  Reading r;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const std::vector<std::string> f = Split(line, '\t');
    if (f[0] == "U") r.ultrametric = f.at(1);
    if (f[0] == "R") r.depths.emplace_back(f.at(2), std::strtod(f[1].c_str(), nullptr));
    if (f[0] == "P") r.pairs.emplace_back(f.at(2), f.at(3), std::strtod(f[1].c_str(), nullptr));
  }
  return r;
}

// Every tip lies at the root's height from the root, each name that the
// reader keeps is one tip's, and two such tips are twice the height of
// their join apart.
void ExpectSameTree(const Reading& r, const Clustering& c, const std::vector<bool>& kept) {
  const double root = c.tree.back().distance;
  ASSERT_EQ(r.depths.size(), static_cast<std::size_t>(c.n));
  std::map<std::string, int> element;
  for (int e = 0; e < c.n; e++)
    if (kept[e]) element[c.names[e]] = e;
  std::multiset<std::string> labels;
  for (const auto& [label, depth] : r.depths) {
    EXPECT_TRUE(Near(depth, root)) << label << " at " << depth << ", root " << root;
    labels.insert(label);
  }
  for (const auto& [name, e] : element) EXPECT_EQ(labels.count(name), 1u) << "'" << name << "'";
  const auto heights = JoinHeights(c);
  for (const auto& [a, b, distance] : r.pairs) {
    if (!element.count(a) || !element.count(b)) continue;
    EXPECT_TRUE(Near(distance, 2 * heights[element[a]][element[b]])) << a << " - " << b;
  }
  if (c.method != 'c' && !r.ultrametric.empty()) {
    EXPECT_EQ(r.ultrametric, "TRUE");
  }
}

// Whether a record lies below one of its children.
bool HasInversion(const Clustering& c) {
  for (const Node& r : c.tree)
    for (const int ref : {r.left, r.right})
      if (ref < 0 && c.tree[-ref - 1].distance > r.distance) return true;
  return false;
}

// Writes the clustering's Newick and Nexus files into dir as tree.nwk and
// tree.nex. The centroid tree must have an inversion, so that the readers
// meet a negative edge length.
void WriteTrees(const TempDir& dir, const Clustering& c) {
  EXPECT_TRUE(c.method != 'c' || HasInversion(c)) << "no inversion in the centroid tree";
  std::ofstream newick(dir / "tree.nwk"), nexus(dir / "tree.nex");
  ASSERT_TRUE(lopper::WriteNewick(newick, c.n, c.tree.data(), c.names));
  ASSERT_TRUE(lopper::WriteNexus(nexus, c.n, c.tree.data(), c.names, "my data.tsv"));
}

// Reads tree.nwk with read.tree into newick.txt, tree.nex with read.nexus
// into nexus.txt, as Reading lines.
const char kApeScript[] = R"(library(ape)
report <- function(tr, path) {
  lab <- tr$tip.label
  n <- length(lab)
  m <- cophenetic(tr)
  out <- c(paste0("U\t", is.ultrametric(tr)),
           sprintf("R\t%.17g\t%s", node.depth.edgelength(tr)[1:n], lab))
  for (i in seq_len(n - 1))
    out <- c(out, sprintf("P\t%.17g\t%s\t%s", m[i, (i + 1):n], lab[i], lab[(i + 1):n]))
  writeLines(out, path, useBytes = TRUE)
}
report(read.tree("tree.nwk"), "newick.txt")
report(read.nexus("tree.nex"), "nexus.txt")
)";

// Runs script with program in a directory holding the clustering's
// tree.nwk and tree.nex, and checks the Readings it leaves in newick.txt
// and nexus.txt; kept(nexus) says which names that reader keeps.
template <class Kept>
void ExpectReaderGetsTheTrees(const std::string& program, const char* script,
                              const std::vector<std::string>& names, Kept kept) {
  for (const char method : kMethods) {
    SCOPED_TRACE(std::string("method ") + method + ", data seed " + std::to_string(kSeed));
    const Clustering c = Cluster(method, names);
    TempDir dir;
    WriteTrees(dir, c);
    WriteFile(dir / "script", script);
    const auto run = RunProgram(dir, program, {"script"});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const bool nexus : {false, true}) {
      SCOPED_TRACE(nexus ? "Nexus" : "Newick");
      ExpectSameTree(ParseReading(ReadFile(dir / (nexus ? "nexus.txt" : "newick.txt"))), c,
                     kept(nexus));
    }
  }
}

TEST(FormatsPeers, ApeReadsNewickAndNexus) {
  if (!Installed("Rscript -e 'library(ape)'"))
    return lopper_test::SkipWithoutPeer("r-cran-ape not installed");
  ExpectReaderGetsTheTrees("Rscript", kApeScript, AllNames(false), [](bool nexus) {
    std::vector<bool> kept;
    for (const PeerName& p : kNames) kept.push_back(nexus ? p.ape_nexus : p.ape_newick);
    return kept;
  });
}

const char kDendropyScript[] = R"(import dendropy
for schema, path in (("newick", "tree.nwk"), ("nexus", "tree.nex")):
    tree = dendropy.Tree.get(path=path, schema=schema)
    leaves = list(tree.leaf_node_iter())
    pdm = tree.phylogenetic_distance_matrix()
    with open(schema + ".txt", "w", encoding="utf-8") as out:
        for leaf in leaves:
            out.write("R\t%r\t%s\n" % (leaf.distance_from_root(), leaf.taxon.label))
        for i, a in enumerate(leaves):
            for b in leaves[i + 1:]:
                out.write("P\t%r\t%s\t%s\n" % (pdm.patristic_distance(a.taxon, b.taxon),
                                                 a.taxon.label, b.taxon.label))
)";

TEST(FormatsPeers, DendropyReadsNewickAndNexus) {
  if (!Installed("/usr/bin/python3 -c 'import dendropy'"))
    return lopper_test::SkipWithoutPeer("python3-dendropy not installed");
  const std::vector<std::string> names = AllNames(true);
  ExpectReaderGetsTheTrees("/usr/bin/python3", kDendropyScript, names,
                           [&names](bool) { return std::vector<bool>(names.size(), true); });
}

// R's cutree on the linkage matrix as an hclust tree (merge: -(e+1) for
// element e, i+1 for row i), against the clusters table as read.delim reads
// it: the names, then TRUE per column k=1 ... n that matches cutree(tree, k).
const char kCutreeScript[] = R"(Z <- as.matrix(read.table("Z.txt"))
n <- nrow(Z) + 1
ref <- function(id) ifelse(id < n, -(id + 1), id - n + 1)
tree <- structure(list(merge = cbind(ref(Z[, 1]), ref(Z[, 2])), height = Z[, 3],
                       order = seq_len(n)), class = "hclust")
tab <- read.delim("clusters.tsv", quote = "", check.names = FALSE, comment.char = "",
                  na.strings = character(0), colClasses = c(name = "character"))
same <- sapply(seq_len(n), function(k) identical(tab[[paste0("k=", k)]], cutree(tree, k)))
writeLines(c(tab$name, paste(same)), "out.txt", useBytes = TRUE)
)";

TEST(FormatsPeers, RReadsTheClustersTableNumberedAsCutree) {
  if (!Installed("Rscript -e 'library(stats)'"))
    return lopper_test::SkipWithoutPeer("r-base-core not installed");
  for (const char method : std::string("sma")) {
    SCOPED_TRACE(std::string("method ") + method + ", data seed " + std::to_string(kSeed));
    const Clustering c = Cluster(method, AllNames(true));
    std::vector<lopper::ClusterColumn> columns;
    for (int k = 1; k <= c.n; k++) {
      columns.push_back({"k=" + std::to_string(k), std::vector<int>(c.n)});
      lopper::cuttree(c.n, c.tree.data(), k, columns.back().clusterid.data());
    }
    TempDir dir;
    {
      std::ofstream table(dir / "clusters.tsv"), linkage(dir / "Z.txt");
      ASSERT_TRUE(lopper::WriteClustersTsv(table, c.names, columns));
      ASSERT_TRUE(lopper::WriteLinkage(linkage, c.n, c.tree.data()));
    }
    WriteFile(dir / "read.R", kCutreeScript);
    const auto run = RunProgram(dir, "Rscript", {"read.R"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> expected = c.names;
    expected.insert(expected.end(), c.n, "TRUE");
    std::string out = ReadFile(dir / "out.txt");
    out.pop_back();  // the last line feed ends a line, not an empty name
    EXPECT_EQ(Split(out, '\n'), expected);
  }
}

const char kScipyScript[] = R"(import sys, numpy
from scipy.cluster import hierarchy
Z = numpy.loadtxt(sys.argv[1], ndmin=2)
print(int(hierarchy.is_valid_linkage(Z)))
print(" ".join(repr(float(h)) for h in Z[:, 2]))
for k in range(1, len(Z)):
    print(" ".join(str(c) for c in hierarchy.fcluster(Z, k, "maxclust")))
)";

// The integers of a line of blank-separated integers.
std::vector<int> Numbers(const std::string& line) {
  std::vector<int> numbers;
  std::istringstream in(line);
  for (int x; in >> x;) numbers.push_back(x);
  return numbers;
}

TEST(FormatsPeers, ScipyReadsTheLinkage) {
  if (!Installed("/usr/bin/python3 -c 'import scipy'"))
    return lopper_test::SkipWithoutPeer("python3-scipy not installed");
  for (const char method : kMethods) {
    SCOPED_TRACE(std::string("method ") + method + ", data seed " + std::to_string(kSeed));
    const Clustering c = Cluster(method, AllNames(false));
    TempDir dir;
    {
      std::ofstream linkage(dir / "Z.txt");
      ASSERT_TRUE(lopper::WriteLinkage(linkage, c.n, c.tree.data()));
    }
    WriteFile(dir / "read.py", kScipyScript);
    const auto run = RunProgram(dir, "/usr/bin/python3", {"read.py", "Z.txt"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream out(run.out);
    std::string line;
    std::getline(out, line);
    EXPECT_EQ(line, "1") << "is_valid_linkage";
    std::getline(out, line);
    const std::vector<std::string> heights = Split(line, ' ');
    ASSERT_EQ(heights.size(), c.tree.size());
    for (std::size_t i = 0; i < heights.size(); i++)
      EXPECT_EQ(std::strtod(heights[i].c_str(), nullptr), c.tree[i].distance) << "record " << i;
    // Centroid trees may have inversions, where SciPy's cut by height and
    // cuttree's by merge order part ways. SciPy's maxclust never gives more
    // than n-2 clusters, also for its own linkages.
    if (method == 'c') continue;
    for (int k = 1; k <= c.n - 2 && std::getline(out, line); k++) {
      std::vector<int> cut(c.n);
      lopper::cuttree(c.n, c.tree.data(), k, cut.data());
      EXPECT_EQ(lopper::NumberClustersByFirstElement(Numbers(line)),
                lopper::NumberClustersByFirstElement(cut))
          << "k=" << k;
    }
  }
}

// lopper's cut by nesting, worked on the records as the README states it
// (the writer gives left children first): the k-1 first merges in order of
// their opening parenthesis are undone; the elements hanging directly from
// them are numbered first (root first, left before right), then each
// remaining subtree in order of its opening parenthesis.
std::vector<int> NestingCut(const Clustering& c, int k) {
  const int nrecords = c.n - 1;
  std::vector<int> parent(nrecords, -1), preorder, pending{nrecords - 1};
  while (!pending.empty()) {
    const int r = pending.back();
    pending.pop_back();
    preorder.push_back(r);
    for (const int child : {c.tree[r].right, c.tree[r].left})
      if (child < 0) {
        parent[-child - 1] = r;
        pending.push_back(-child - 1);
      }
  }
  std::vector<int> id(c.n, -1), label(nrecords, -1);  // label -1: undone
  int next = 0;
  for (int q = 0; q < k - 1; q++)
    for (const int child : {c.tree[preorder[q]].left, c.tree[preorder[q]].right})
      if (child >= 0) id[child] = next++;
  for (int q = k - 1; q < nrecords; q++) {
    const int r = preorder[q];
    label[r] = parent[r] < 0 || label[parent[r]] < 0 ? next++ : label[parent[r]];
    for (const int child : {c.tree[r].left, c.tree[r].right})
      if (child >= 0) id[child] = label[r];
  }
  return id;
}

// The names and cluster numbers of a cluster file.
std::pair<std::vector<std::string>, std::vector<int>> ReadClusters(const std::string& path) {
  std::istringstream clusters(ReadFile(path));
  std::pair<std::vector<std::string>, std::vector<int>> read;
  for (std::string line; std::getline(clusters, line);) {
    read.first.push_back(line.substr(0, line.rfind('\t')));
    read.second.push_back(std::stoi(line.substr(line.rfind('\t') + 1)));
  }
  return read;
}

// -L cuts by nesting, numbered as documented; --by-height gives cuttree's
// partition of the records the file was written from.
TEST(FormatsPeers, LopperReadsTheNexusFile) {
  for (const char method : std::string("sma")) {
    SCOPED_TRACE(std::string("method ") + method + ", data seed " + std::to_string(kSeed));
    const Clustering c = Cluster(method, AllNames(true));
    TempDir dir;
    WriteTrees(dir, c);
    for (const int k : {1, 2, 3, c.n / 2, c.n}) {
      const std::string level = std::to_string(k);
      const auto nesting = RunProgram(dir, LOPPER_EXE, {"-N", "tree.nex", "-L", level});
      ASSERT_EQ(nesting.status, 0) << nesting.err;
      const auto [names, ids] = ReadClusters(dir / "Out.clu");
      EXPECT_EQ(names, c.names) << "k=" << k;
      EXPECT_EQ(ids, NestingCut(c, k)) << "k=" << k;

      const auto by_height = RunProgram(
          dir, LOPPER_EXE, {"-N", "tree.nex", "-L", level, "--by-height", "--lengths", "edge"});
      ASSERT_EQ(by_height.status, 0) << by_height.err;
      std::vector<int> cut(c.n);
      lopper::cuttree(c.n, c.tree.data(), k, cut.data());
      EXPECT_EQ(lopper::NumberClustersByFirstElement(ReadClusters(dir / "Out.clu").second),
                lopper::NumberClustersByFirstElement(cut))
          << "k=" << k;
    }
  }
}

}  // namespace
