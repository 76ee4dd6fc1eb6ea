// lopper-cluster run as a user runs it: its clusters against the library's
// own results, its checks of bad input (nothing written), progress, and
// its files read back by SciPy when installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "NexusTree.h"
#include "cluster.h"
#include "peers.h"
#include "test_util.h"

namespace {

using lopper_test::ReadFile;
using lopper_test::TempDir;
using lopper_test::WriteFile;

lopper_test::RunResult RunCommand(const TempDir& dir, const std::vector<std::string>& args) {
  return lopper_test::RunProgram(dir, LOPPER_CLUSTER_EXE, args);
}

std::string Exact(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", x);
  return text;
}

// A table of n rows and m columns of normal values in 3 planted groups,
// about 10% of them missing, written exactly; values[i][j], mask[i][j].
struct Data {
  std::vector<std::vector<double>> values;
  std::vector<std::vector<int>> mask;
  std::string tsv;
};

Data MakeData(int n, int m, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> u;
  Data d{std::vector<std::vector<double>>(n, std::vector<double>(m)),
         std::vector<std::vector<int>>(n, std::vector<int>(m)), "gene"};
  for (int j = 0; j < m; j++) d.tsv += "\ts" + std::to_string(j + 1);
  d.tsv += "\n";
  for (int i = 0; i < n; i++) {
    d.tsv += "g" + std::to_string(i + 1);
    for (int j = 0; j < m; j++) {
      d.mask[i][j] = u(rng) >= 0.1;
      d.values[i][j] = d.mask[i][j] ? normal(rng) + 4.0 * (i % 3) * (j % 2) : 0.0;
      d.tsv += "\t" + (d.mask[i][j] ? Exact(d.values[i][j]) : std::string());
    }
    d.tsv += "\n";
  }
  return d;
}

// Clusters numbered from 1 by first element, as the command numbers them.
std::vector<int> ByFirstElement(const std::vector<int>& ids) {
  std::map<int, int> number;
  std::vector<int> out;
  for (const int id : ids) out.push_back(number.emplace(id, number.size() + 1).first->second);
  return out;
}

// The clusters table the command should print, from the library directly.
std::string Expected(Data d, char method, char dist, bool transpose, std::vector<double> weights,
                     const std::vector<int>& ks, const std::vector<double>& heights) {
  const int nrows = static_cast<int>(d.values.size());
  const int ncols = static_cast<int>(d.values[0].size());
  std::vector<double*> rows;
  std::vector<int*> masks;
  for (int i = 0; i < nrows; i++)
    rows.push_back(d.values[i].data()), masks.push_back(d.mask[i].data());
  const int n = transpose ? ncols : nrows;
  if (weights.empty()) weights.assign(transpose ? nrows : ncols, 1.0);
  lopper::Node* tree = lopper::treecluster(nrows, ncols, rows.data(), masks.data(), weights.data(),
                                           transpose, dist, method, nullptr);
  std::vector<std::vector<int>> columns;
  // The clusters file takes the table's label for its names ("gene"), not
  // for the column names of a transposed run.
  std::string text = transpose ? "name" : "gene";
  for (const int k : ks) {
    std::vector<int> ids(n);
    lopper::cuttree(n, tree, k, ids.data());
    columns.push_back(ByFirstElement(ids));
    text += "\tk=" + std::to_string(k);
  }
  for (const double h : heights) {
    std::vector<int> ids(n);
    lopper::cuttree_height(n, tree, h, ids.data());
    columns.push_back(ByFirstElement(ids));
    std::ostringstream label;
    label << h;
    text += "\th=" + label.str();
  }
  std::free(tree);
  text += "\n";
  for (int e = 0; e < n; e++) {
    text += (transpose ? "s" : "g") + std::to_string(e + 1);
    for (const auto& c : columns) text += "\t" + std::to_string(c[e]);
    text += "\n";
  }
  return text;
}

TEST(LopperCluster, ClustersAreTheLibrarysCutsNumberedByFirstElement) {
  const unsigned seed = 20261209;
  const Data data = MakeData(40, 6, seed);
  TempDir dir;
  WriteFile(dir / "t.tsv", data.tsv);
  struct Case {
    const char* method;
    const char* distance;
    bool transpose, weighted;
    char m, d;
  } const cases[] = {
      {"average", "pearson", false, false, 'a', 'c'},
      {"single", "euclidean", false, true, 's', 'E'},
      {"ward", "euclidean", false, false, 'w', 'E'},
      {"mcquitty", "manhattan", true, false, 'q', 'B'},
      {"complete", "b", false, false, 'm', 'b'},
      {"c", "meansquare", false, true, 'c', 'e'},
      {"a", "spearman", true, false, 'a', 's'},
      {"complete", "kendall", false, false, 'm', 'k'},
      {"single", "absuncentered", true, false, 's', 'x'},
      {"average", "u", false, true, 'a', 'u'},
  };
  // Column s(j+1) weighs (j+1)/2, given in reverse order.
  std::vector<double> weights;
  std::string weights_tsv = "column\tweight\n";
  for (int j = 0; j < 6; j++) weights.push_back((j + 1) / 2.0);
  for (int j = 5; j >= 0; j--)
    weights_tsv += "s" + std::to_string(j + 1) + "\t" + Exact(weights[j]) + "\n";
  WriteFile(dir / "w.tsv", weights_tsv);
  for (const auto& c : cases) {
    std::vector<std::string> args{"t.tsv", "-m", c.method,   "-d",  c.distance, "-k", "1,3",
                                  "-k",    "5",  "--height", "0.5", "--height", "2"};
    if (c.transpose) args.push_back("--transpose");
    if (c.weighted) args.insert(args.end(), {"--weights", "w.tsv"});
    const auto run = RunCommand(dir, args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, Expected(data, c.m, c.d, c.transpose,
                                c.weighted ? weights : std::vector<double>{}, {1, 3, 5}, {0.5, 2}))
        << "seed " << seed << " " << c.method << " " << c.distance;
  }
}

// --weights auto: the library's calculate_weights over the columns, with
// the cutoff and exponent given.
TEST(LopperCluster, AutoWeightsAreTheLibrarysCalculatedWeights) {
  Data data = MakeData(40, 6, 5);
  TempDir dir;
  WriteFile(dir / "t.tsv", data.tsv);
  std::vector<double*> rows;
  std::vector<int*> masks;
  for (int i = 0; i < 40; i++)
    rows.push_back(data.values[i].data()), masks.push_back(data.mask[i].data());
  const std::vector<double> ones(40, 1.0);
  double* computed =
      lopper::calculate_weights(40, 6, rows.data(), masks.data(), ones.data(), 1, 'e', 20.0, 2.0);
  const std::vector<double> weights(computed, computed + 6);
  std::free(computed);
  ASSERT_NE(weights, std::vector<double>(6, 1.0)) << "the cutoff leaves every weight at 1";
  const auto run = RunCommand(dir, {"t.tsv", "-d", "e", "--linkage", "z.txt", "--weights", "auto",
                                    "--weight-cutoff", "20", "--weight-exponent", "2"});
  ASSERT_EQ(run.status, 0) << run.err;
  // The merge heights, third column of the linkage file, are the library's.
  lopper::Node* tree =
      lopper::treecluster(40, 6, rows.data(), masks.data(), weights.data(), 0, 'e', 'a', nullptr);
  std::istringstream linkage(ReadFile(dir / "z.txt"));
  for (int i = 0; i < 39; i++) {
    double id1, id2, height, size;
    ASSERT_TRUE(linkage >> id1 >> id2 >> height >> size) << "line " << i + 1;
    EXPECT_EQ(height, tree[i].distance) << "line " << i + 1;
  }
  std::free(tree);
}

TEST(LopperCluster, DistanceMatrixStdinAndGzipGiveTheSameClusters) {
  const Data data = MakeData(12, 4, 7);
  TempDir dir;
  WriteFile(dir / "t.tsv", data.tsv);
  const auto reference =
      RunCommand(dir, {"t.tsv", "-d", "e", "-k", "2,4", "--clusters", "ref.tsv"});
  ASSERT_EQ(reference.status, 0) << reference.err;
  // The same distances as a square matrix, as R's as.matrix(dist(...)) writes one.
  std::vector<double*> rows;
  std::vector<int*> masks;
  Data copy = data;
  for (int i = 0; i < 12; i++)
    rows.push_back(copy.values[i].data()), masks.push_back(copy.mask[i].data());
  const std::vector<double> w(4, 1.0);
  double** lower = lopper::distancematrix(12, 4, rows.data(), masks.data(), w.data(), 'e', 0);
  std::string square;
  for (int i = 0; i < 12; i++) square += "\tg" + std::to_string(i + 1);
  for (int i = 0; i < 12; i++) {
    square += "\ng" + std::to_string(i + 1);
    for (int j = 0; j < 12; j++)
      square += "\t" + (i == j ? "0" : Exact(i > j ? lower[i][j] : lower[j][i]));
  }
  for (int i = 1; i < 12; i++) std::free(lower[i]);
  std::free(lower);
  WriteFile(dir / "d.tsv", square + "\n");
  const std::string command = "'" LOPPER_CLUSTER_EXE "' -k 2,4 ";
  for (const std::string& way : {command + "--input distances d.tsv", command + "-d e - < t.tsv",
                                 "gzip -c t.tsv > t.tsv.gz && " + command + "-d e t.tsv.gz"}) {
    const auto run = lopper_test::RunProgram(dir, "/bin/bash", {"-c", way});
    EXPECT_EQ(run.status, 0) << way << ": " << run.err;
    // The matrix has no label over its names, the data the label "gene".
    std::string expected = ReadFile(dir / "ref.tsv");
    if (way.find("--input") != std::string::npos) expected.replace(0, 4, "name");
    EXPECT_EQ(run.out, expected) << way;
  }
}

// Each case: the files present, the command line, the exit status and the
// first line of standard error. Every output file already exists and must
// stay as it was.
// R's files, decimal commas and left-out columns through the command line;
// the clusters file's first header is the table's label for its names.
TEST(LopperCluster, TableFormsAndTheirOptionsReachTheClustersFile) {
  struct Case {
    const char* file;
    std::string text;
    std::vector<std::string> args;
  } const cases[] = {
      {"r.tsv", "\"s1\"\t\"s2\"\n\"a\"\t1\t2\n\"b\"\t2\t3\n\"c\"\t8\t1\n", {}},
      {"e.csv", "state;s1;s2\na;1,0;2\nb;2;3,0\nc;8;1\n", {"--decimal", ","}},
      {"x.tsv",
       "state\tcode\ts1\ts2\na\tA\t1\t2\nb\tB\t2\t3\nc\tC\t8\t1\n",
       {"--exclude-columns", "code"}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    WriteFile(dir / c.file, c.text);
    std::vector<std::string> args{c.file, "-d", "e", "-k", "2"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto run = RunCommand(dir, args);
    EXPECT_EQ(run.status, 0) << c.file << ": " << run.err;
    const std::string label = c.text[0] == '"' ? "name" : "state";
    EXPECT_EQ(run.out, label + "\tk=2\na\t1\nb\t1\nc\t2\n") << c.file;
  }
}

TEST(LopperCluster, BadInputIsReportedAndNoOutputChanges) {
  const std::string good = "id\ts1\ts2\na\t1\t2\nb\t2\t3\nc\t8\t1\n";
  struct Case {
    std::string table;
    std::vector<std::string> args;
    int status;
    std::string message;
  } const cases[] = {
      {"id\ts1\na\t1\nb\tabc\n",
       {"-k", "2"},
       1,
       "lopper-cluster: t.tsv: line 3, column 2 (s1): 'abc' is not a number"},
      {"id\ts1\na\t1\na\t2\n",
       {"-k", "2"},
       1,
       "lopper-cluster: t.tsv: line 3: name 'a' occurs twice (also on line 2)"},
      {"id\ts1\na\t1\n",
       {"-k", "1"},
       1,
       "lopper-cluster: t.tsv: 1 element; clustering needs at least 2"},
      {good, {"-k", "4"}, 1, "lopper-cluster: -k 4 is outside 1..3 (t.tsv has 3 elements)"},
      {good, {"-k", "2", "--log2", "--center", "mean"}, 0, ""},
      {"id\ts1\na\t1\nb\t0\n",
       {"-k", "2", "--log2"},
       1,
       "lopper-cluster: t.tsv: line 3, column 2 (s1): cannot take log2 of 0 (values must be "
       "above 0)"},
      {good,
       {"-k", "2", "--newick", "t.tsv"},
       1,
       "lopper-cluster: t.tsv: the --newick file would replace the input t.tsv"},
      {good,
       {"-k", "2", "--newick", "out.nwk", "--linkage", "out.nwk"},
       1,
       "lopper-cluster: out.nwk: named for both --newick and --linkage"},
      {good,
       {"-k", "2", "--newick", "no/dir/t.nwk", "--clusters", "out.tsv"},
       1,
       "lopper-cluster: no/dir/t.nwk: cannot write: No such file or directory"},
      {good,
       {"-k", "2", "-m", "centroid", "--input", "distances"},
       2,
       "lopper-cluster: centroid linkage recomputes distances from the data: it cannot run on "
       "--input distances"},
      {good,
       {"-k", "2", "--input", "distances", "--transpose"},
       2,
       "lopper-cluster: --transpose applies to data, not to --input distances"},
      {good,
       {"-k", "2,x"},
       2,
       "lopper-cluster: -k 'x': expected whole numbers of at least 1, separated by commas"},
      {good,
       {"-k", "2", "-d", "hamming"},
       2,
       "lopper-cluster: --distance 'hamming': expected one of euclidean, sqeuclidean, manhattan, "
       "cityblock, maximum, chebyshev, canberra, meansquare, meanabsolute, pearson, correlation, "
       "abspearson, uncentered, cosine, absuncentered, spearman, kendall or the letters E Q B M "
       "C e b c a u x s k"},
      {good,
       {"-k", "2", "-m", "ward.D2", "-d", "e"},
       2,
       "lopper-cluster: -m ward needs -d euclidean (Ward's criterion is defined on Euclidean "
       "distances); with --input distances its update runs on your matrix as R's hclust does"},
      {good,
       {"-k", "2", "-m", "median", "--svg", "p.svg", "--cluster-columns", "ward"},
       2,
       "lopper-cluster: -m median needs -d euclidean (the median's criterion is defined on "
       "Euclidean distances); with --input distances its update runs on your matrix as R's "
       "hclust does"},
      {good,
       {"-k", "2", "-m", "weighted", "--no-matrix"},
       2,
       "lopper-cluster: -m weighted needs the distance matrix; --no-matrix takes single, "
       "centroid, ward and median linkage"},
      {good,
       {"-k", "2", "-m", "s", "--no-matrix", "--leaf-order", "optimal"},
       2,
       "lopper-cluster: --leaf-order optimal needs the distance matrix: it cannot run with "
       "--no-matrix"},
      {good,
       {"-k", "2", "-m", "kmedoids", "--no-matrix"},
       2,
       "lopper-cluster: --no-matrix applies to tree methods, not to -m kmedoids"},
      {good,
       {"-k", "2", "-m", "single", "--input", "distances", "--no-matrix"},
       2,
       "lopper-cluster: --no-matrix applies to data, not to --input distances"},
      {"id\ts1\ts2\na\t1\t\nb\t2\t3\nc\t8\t1\n",
       {"-k", "2", "-m", "ward", "-d", "euclidean", "--no-matrix"},
       1,
       "lopper-cluster: -m ward --no-matrix needs complete data: t.tsv has missing values, and "
       "Ward's and the median's updates have no form in cluster means once a gap scales a "
       "distance; run it with the matrix"},
      {good, {"--depth", "3", "-k", "2"}, 2, "lopper-cluster: --depth applies to --inconsistent"},
      {good,
       {"--dynamic", "--deep-split", "2"},
       2,
       "lopper-cluster: --deep-split takes 0 or 1 with the tree method (R's FALSE or TRUE); the "
       "hybrid method takes 0 to 4"},
      {good,
       {"--dynamic", "--dynamic-method", "hybrid", "--deep-split", "5"},
       2,
       "lopper-cluster: --deep-split takes 0 to 4 (R's levels)"},
      {good,
       {"--dynamic", "--no-pam"},
       2,
       "lopper-cluster: --no-pam applies to --dynamic-method hybrid"},
      {good, {"--clade", "max"}, 2, "lopper-cluster: --clade needs --threshold"},
      {good,
       {"--clade", "max", "--threshold", "0.5,x"},
       2,
       "lopper-cluster: --threshold 'x': expected finite numbers separated by commas"},
      {good,
       {"-m", "centroid", "-d", "euclidean", "--clade", "max", "--threshold", "1"},
       2,
       "lopper-cluster: --clade needs branch lengths, which centroid and median trees lack where "
       "a merge lies below the one inside it: choose another linkage"},
      {good,
       {"-m", "kmeans", "-k", "2", "--dynamic"},
       2,
       "lopper-cluster: --dynamic applies to tree methods, not to -m kmeans"},
      {good,
       {"--dynamic", "--dynamic-method", "hybrid", "-m", "single", "--no-matrix"},
       2,
       "lopper-cluster: --dynamic-method hybrid needs the distance matrix: it cannot run with "
       "--no-matrix (the tree method needs none)"},
      {good,
       {},
       2,
       "lopper-cluster: nothing to write: give -k, --height, --inconsistent, --dynamic or --clade "
       "for clusters, or --newick, --nexus, --linkage, --svg or --html"},
      {good,
       {"--bootstrap", "10", "-m", "kmeans", "-k", "2"},
       2,
       "lopper-cluster: --bootstrap applies to tree methods, not to -m kmeans"},
      {good,
       {"--bootstrap", "0", "--newick", "t.nwk"},
       2,
       "lopper-cluster: --bootstrap '0': expected a whole number of at least 1"},
      {good,
       {"-k", "2", "--support", "s.tsv"},
       2,
       "lopper-cluster: --support applies to --bootstrap"},
      {good,
       {"--bootstrap", "10", "--bootstrap-scales", "1,0", "--newick", "t.nwk"},
       2,
       "lopper-cluster: --bootstrap-scales must be above 0 (1: as many values as the table has)"},
      {good,
       {"--bootstrap", "10", "--alpha", "1", "--report", "r.tsv"},
       2,
       "lopper-cluster: --alpha '1': expected a number between 0 and 1"},
      {good,
       {"--bootstrap", "10", "-k", "2"},
       2,
       "lopper-cluster: --bootstrap has nothing to write its support to: give --support, "
       "--newick, --nexus, --svg, --html or --report"},
      {good,
       {"--height", "1", "--newick", "-", "--linkage", "z.tsv"},
       2,
       "lopper-cluster: --clusters and --newick would both go to standard output (-): name a file "
       "for one of them"},
      {good,
       {"--bootstrap", "10", "--height", "1", "--support", "-"},
       2,
       "lopper-cluster: --clusters and --support would both go to standard output (-): name a file "
       "for one of them"},
      {good,
       {"-k", "2", "--seed", "3"},
       2,
       "lopper-cluster: --seed applies to kmeans, kmedians, kmedoids, som, --bootstrap and "
       "--consensus, not to -m average"},
      {good,
       {"-k", "2", "--progress", "--quiet"},
       2,
       "lopper-cluster: --progress and --quiet contradict each other"},
      {"id,s1,s2\na,1,2\nb,2,3\n",
       {"-k", "2"},
       1,
       "lopper-cluster: t.tsv: line 1: the header names no columns; it splits into 3 cells at "
       "commas: give --sep ,"},
      {good,
       {"-k", "2", "--exclude-columns", "s2,s3"},
       1,
       "lopper-cluster: t.tsv: line 1: --exclude-columns names 's3', which is not a column"},
      {good,
       {"-k", "2", "--decimal", ",", "--sep", ","},
       2,
       "lopper-cluster: --decimal , needs another separator than a comma: give --sep ';' or "
       "--sep tab"},
      {good, {"-k", "2", "--decimal", "x"}, 2, "lopper-cluster: --decimal 'x': expected . or ,"},
      {good,
       {"-m", "kmeans", "-k", "4"},
       1,
       "lopper-cluster: -k 4 is outside 1..3 (t.tsv has 3 elements)"},
      {good,
       {"-m", "kmedoids", "-k", "0"},
       2,
       "lopper-cluster: -k '0': expected whole numbers of at least 1, separated by commas"},
      {good,
       {"-m", "som", "--grid", "0x4"},
       2,
       "lopper-cluster: --grid '0x4': expected the cells across and down as in 5x4, each at "
       "least 1"},
      {good,
       {"-m", "som", "--grid", "2x2", "-k", "2"},
       2,
       "lopper-cluster: -k applies to tree methods, kmeans, kmedians and kmedoids, not to -m som"},
      {good,
       {"-m", "kmeans"},
       2,
       "lopper-cluster: -m kmeans needs the number of clusters: give -k"},
      {good,
       {"-m", "kmeans", "-k", "2", "--npass", "0"},
       2,
       "lopper-cluster: --npass '0': expected a whole number of at least 1"},
      {good,
       {"-m", "kmeans", "-k", "2", "--threads", "0"},
       2,
       "lopper-cluster: --threads '0': expected a whole number of at least 1"},
      {good,
       {"-m", "kmeans", "-k", "2", "--init", "plus"},
       2,
       "lopper-cluster: --init 'plus': expected one of random, kmeans++"},
      {good,
       {"-m", "kmedoids", "-k", "2", "--init", "kmeans++"},
       2,
       "lopper-cluster: --init applies to kmeans and kmedians, not to -m kmedoids"},
      {good,
       {"-k", "2", "--npass", "3"},
       2,
       "lopper-cluster: --npass applies to kmeans, kmedians and kmedoids, not to -m average"},
      {good,
       {"-m", "kmeans", "-k", "2", "--input", "distances"},
       2,
       "lopper-cluster: -m kmeans computes centres from the data: it cannot run on --input "
       "distances"},
      {good,
       {"-k", "2", "--input", "distances", "--svg", "p.svg"},
       2,
       "lopper-cluster: --svg applies to data, not to --input distances"},
      {good,
       {"-k", "2", "--cluster-columns", "average"},
       2,
       "lopper-cluster: --cluster-columns shapes the picture: give --svg or --html"},
      {good, {"-k", "2", "--gaps"}, 2, "lopper-cluster: --gaps shapes the picture: give --svg"},
      {good,
       {"-k", "2", "--html", "p.html", "--gaps"},
       2,
       "lopper-cluster: --gaps shapes the picture: give --svg"},
      {good,
       {"-k", "2", "--input", "distances", "--html", "p.html"},
       2,
       "lopper-cluster: --html applies to data, not to --input distances"},
      {good,
       {"--html", "-", "--svg", "-"},
       2,
       "lopper-cluster: --svg and --html would both go to standard output (-): name a file for "
       "one of them"},
      {good,
       {"-k", "2", "--column-annotations", "a.tsv"},
       2,
       "lopper-cluster: --column-annotations shapes the picture: give --svg or --html"},
      {good,
       {"-k", "2", "--svg", "p.svg", "--fit", "399x300"},
       2,
       "lopper-cluster: --fit '399x300': expected the picture's largest width and height in "
       "pixels as in 1200x900, at least 400x300"},
      {good,
       {"-k", "2", "--svg", "p.svg", "--fit", "800"},
       2,
       "lopper-cluster: --fit '800': expected the picture's largest width and height in pixels "
       "as in 1200x900, at least 400x300"},
      {good,
       {"-m", "kmeans", "-k", "2", "--leaf-order", "optimal"},
       2,
       "lopper-cluster: --leaf-order applies to tree methods, not to -m kmeans"},
      {"id\ts1\ts2\na\t1\t2\nb\t\t\nc\t8\t1\nd\tNA\t\n",
       {"-k", "2"},
       1,
       "lopper-cluster: t.tsv: line 3: element 'b' has no value (nor have 'd' (line 5)), so no "
       "distance to any other; leave such elements out with --drop-empty"},
      {"id\ts1\ts2\na\t1\t2\nb\t\t\nc\t8\t1\n",
       {"-m", "kmeans", "-k", "2"},
       1,
       "lopper-cluster: t.tsv: line 3: element 'b' has no value, so no distance to any other; "
       "leave such elements out with --drop-empty"},
      {"id\ts1\ts2\ts3\na\t1\t2\t3\nb\t4\t\t\nc\t\t1\t\nd\t\t\t2\ne\t\t3\t4\n",
       {"-m", "single", "-k", "2", "--drop-empty", "--no-matrix"},
       1,
       "lopper-cluster: t.tsv: line 3 and line 4: elements 'b' and 'c' have no column where both "
       "have a value, so no distance between them; leaving out 'b' (line 3), 'd' (line 5) gives "
       "every pair a column in common"},
      {"id\ts1\ts2\na\t1\t\nb\t\t3\nc\t8\t1\n",
       {"-m", "kmedoids", "-k", "2"},
       1,
       "lopper-cluster: t.tsv: line 2 and line 3: elements 'a' and 'b' have no column where both "
       "have a value, so no distance between them; leaving out 'b' (line 3) gives every pair a "
       "column in common"},
      {"id\ts1\ts2\na\t1\t\nb\t\t3\nc\t8\t1\n",
       {"-m", "kmeans", "-k", "2", "--report", "r.tsv"},
       0,
       ""},
      {"id\ts1\ts2\na\t1\t\nb\t\t3\nc\t8\t\n",
       {"-m", "kmeans", "-k", "2", "--svg", "p.svg", "--cluster-columns", "average"},
       1,
       "lopper-cluster: t.tsv: line 1, column 2 and line 1, column 3: columns 's1' and 's2' have "
       "no row where both have a value, so no distance between them; leaving out 's2' (line 1, "
       "column 3) gives every pair a row in common"},
      {"id\ts1\ts2\na\t1\t2\nb\t\t\n",
       {"-k", "1", "--drop-empty"},
       1,
       "lopper-cluster: t.tsv: leaving out 1 element without values: 'b' (line 3)"},
      {"id\ts1\ts2\na\t1\t5\nb\t2\t5\nc\t3\t5\n",
       {"-k", "2", "--scale-columns"},
       1,
       "lopper-cluster: t.tsv: line 1, column 3 (s2): the column's values are all equal (standard "
       "deviation 0): it cannot be scaled; leave it out"},
      {"id\ts1\ts2\na\t1\t5\nb\t2\t\nc\t3\t\n",
       {"-m", "kmeans", "-k", "2", "--scale-columns"},
       1,
       "lopper-cluster: t.tsv: line 1, column 3 (s2): the column has 1 value, too few for a "
       "standard deviation: it cannot be scaled; leave it out"},
      {good,
       {"-k", "2", "--input", "distances", "--scale-columns"},
       2,
       "lopper-cluster: --scale-columns applies to data, not to --input distances"},
      {good,
       {"-k", "2", "--force"},
       2,
       "lopper-cluster: --force bounds the time of --leaf-order optimal: give --leaf-order "
       "optimal"},
      {good,
       {"--consensus", "10"},
       2,
       "lopper-cluster: --consensus clusters the resamples into each k: give -k"},
      {good,
       {"-m", "som", "--grid", "2x1", "--consensus", "10"},
       2,
       "lopper-cluster: --consensus applies to tree methods, kmeans, kmedians and kmedoids, not "
       "to -m som"},
      {good,
       {"-k", "2", "--consensus-svg", "c.svg"},
       2,
       "lopper-cluster: --consensus-svg applies to --consensus"},
      {good,
       {"-k", "2", "--consensus", "0"},
       2,
       "lopper-cluster: --consensus '0': expected a whole number of at least 1"},
      {good,
       {"-k", "2", "--consensus", "5", "--subsample-values", "0"},
       2,
       "lopper-cluster: --subsample-values '0': expected a share above 0 and at most 1"},
      {good,
       {"-k", "2", "--consensus", "5", "--subsample-items", "1.01"},
       2,
       "lopper-cluster: --subsample-items '1.01': expected a share above 0 and at most 1"},
      {good,
       {"-k", "2", "--consensus", "5", "--input", "distances"},
       2,
       "lopper-cluster: --consensus applies to data, not to --input distances"},
      {good,
       {"-k", "2", "--consensus", "5", "--item-consensus", "-", "--clusters", "-"},
       2,
       "lopper-cluster: --clusters and --item-consensus would both go to standard output (-): name "
       "a file for one of them"},
      {good,
       {"-k", "2", "--consensus", "5", "--consensus-matrix", "-"},
       2,
       "lopper-cluster: --consensus-matrix writes files: name one instead of -"},
      {good, {"-k", "2", "--consensus", "5", "--seed", "3", "--report", "r.tsv"}, 0, ""},
      {good,
       {"-k", "3", "--consensus", "5"},
       1,
       "lopper-cluster: -k 3 is more than the resamples hold: --subsample-items 0.8 of 3 elements "
       "draws 2"},
      {good,
       {"-k", "2", "--consensus", "5", "--subsample-items", "0.5"},
       1,
       "lopper-cluster: --subsample-items 0.5 of 3 elements draws 1: a resample needs at least 2"},
      {good,
       {"-k", "2", "--consensus", "5", "--subsample-values", "0.4"},
       1,
       "lopper-cluster: --subsample-values 0.4 of 2 values draws none: give at least 0.5"},
      {good,
       {"-k", "2", "--consensus", "5", "--consensus-matrix", "no/dir/"},
       1,
       "lopper-cluster: no/dir/k=2.tsv: cannot write: No such file or directory"},
      {good,
       {"-k", "2", "--consensus", "5", "--item-consensus", "t.tsv"},
       1,
       "lopper-cluster: t.tsv: the --item-consensus file would replace the input t.tsv"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    WriteFile(dir / "t.tsv", c.table);
    for (const char* out : {"out.tsv", "out.nwk"}) WriteFile(dir / out, "old\n");
    std::vector<std::string> args{"t.tsv"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    // A run that gets as far as writing would write out.tsv.
    if (std::find(args.begin(), args.end(), "-k") != args.end() &&
        std::find(args.begin(), args.end(), "--clusters") == args.end())
      args.insert(args.end(), {"--clusters", "out.tsv"});
    const auto run = RunCommand(dir, args);
    EXPECT_EQ(run.status, c.status) << c.message;
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.message) << c.message;
    if (c.status == 0) continue;
    EXPECT_EQ(run.out, "") << c.message;
    EXPECT_EQ(ReadFile(dir / "out.tsv"), "old\n") << c.message;
    EXPECT_EQ(ReadFile(dir / "out.nwk"), "old\n") << c.message;
    EXPECT_EQ(ReadFile(dir / "t.tsv"), c.table) << c.message;
  }
}

// A sanitized program cannot start under an address-space limit: its
// shadow memory alone is larger.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
constexpr const char* kNoAddressLimit = "no address-space limit under a sanitizer";

TEST(LopperCluster, AMatrixBeyondTheAddressLimitIsLeftOutOrRefusedBeforeTheWork) {
  if (kSanitized) GTEST_SKIP() << kNoAddressLimit;
  const Data data = MakeData(3000, 20, 26);  // a matrix of 34 MB
  TempDir dir;
  WriteFile(dir / "t.tsv", data.tsv);
  const std::string limited = std::string("ulimit -v 30000; exec ") + LOPPER_CLUSTER_EXE;
  struct Case {
    const char* method;
    int status;
    std::string message;
  } const cases[] = {
      {"centroid", 0, "building the tree from the data without it (as --no-matrix)"},
      {"average", 1, "single and centroid linkage, and ward and median on complete data"},
      {"ward", 1, "single and centroid linkage, and ward and median on complete data"},  // gaps
      {"kmedoids", 1,
       "; -m kmeans and -m kmedians need no matrix without --silhouette, or cluster fewer "
       "elements"},
  };
  for (const Case& c : cases) {
    const std::string args = std::string(" t.tsv -d euclidean -k 2,5 -m ") + c.method;
    const auto run = lopper_test::RunProgram(dir, "/bin/bash", {"-c", limited + args});
    EXPECT_EQ(run.status, c.status) << c.method << ": " << run.err;
    EXPECT_EQ(run.err.rfind("lopper-cluster: the distance matrix of 3000 elements ", 0), 0u)
        << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    if (c.status == 0) {
      EXPECT_EQ(run.out, RunCommand(dir, {"t.tsv", "-d", "euclidean", "-k", "2,5", "-m", c.method,
                                          "--no-matrix"})
                             .out);
    }
  }
}

// Elements without values left out: the others cluster as in the table
// without them, and the clusters file names them with NA.
TEST(LopperCluster, DroppedElementsAreNAAndTheOthersClusterAsWithoutThem) {
  const Data data = MakeData(20, 4, 41);
  TempDir dir;
  WriteFile(dir / "t.tsv", data.tsv);
  std::string gappy = data.tsv;
  gappy.insert(gappy.find("\ng4\t") + 1, "none1\t\t\tNA\t\n");
  gappy += "none2\t\t\t\t\n";
  WriteFile(dir / "g.tsv", gappy);
  for (const auto& method : {"average", "kmeans", "single"}) {
    const std::vector<std::string> args{"-m", method, "-k", "2,3", "-d", "euclidean"};
    auto plain = args, dropped = args;
    plain.insert(plain.begin(), "t.tsv");
    dropped.insert(dropped.begin(), {"g.tsv", "--drop-empty"});
    const auto expected = RunCommand(dir, plain);
    const auto run = RunCommand(dir, dropped);
    ASSERT_EQ(run.status, 0) << run.err;
    std::string with_gaps = expected.out;
    with_gaps.insert(with_gaps.find("\ng4\t") + 1, "none1\tNA\tNA\n");
    EXPECT_EQ(run.out, with_gaps + "none2\tNA\tNA\n") << method;
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')),
              "lopper-cluster: g.tsv: leaving out 2 elements without values: 'none1' (line 5), "
              "'none2' (line 23)")
        << method;
  }
}

// The picture's column tree counts too: a partition of a few rows whose
// 3000 columns' matrix would not fit is refused before the work.
TEST(LopperCluster, TheColumnTreeAndPictureCountInTheMemoryNeeded) {
  if (kSanitized) GTEST_SKIP() << kNoAddressLimit;
  TempDir dir;
  WriteFile(dir / "t.tsv", MakeData(4, 3000, 27).tsv);
  const std::string limited = std::string("ulimit -v 30000; exec ") + LOPPER_CLUSTER_EXE +
                              " t.tsv -m kmeans -k 2 --svg p.svg --cluster-columns average";
  const auto run = lopper_test::RunProgram(dir, "/bin/bash", {"-c", limited});
  EXPECT_EQ(run.status, 1);
  for (const char* part :
       {"lopper-cluster: the run needs 0.03 GiB (the table turned for the column tree 0.00 GiB, "
        "the distance matrices of 3000 columns 0.03 GiB, the picture 0.00 GiB), more than the ",
        "; leave out --cluster-columns or --svg, or cluster fewer elements\n"})
    EXPECT_NE(run.err.find(part), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "p.svg"));
}

// --leaf-order optimal shows its progress for both trees, and stops before
// the work when its estimate is above --leaf-order-limit, unless --force.
TEST(LopperCluster, LeafOrderShowsProgressAndIsRefusedAboveItsLimit) {
  TempDir dir;
  WriteFile(dir / "t.tsv", MakeData(30, 5, 3).tsv);
  const std::vector<std::string> args{"t.tsv",   "-k",       "2",     "--leaf-order",
                                      "optimal", "--svg",    "p.svg", "--cluster-columns",
                                      "average", "--newick", "t.nwk"};
  auto limited = args, forced = args;
  limited.insert(limited.end(), {"--leaf-order-limit", "1e-9"});
  forced.insert(forced.end(), {"--leaf-order-limit", "1e-9", "--force", "--progress"});
  const auto refused = RunCommand(dir, limited);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err.rfind("lopper-cluster: --leaf-order optimal would take about ", 0), 0u)
      << refused.err;
  for (const char* part : {" for the 30 elements, ", " for the 5 columns; ",
                           "more than the 1e-09 s of --leaf-order-limit: add --force"})
    EXPECT_NE(refused.err.find(part), std::string::npos) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "t.nwk"));
  const auto run = RunCommand(dir, forced);
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* step :
       {"ordering the leaves of 30 elements", "ordering the leaves of 5 columns"})
    EXPECT_NE(run.err.find(std::string("lopper-cluster: ") + step + "... 100%\n"),
              std::string::npos)
        << run.err;
  EXPECT_EQ(ReadFile(dir / "t.nwk"), (RunCommand(dir, args), ReadFile(dir / "t.nwk")));
}

TEST(LopperCluster, ProgressOnlyWhenAskedOrOnATerminal) {
  TempDir dir;
  WriteFile(dir / "t.tsv", MakeData(30, 4, 3).tsv);
  const auto shown = RunCommand(dir, {"t.tsv", "-k", "2", "--progress"});
  EXPECT_NE(shown.err.find("lopper-cluster: reading t.tsv... 100%\n"), std::string::npos)
      << shown.err;
  for (const char* step : {"distances between 30 elements", "merging 30 elements"})
    EXPECT_NE(shown.err.find(std::string("lopper-cluster: ") + step + "... 100%\n"),
              std::string::npos)
        << shown.err;
  for (const auto& args : {std::vector<std::string>{"t.tsv", "-k", "2", "--quiet"},
                           std::vector<std::string>{"t.tsv", "-k", "2"}}) {
    const auto silent = RunCommand(dir, args);
    EXPECT_EQ(silent.status, 0);
    EXPECT_EQ(silent.err, "") << args.back();
    EXPECT_EQ(silent.out, shown.out);
  }
}

TEST(LopperCluster, ScipyReadsTheLinkageWithTheSameClusters) {
  if (std::system("/usr/bin/python3 -c 'import scipy' 2>/dev/null") != 0)
    return lopper_test::SkipWithoutPeer("python3-scipy not installed");
  TempDir dir;
  WriteFile(dir / "t.tsv", MakeData(30, 5, 11).tsv);
  for (const char* method : {"single", "complete", "average"}) {
    const auto run = RunCommand(
        dir, {"t.tsv", "-m", method, "-k", "2,3,7", "--clusters", "c.tsv", "--linkage", "z.txt"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto scipy = lopper_test::RunProgram(
        dir, "/usr/bin/python3",
        {"-c",
         "import numpy as np\n"
         "from scipy.cluster.hierarchy import fcluster, is_valid_linkage\n"
         "z = np.loadtxt('z.txt')\n"
         "assert is_valid_linkage(z)\n"
         "rows = [l.rstrip('\\n').split('\\t') for l in open('c.tsv')][1:]\n"
         "for col, k in enumerate([2, 3, 7]):\n"
         "    ours = [r[col + 1] for r in rows]\n"
         "    theirs = fcluster(z, k, 'maxclust')\n"
         "    assert len(set(zip(ours, theirs))) == len(set(ours)) == len(set(theirs)), k\n"});
    EXPECT_EQ(scipy.status, 0) << method << ": " << scipy.err;
  }
}

// Rows of a tab-separated file, without its header line.
std::vector<std::vector<std::string>> TsvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line)) {
    rows.emplace_back();
    std::istringstream cells(line);
    std::string cell;
    while (std::getline(cells, cell, '\t')) rows.back().push_back(cell);
  }
  return rows;
}

// The library on the same data and seed: each k's clusters numbered by
// first element, its report line (k, error, found) and, for k-means and
// k-medians, its centres in that numbering.
struct KExpected {
  std::vector<int> clusters;
  std::vector<std::string> report;
  std::vector<std::vector<double>> centres;
};

KExpected LibraryK(Data d, char method, char dist, int k, int seed) {
  const int n = static_cast<int>(d.values.size()), m = static_cast<int>(d.values[0].size());
  std::vector<double*> rows;
  std::vector<int*> masks;
  for (int i = 0; i < n; i++) rows.push_back(d.values[i].data()), masks.push_back(d.mask[i].data());
  const std::vector<double> w(m, 1.0);
  std::vector<int> ids(n);
  double error = 0;
  int found = 0;
  lopper::setrandomseed(seed, seed);
  if (method == 'k') {
    double** dm = lopper::distancematrix(n, m, rows.data(), masks.data(), w.data(), dist, 0);
    lopper::kmedoids(k, n, dm, 10, ids.data(), &error, &found);
    for (int i = 1; i < n; i++) std::free(dm[i]);
    std::free(dm);
  } else {  // the command's passes start from k-means++ unless --init random
    lopper::kclusterplusplus(k, n, m, rows.data(), masks.data(), w.data(), 0, 10, method, dist,
                             ids.data(), &error, &found);
  }
  KExpected e{ByFirstElement(ids), {std::to_string(k), "", std::to_string(found)}, {}};
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", error);
  e.report[1] = text;
  if (method == 'k') return e;
  std::vector<std::vector<double>> cdata(k, std::vector<double>(m));
  std::vector<std::vector<int>> cmask(k, std::vector<int>(m));
  std::vector<double*> crows;
  std::vector<int*> cmasks;
  for (int c = 0; c < k; c++) crows.push_back(cdata[c].data()), cmasks.push_back(cmask[c].data());
  lopper::getclustercentroids(k, n, m, rows.data(), masks.data(), ids.data(), crows.data(),
                              cmasks.data(), 0, method);
  e.centres.resize(k);
  for (int i = 0; i < n; i++) e.centres[e.clusters[i] - 1] = cdata[ids[i]];
  return e;
}

TEST(LopperCluster, PartitionsAreTheLibrarysOnTheSameSeed) {
  const int seed = 424242;
  const Data data = MakeData(40, 5, 9);
  TempDir dir;
  WriteFile(dir / "t.tsv", data.tsv);
  struct Case {
    const char* method;
    char code;
    const char* distance;
    char dist;
  } const cases[] = {{"kmeans", 'a', "meansquare", 'e'},
                     {"kmedians", 'm', "cityblock", 'B'},
                     {"kmedoids", 'k', "pearson", 'c'},
                     {"kmeans", 'a', "spearman", 's'}};
  for (const auto& c : cases) {
    const auto run =
        RunCommand(dir, {"t.tsv", "-m", c.method, "-d", c.distance, "-k", "2,4", "--seed",
                         std::to_string(seed), "--report", "r.tsv", "--centroids", "x.tsv"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto clusters = TsvRows(run.out), report = TsvRows(ReadFile(dir / "r.tsv"));
    const auto centres = TsvRows(ReadFile(dir / "x.tsv"));
    ASSERT_EQ(report.size(), 2u);
    ASSERT_EQ(centres.size(), 6u);
    for (int col = 0; col < 2; col++) {
      const int k = 2 + 2 * col;
      const KExpected e = LibraryK(data, c.code, c.dist, k, seed);
      const std::string what = std::string(c.method) + " " + c.distance +
                               " k=" + std::to_string(k) + ", seed " + std::to_string(seed);
      for (int i = 0; i < 40; i++)
        EXPECT_EQ(clusters[i][col + 1], std::to_string(e.clusters[i])) << what;
      EXPECT_EQ(std::stod(report[col][1]), std::stod(e.report[1])) << what;
      EXPECT_EQ(report[col][2], e.report[2]) << what;
      for (int j = 0; j < k; j++) {
        const auto& line = centres[col * 2 + j];
        EXPECT_EQ(line[1], std::to_string(j + 1)) << what;
        if (c.code == 'k') {
          // The medoid is a member of its cluster.
          const int medoid = std::stoi(line[2].substr(1)) - 1;
          EXPECT_EQ(e.clusters[medoid], j + 1) << what;
          continue;
        }
        for (int m = 0; m < 5; m++) EXPECT_EQ(std::stod(line[2 + m]), e.centres[j][m]) << what;
      }
    }
  }
}

TEST(LopperCluster, SomCellsAreTheLibrarysAndWithinTheGrid) {
  Data data = MakeData(30, 4, 13);
  TempDir dir;
  WriteFile(dir / "t.tsv", data.tsv);
  const auto run = RunCommand(dir, {"t.tsv", "-m", "som", "--grid", "4x3", "--iterations", "500",
                                    "-d", "e", "--centroids", "cells.tsv"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<double*> rows;
  std::vector<int*> masks;
  for (int i = 0; i < 30; i++)
    rows.push_back(data.values[i].data()), masks.push_back(data.mask[i].data());
  const std::vector<double> w(4, 1.0);
  int cell[30][2];
  lopper::setrandomseed(1, 1);  // the default seed
  lopper::somcluster(30, 4, rows.data(), masks.data(), w.data(), 0, 4, 3, 0.02, 500, 'e', nullptr,
                     cell);
  const auto clusters = TsvRows(run.out);
  ASSERT_EQ(clusters.size(), 30u);
  for (int i = 0; i < 30; i++) {
    EXPECT_EQ(clusters[i][1], std::to_string(cell[i][0])) << "element " << i;
    EXPECT_EQ(clusters[i][2], std::to_string(cell[i][1])) << "element " << i;
    EXPECT_LT(std::stoi(clusters[i][1]), 4);
    EXPECT_LT(std::stoi(clusters[i][2]), 3);
  }
  EXPECT_EQ(TsvRows(ReadFile(dir / "cells.tsv")).size(), 12u);
}

// The same options give the same files; --seed clock reports a seed that
// repeats the run and differs between runs.
TEST(LopperCluster, SeedsRepeatRunsAndClockSeedsAreReported) {
  TempDir dir;
  WriteFile(dir / "t.tsv", MakeData(60, 4, 21).tsv);
  const std::vector<std::string> kmeans{"t.tsv",   "-m", "kmeans",   "-k",   "5",
                                        "--npass", "1",  "--report", "r.tsv"};
  const auto first = RunCommand(dir, kmeans);
  const auto second = RunCommand(dir, kmeans);
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, second.out);
  std::vector<std::string> seeds;
  for (int run = 0; run < 2; run++) {
    auto args = kmeans;
    args.insert(args.end(), {"--seed", "clock"});
    const auto clocked = RunCommand(dir, args);
    ASSERT_EQ(clocked.status, 0) << clocked.err;
    ASSERT_EQ(clocked.err.rfind("lopper-cluster: seed ", 0), 0u) << clocked.err;
    seeds.push_back(clocked.err.substr(21, clocked.err.find('\n') - 21));
    args.back() = seeds.back();
    EXPECT_EQ(RunCommand(dir, args).out, clocked.out) << "seed " << seeds.back();
  }
  EXPECT_NE(seeds[0], seeds[1]);
}

// One pass of --init kmeans++ is the library's k-means++ partition refined
// by kcluster; more passes repeat under the seed, and the thread count
// changes no output.
TEST(LopperCluster, KmeansPlusPlusIsTheLibrarysAndThreadsChangeNothing) {
  const int seed = 8080;
  const Data data = MakeData(400, 4, 5);
  TempDir dir;
  WriteFile(dir / "t.tsv", data.tsv);
  std::vector<double*> rows;
  std::vector<int*> masks;
  for (int i = 0; i < 400; i++)
    rows.push_back(const_cast<double*>(data.values[i].data())),
        masks.push_back(const_cast<int*>(data.mask[i].data()));
  const std::vector<double> w(4, 1.0);
  std::vector<int> ids(400);
  double error = 0;
  int found = 0;
  lopper::setrandomseed(seed, seed);
  ASSERT_EQ(
      lopper::kmeansplusplus(5, 400, 4, rows.data(), masks.data(), w.data(), 0, 'e', ids.data()),
      1);
  lopper::kcluster(5, 400, 4, rows.data(), masks.data(), w.data(), 0, 0, 'a', 'e', ids.data(),
                   &error, &found);
  const auto one =
      RunCommand(dir, {"t.tsv", "-m", "kmeans", "-d", "e", "-k", "5", "--init", "kmeans++",
                       "--npass", "1", "--seed", std::to_string(seed), "--report", "r.tsv"});
  ASSERT_EQ(one.status, 0) << one.err;
  const auto clusters = TsvRows(one.out), report = TsvRows(ReadFile(dir / "r.tsv"));
  const std::vector<int> expected = ByFirstElement(ids);
  for (int i = 0; i < 400; i++) EXPECT_EQ(clusters[i][1], std::to_string(expected[i])) << i;
  EXPECT_EQ(std::stod(report[0][1]), error);
  for (const char* init : {"random", "kmeans++"}) {
    std::vector<std::string> args{"t.tsv",   "-m", "kmeans",   "-k", "5",         "--init", init,
                                  "--npass", "60", "--report", "-",  "--threads", "1"};
    const auto alone = RunCommand(dir, args);
    ASSERT_EQ(alone.status, 0) << alone.err;
    for (const char* threads : {"1", "2", "3"}) {
      args.back() = threads;
      const auto run = RunCommand(dir, args);
      EXPECT_EQ(run.out, alone.out) << init << " threads " << threads;
      EXPECT_EQ(run.err, alone.err) << init << " threads " << threads;
    }
  }
}

// A random distance matrix as a square table (names d1 ...), exact.
std::string SquareTable(int n, unsigned seed, std::vector<double>* condensed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.1, 10.0);
  std::vector<std::vector<double>> d(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < n; i++)
    for (int j = i + 1; j < n; j++) d[i][j] = d[j][i] = u(rng), condensed->push_back(d[i][j]);
  std::string text;
  for (int i = 0; i < n; i++) text += "\td" + std::to_string(i + 1);
  for (int i = 0; i < n; i++) {
    text += "\nd" + std::to_string(i + 1);
    for (int j = 0; j < n; j++) text += "\t" + Exact(d[i][j]);
  }
  return text + "\n";
}

bool HavePython(const char* module) {
  return std::system(
             ("/usr/bin/python3 -c 'import " + std::string(module) + "' 2>/dev/null").c_str()) == 0;
}

TEST(LopperCluster, SilhouettesAgreeWithScikitLearn) {
  if (!HavePython("sklearn")) return lopper_test::SkipWithoutPeer("python3-sklearn not installed");
  const unsigned seed = 77;
  TempDir dir;
  std::vector<double> condensed;
  WriteFile(dir / "d.tsv", SquareTable(25, seed, &condensed));
  for (const auto& method : {std::vector<std::string>{"-m", "kmedoids", "-k", "2,3,6"},
                             std::vector<std::string>{"-m", "average", "-k", "2,3,6"},
                             std::vector<std::string>{"-m", "single", "-k", "2,3,6"}}) {
    std::vector<std::string> args{"d.tsv",    "--input", "distances",  "--silhouette",
                                  "--report", "r.tsv",   "--clusters", "c.tsv"};
    args.insert(args.end(), method.begin(), method.end());
    const auto run = RunCommand(dir, args);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto check = lopper_test::RunProgram(
        dir, "/usr/bin/python3",
        {"-c",
         "import numpy as np\n"
         "from sklearn.metrics import silhouette_score\n"
         "d = np.loadtxt('d.tsv', skiprows=1, usecols=range(1, 26))\n"
         "rows = [l.rstrip('\\n').split('\\t') for l in open('c.tsv')][1:]\n"
         "report = [l.rstrip('\\n').split('\\t') for l in open('r.tsv')][1:]\n"
         "for col, line in enumerate(report):\n"
         "    labels = [int(r[col + 1]) for r in rows]\n"
         "    theirs = silhouette_score(d, labels, metric='precomputed')\n"
         "    assert abs(float(line[-1]) - theirs) < 1e-12, (line, theirs)\n"});
    EXPECT_EQ(check.status, 0) << method[1] << ", seed " << seed << ": " << check.err;
  }
}

// The leaves' order in the linkage file, the Newick file and SciPy's
// optimal_leaf_ordering of the unordered tree: ours is never worse, the
// same (or reversed) where the totals agree, and the merges are unchanged.
TEST(LopperCluster, OptimalLeafOrderAgreesWithScipy) {
  if (!HavePython("scipy")) return lopper_test::SkipWithoutPeer("python3-scipy not installed");
  TempDir dir;
  for (const unsigned seed : {3u, 4u, 5u}) {
    std::vector<double> condensed;
    WriteFile(dir / "d.tsv", SquareTable(30, seed, &condensed));
    const std::vector<std::string> common{"d.tsv", "--input", "distances", "-m", "average"};
    auto plain = common, ordered = common;
    plain.insert(plain.end(), {"--linkage", "z0.txt"});
    ordered.insert(ordered.end(),
                   {"--linkage", "z1.txt", "--newick", "t.nwk", "--leaf-order", "optimal"});
    ASSERT_EQ(RunCommand(dir, plain).status, 0);
    const auto run = RunCommand(dir, ordered);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto check = lopper_test::RunProgram(
        dir, "/usr/bin/python3",
        {"-c",
         "import re, numpy as np\n"
         "from scipy.cluster.hierarchy import optimal_leaf_ordering, leaves_list, "
         "is_valid_linkage\n"
         "from scipy.spatial.distance import squareform\n"
         "d = np.loadtxt('d.tsv', skiprows=1, usecols=range(1, 31))\n"
         "z0, z1 = np.loadtxt('z0.txt'), np.loadtxt('z1.txt')\n"
         "assert is_valid_linkage(z1)\n"
         "assert (np.sort(z0[:, :2], axis=1) == np.sort(z1[:, :2], axis=1)).all()\n"
         "assert (z0[:, 2:] == z1[:, 2:]).all()\n"
         "zs = optimal_leaf_ordering(z0, squareform(d))\n"
         "total = lambda o: sum(d[a, b] for a, b in zip(o, o[1:]))\n"
         "ours, theirs = leaves_list(z1), leaves_list(zs)\n"
         "newick = [int(x) - 1 for x in re.findall(r'd(\\d+):', open('t.nwk').read())]\n"
         "assert newick == list(ours), (newick, ours)\n"
         "assert total(ours) <= total(theirs) + 1e-9, (total(ours), total(theirs))\n"
         "if abs(total(ours) - total(theirs)) < 1e-9:\n"
         "    assert list(ours) in (list(theirs), list(theirs[::-1])), (ours, theirs)\n"});
    EXPECT_EQ(check.status, 0) << "seed " << seed << ": " << check.err;
  }
}

// Variables scaled as R's scale(x) scales them give R's trees: USArrests
// (with and without gaps) against hclust(dist(scale(x))), and centred
// columns against hclust on 1 - cor(t(scale(x, scale = FALSE))).
TEST(LopperCluster, ScaledColumnsGiveRsTreesOnUSArrests) {
  if (std::system("Rscript -e 'invisible(0)' >/dev/null 2>&1") != 0)
    return lopper_test::SkipWithoutPeer(
        "Rscript (r-base-core) not installed: the comparison with R is skipped");
  TempDir dir;
  const auto r = lopper_test::RunProgram(
      dir, "Rscript",
      {"-e",
       "cuts <- function(h, file) write.table(cutree(h, 2:6), file, sep = '\\t', quote = FALSE,"
       "  col.names = FALSE)\n"
       "gappy <- USArrests; gappy[3, 2] <- NA; gappy[10, 4] <- NA; gappy[11, 1] <- NA\n"
       "for (g in c('plain', 'gappy')) {\n"
       "  x <- if (g == 'plain') USArrests else gappy\n"
       "  write.table(x, paste0(g, '.tsv'), sep = '\\t', quote = FALSE, col.names = NA, na = '')\n"
       "  for (m in c('average', 'complete'))\n"
       "    cuts(hclust(dist(scale(x)), m), paste0(g, '.', m, '.txt'))\n"
       "}\n"
       "cuts(hclust(as.dist(1 - cor(t(scale(USArrests, scale = FALSE)))), 'average'),"
       "  'centered.txt')\n"});
  ASSERT_EQ(r.status, 0) << r.err;
  struct Case {
    const char* table;
    const char* method;
    const char* distance;
    const char* option;
    const char* expected;
  } const cases[] = {
      {"plain.tsv", "average", "euclidean", "--scale-columns", "plain.average.txt"},
      {"plain.tsv", "complete", "euclidean", "--scale-columns", "plain.complete.txt"},
      {"gappy.tsv", "average", "euclidean", "--scale-columns", "gappy.average.txt"},
      {"gappy.tsv", "complete", "euclidean", "--scale-columns", "gappy.complete.txt"},
      {"plain.tsv", "average", "pearson", "--center-columns", "centered.txt"},
  };
  for (const Case& c : cases) {
    const auto run =
        RunCommand(dir, {c.table, c.option, "-d", c.distance, "-m", c.method, "-k", "2,3,4,5,6"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(run.out.find('\n') + 1), ReadFile(dir / c.expected))
        << c.table << " " << c.method << " " << c.option;
  }
}

// The element numbers of data-order="..." on the SVG's <g id="ID">.
std::vector<int> DrawnOrder(const std::string& svg, const std::string& id) {
  const std::string key = "<g id=\"" + id + "\" data-order=\"";
  const std::size_t at = svg.find(key);
  if (at == std::string::npos) return {};
  std::istringstream numbers(
      svg.substr(at + key.size(), svg.find('"', at + key.size()) - at - key.size()));
  std::vector<int> order;
  for (int e; numbers >> e;) order.push_back(e);
  return order;
}

// Rows follow the tree's leaf order (as in the Newick file) or are grouped
// by the first partition; columns follow their own tree when asked.
TEST(LopperCluster, PictureRowsFollowTheTreeOrThePartition) {
  TempDir dir;
  // (seed 31 put two rows without a common column, which is refused)
  WriteFile(dir / "t.tsv", MakeData(24, 6, 32).tsv);
  const auto tree =
      RunCommand(dir, {"t.tsv", "-k", "3", "--leaf-order", "optimal", "--svg", "p.svg", "--newick",
                       "t.nwk", "--cluster-columns", "average", "-q"});
  ASSERT_EQ(tree.status, 0) << tree.err;
  const std::string newick = ReadFile(dir / "t.nwk");
  std::vector<int> leaves;
  for (std::size_t at = newick.find('g'); at != std::string::npos; at = newick.find('g', at + 1))
    leaves.push_back(std::stoi(newick.substr(at + 1)) - 1);
  const std::string svg = ReadFile(dir / "p.svg");
  EXPECT_EQ(DrawnOrder(svg, "rows"), leaves);
  std::vector<int> columns = DrawnOrder(svg, "columns");
  ASSERT_EQ(columns.size(), 6u);
  EXPECT_NE(svg.find("<path id=\"column-tree\""), std::string::npos);

  const auto kmeans = RunCommand(dir, {"t.tsv", "-m", "kmeans", "-k", "3", "--svg", "k.svg"});
  ASSERT_EQ(kmeans.status, 0) << kmeans.err;
  const auto rows = TsvRows(kmeans.out);
  const std::vector<int> drawn = DrawnOrder(ReadFile(dir / "k.svg"), "rows");
  ASSERT_EQ(drawn.size(), 24u);
  for (std::size_t i = 1; i < drawn.size(); i++) {
    const int before = std::stoi(rows[drawn[i - 1]][1]), after = std::stoi(rows[drawn[i]][1]);
    EXPECT_TRUE(before < after || (before == after && drawn[i - 1] < drawn[i])) << "row " << i;
  }
}

// lopper --by-height cuts the two files of one clustering, lopper-cluster's
// (edge lengths) and NexusTreeOut's (join heights), into the library's
// cuttree partitions, every k; it says which reading it chose.
TEST(LopperCluster, LopperCutsByHeightAsTheLibrary) {
  Data data = MakeData(25, 4, 17);
  TempDir dir;
  WriteFile(dir / "t.tsv", data.tsv);
  std::vector<double*> rows;
  std::vector<int*> masks;
  for (int i = 0; i < 25; i++)
    rows.push_back(data.values[i].data()), masks.push_back(data.mask[i].data());
  const std::vector<double> w(4, 1.0);
  std::vector<std::string> names;
  for (int i = 0; i < 25; i++) names.push_back("g" + std::to_string(i + 1));
  for (const char method : {'s', 'm', 'a'}) {
    ASSERT_EQ(
        RunCommand(dir, {"t.tsv", "-m", std::string(1, method), "-d", "e", "--nexus", "edge.nex"})
            .status,
        0);
    lopper::Node* tree =
        lopper::treecluster(25, 4, rows.data(), masks.data(), w.data(), 0, 'e', method, nullptr);
    ASSERT_TRUE(lopper::NexusTreeOut(25, tree, dir / "join.nex", names));
    for (int k = 1; k <= 25; k++) {
      std::vector<int> ids(25);
      lopper::cuttree(25, tree, k, ids.data());
      for (const auto& [file, reading] :
           {std::pair<std::string, std::string>{"edge.nex", "edge lengths"},
            {"join.nex", "join heights"}}) {
        const auto run = lopper_test::RunProgram(
            dir, LOPPER_EXE, {"-N", file, "-L", std::to_string(k), "--by-height", "-O", "c.clu"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find("read as " + reading), std::string::npos) << run.err;
        std::istringstream clusters(ReadFile(dir / "c.clu"));
        std::vector<int> cut(25, -1);
        std::string name;
        for (int id; clusters >> name >> id;) cut[std::stoi(name.substr(1)) - 1] = id;
        EXPECT_EQ(ByFirstElement(cut), ByFirstElement(ids))
            << file << ", method " << method << ", k " << k;
      }
    }
    std::free(tree);
  }
}

}  // namespace

// Every rule beyond -k and --height, with a minimum size, in lopper-cluster
// (numbering promised: by first element, or by size for the dynamic cut,
// 0 for elements in none) and in lopper on the tree file it wrote
// (groupings, with the same elements in none).
TEST(LopperCluster, EveryCutRuleIsTheLibrarysInBothCommands) {
  const unsigned seed = 20261210;
  Data data = MakeData(60, 6, seed);
  TempDir dir;
  WriteFile(dir / "t.tsv", data.tsv);
  const int n = 60;
  std::vector<double*> rows;
  std::vector<int*> masks;
  for (int i = 0; i < n; i++)
    rows.push_back(data.values[i].data()), masks.push_back(data.mask[i].data());
  const std::vector<double> w(6, 1.0);
  lopper::Node* tree =
      lopper::treecluster(n, 6, rows.data(), masks.data(), w.data(), 0, 'c', 'a', nullptr);
  ASSERT_NE(tree, nullptr);
  const int min_size = 4;
  struct Rule {
    std::vector<std::string> cluster_args, lopper_args;
    std::string label;
    std::vector<int> ids;
    bool by_size;
  };
  std::vector<Rule> rules{
      {{"--inconsistent", "0.9"}, {"--inconsistent", "0.9"}, "inconsistent=0.9", {}, false},
      {{"--dynamic"}, {"--dynamic"}, "dynamic", {}, true},
      {{"--clade", "max", "--threshold", "0.8,1.2"},
       {"--clade", "max", "--threshold", "0.8"},
       "max-clade=0.8",
       {},
       false},
      {{}, {"--clade", "max", "--threshold", "1.2"}, "max-clade=1.2", {}, false}};
  for (Rule& rule : rules) rule.ids.assign(n, -9);
  lopper::cuttree_inconsistent(n, tree, 0.9, 2, rules[0].ids.data());
  // The dynamic cut reads the tree as R's hclust lists it: an element
  // before a merge, the smaller element or the earlier merge first.
  std::vector<lopper::Node> listed(tree, tree + n - 1);
  for (lopper::Node& node : listed) {
    const int a = node.left, b = node.right;
    if ((a < 0 && b >= 0) || (a >= 0 && b >= 0 && b < a) || (a < 0 && b < 0 && b > a))
      std::swap(node.left, node.right);
  }
  lopper::cuttree_dynamic(n, listed.data(), std::nan(""), 0, min_size, rules[1].ids.data());
  lopper::cuttree_clade(n, tree, nullptr, nullptr, nullptr, 'm', 0.8, 0, rules[2].ids.data());
  lopper::cuttree_clade(n, tree, nullptr, nullptr, nullptr, 'm', 1.2, 0, rules[3].ids.data());
  std::free(tree);
  std::vector<std::string> args{
      "t.tsv", "-m", "average", "--min-size", std::to_string(min_size), "--nexus", "t.nex"};
  std::string header = "gene";
  for (Rule& rule : rules) {
    args.insert(args.end(), rule.cluster_args.begin(), rule.cluster_args.end());
    if (!rule.by_size) lopper::dropsmallclusters(n, rule.ids.data(), min_size);
    header += "\t" + rule.label;
  }
  // The command's numbering, worked out here: by size as the library
  // gives it, else by first element among the elements in a cluster.
  std::vector<std::vector<int>> numbered;
  for (const Rule& rule : rules) {
    std::map<int, int> number;
    std::vector<int> column;
    for (const int id : rule.ids)
      column.push_back(id < 0         ? 0
                       : rule.by_size ? id + 1
                                      : number.emplace(id, number.size() + 1).first->second);
    numbered.push_back(column);
  }
  std::string expected = header + "\n";
  for (int e = 0; e < n; e++) {
    expected += "g" + std::to_string(e + 1);
    for (const auto& column : numbered) expected += "\t" + std::to_string(column[e]);
    expected += "\n";
  }
  const auto run = RunCommand(dir, args);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, expected) << "seed " << seed;
  for (const Rule& rule : rules) {
    std::vector<std::string> cut{"-N",    "t.nex",      "-O",
                                 "c.clu", "--min-size", std::to_string(min_size)};
    cut.insert(cut.end(), rule.lopper_args.begin(), rule.lopper_args.end());
    const auto lopper_run = lopper_test::RunProgram(dir, LOPPER_EXE, cut);
    ASSERT_EQ(lopper_run.status, 0) << lopper_run.err;
    std::istringstream clusters(ReadFile(dir / "c.clu"));
    std::vector<int> ids(n, -9);
    std::string name;
    for (int id; clusters >> name >> id;) ids[std::stoi(name.substr(1)) - 1] = id;
    EXPECT_EQ(ByFirstElement(ids), ByFirstElement(rule.ids)) << rule.label << ", seed " << seed;
    for (int e = 0; e < n; e++)
      EXPECT_EQ(ids[e] < 0, rule.ids[e] < 0) << rule.label << " g" << e + 1;
  }
}

TEST(LopperCluster, BootstrapSupportIsTheLibrarysOnTheSameSeedInEveryOutput) {
  const unsigned seed = 20261212;
  const int n = 24, m = 8, nboot = 30;
  Data data = MakeData(n, m, seed);
  TempDir dir;
  WriteFile(dir / "t.tsv", data.tsv);
  std::vector<double*> rows;
  std::vector<int*> masks;
  for (int i = 0; i < n; i++)
    rows.push_back(data.values[i].data()), masks.push_back(data.mask[i].data());
  const std::vector<double> w(m, 1.0), scales{0.6, 1.0, 1.4};
  std::unique_ptr<lopper::Node[], decltype(&std::free)> tree(
      lopper::treecluster(n, m, rows.data(), masks.data(), w.data(), 0, 'c', 'a', nullptr),
      &std::free);
  ASSERT_NE(tree, nullptr);
  std::vector<int> counts(3 * (n - 1));
  std::vector<double> effective(3);
  ASSERT_EQ(lopper::bootstrapcounts(n, m, rows.data(), masks.data(), w.data(), 0, 'c', 'a',
                                    tree.get(), 3, scales.data(), nboot, 7, 0, 3 * nboot,
                                    counts.data(), effective.data()),
            3 * nboot);
  std::vector<lopper::BootstrapSupport> fit(n - 1);
  std::vector<int> size(n - 1);
  for (int r = 0; r + 1 < n; r++) {
    const int c[] = {counts[r], counts[n - 1 + r], counts[2 * (n - 1) + r]};
    ASSERT_EQ(lopper::multiscalefit(3, effective.data(), c, nboot, &fit[r]), 0);
    for (const int child : {tree[r].left, tree[r].right})
      size[r] += child >= 0 ? 1 : size[-child - 1];
  }
  const auto run = [&dir](const std::string& threads, const std::string& run_seed) {
    return RunCommand(dir, {"t.tsv",
                            "-m",
                            "average",
                            "--bootstrap",
                            std::to_string(nboot),
                            "--bootstrap-scales",
                            "0.6,1,1.4",
                            "--seed",
                            run_seed,
                            "--threads",
                            threads,
                            "--alpha",
                            "0.9",
                            "--support",
                            "s" + threads + run_seed,
                            "--newick",
                            "t.nwk",
                            "--svg",
                            "t.svg",
                            "--report",
                            "r.tsv"});
  };
  for (const auto& [threads, run_seed] : {std::pair{"2", "8"}, {"1", "7"}, {"2", "7"}})
    ASSERT_EQ(run(threads, run_seed).status, 0) << threads << " threads";
  const std::string support = ReadFile(dir / "s27");
  EXPECT_EQ(support, ReadFile(dir / "s17")) << "threads changed the support";
  EXPECT_NE(support, ReadFile(dir / "s28")) << "the seed changed nothing";
  const auto table = TsvRows(support);
  ASSERT_EQ(table.size(), static_cast<std::size_t>(n - 1));
  std::multiset<std::string> labels;
  for (int r = 0; r + 1 < n; r++) {
    const std::vector<double> expected{r + 1.0,   double(size[r]), tree[r].distance, fit[r].bp,
                                       fit[r].au, fit[r].se_bp,    fit[r].se_au,     fit[r].v,
                                       fit[r].c,  fit[r].pchi};
    ASSERT_EQ(table[r].size(), expected.size());
    for (std::size_t f = 0; f < expected.size(); f++)
      EXPECT_EQ(std::stod(table[r][f]), expected[f]) << "merge " << r + 1 << " field " << f;
    labels.insert(std::to_string(static_cast<int>(std::nearbyint(100 * fit[r].au))));
  }
  // Each record's AU in percent labels the Newick tree and the picture's.
  std::multiset<std::string> newick_labels, svg_labels;
  const std::string newick = ReadFile(dir / "t.nwk");
  for (std::size_t p = newick.find(')'); p != std::string::npos; p = newick.find(')', p + 1))
    newick_labels.insert(newick.substr(p + 1, newick.find_first_of(":;", p) - p - 1));
  const std::string svg = ReadFile(dir / "t.svg");
  const std::size_t start = svg.find("<g id=\"row-tree-labels\"");
  ASSERT_NE(start, std::string::npos);
  const std::string group = svg.substr(start, svg.find("</g>", start) - start);
  for (std::size_t p = group.find("<text"); p != std::string::npos; p = group.find("<text", p)) {
    p = group.find('>', p) + 1;
    svg_labels.insert(group.substr(p, group.find('<', p) - p));
  }
  EXPECT_EQ(newick_labels, labels);
  EXPECT_EQ(svg_labels, labels);
  // The report lists the records of AU >= 0.9 below no other such record
  // but the root, as R's pvpick.
  std::vector<std::string> picked;
  for (int r = 0; r + 2 < n; r++) {
    bool outermost = fit[r].au >= 0.9;
    for (int above = r + 1; outermost && above + 2 < n; above++) {
      std::vector<int> under{-(above + 1)};
      bool contains = false;
      while (!under.empty() && !contains) {
        const int ref = under.back();
        under.pop_back();
        if (ref == -(r + 1)) contains = true;
        if (ref < 0) under.insert(under.end(), {tree[-ref - 1].left, tree[-ref - 1].right});
      }
      outermost = !(contains && fit[above].au >= 0.9);
    }
    if (outermost) picked.push_back(std::to_string(r + 1));
  }
  std::vector<std::string> reported;
  for (const auto& row : TsvRows(ReadFile(dir / "r.tsv")))
    if (!row.empty()) reported.push_back(row[0]);
  EXPECT_EQ(reported, picked) << "seed " << seed;
}

namespace {

// The library's consensus of one k on the same data and seed: area,
// delta, final clusters (from 0 by first element), cluster and item
// consensus and the matrix's lower triangle.
struct KConsensus {
  double area, delta;
  std::vector<int> clusters;
  std::vector<double> cluster, item, matrix;
};

std::vector<KConsensus> LibraryConsensus(Data d, char algorithm, char dist,
                                         const std::vector<int>& ks, int reps, int seed) {
  const int n = static_cast<int>(d.values.size()), m = static_cast<int>(d.values[0].size());
  const int nks = static_cast<int>(ks.size());
  const std::size_t pairs = static_cast<std::size_t>(n) * (n - 1) / 2;
  std::vector<double*> rows;
  std::vector<int*> masks;
  for (int i = 0; i < n; i++) rows.push_back(d.values[i].data()), masks.push_back(d.mask[i].data());
  const std::vector<double> w(m, 1.0);
  std::vector<int> together(nks * pairs), sampled(pairs);
  EXPECT_EQ(lopper::consensuscounts(n, m, rows.data(), masks.data(), w.data(), 0, dist, algorithm,
                                    10, nks, ks.data(), 0.7, 0.75, seed, 0, reps, together.data(),
                                    sampled.data()),
            reps);
  std::vector<KConsensus> out(nks);
  std::vector<double> area(nks), delta(nks), cdf(100);
  for (int t = 0; t < nks; t++) {
    KConsensus& k = out[t];
    k.matrix.resize(pairs);
    k.clusters.resize(n);
    k.cluster.resize(ks[t]);
    k.item.resize(static_cast<std::size_t>(n) * ks[t]);
    lopper::consensusmatrix(n, &together[t * pairs], sampled.data(), k.matrix.data());
    area[t] = k.area = lopper::consensuscdf(n, k.matrix.data(), cdf.data());
    lopper::consensusclusters(n, k.matrix.data(), ks[t], k.clusters.data());
    lopper::clusterconsensus(n, k.matrix.data(), ks[t], k.clusters.data(), k.cluster.data(),
                             k.item.data());
  }
  lopper::consensusdelta(nks, area.data(), delta.data());
  for (int t = 0; t < nks; t++) out[t].delta = delta[t];
  return out;
}

// A number as the command writes it: NA for NaN.
void ExpectNumber(const std::string& text, double expected, const std::string& what) {
  if (std::isnan(expected))
    EXPECT_EQ(text, "NA") << what;
  else
    EXPECT_EQ(std::stod(text), expected) << what;
}

// The consensus table of a report: the rows after its header line.
std::vector<std::vector<std::string>> ConsensusRows(const std::string& report) {
  auto rows = TsvRows("\n" + report);
  for (std::size_t r = 0; r < rows.size(); r++)
    if (rows[r].size() > 1 && rows[r][0] == "k" && rows[r][1] == "area")
      return {rows.begin() + static_cast<long>(r) + 1, rows.end()};
  return {};
}

}  // namespace

TEST(LopperCluster, ConsensusIsTheLibrarysOnTheSameSeedInEveryOutput) {
  const int n = 30, reps = 40, seed = 5;
  const Data data = MakeData(n, 8, 20250601);
  TempDir dir;
  WriteFile(dir / "t.tsv", data.tsv);
  const struct {
    const char* method;
    const char* distance;
    char algorithm, dist;
  } cases[] = {{"average", "pearson", 'a', 'c'},
               {"kmeans", "euclidean", 'k', 'E'},
               {"kmedoids", "pearson", 'p', 'c'}};
  const std::vector<int> ks{2, 3};
  for (const auto& c : cases) {
    const auto expected = LibraryConsensus(data, c.algorithm, c.dist, ks, reps, seed);
    for (const std::string threads : {"1", "2"}) {
      const auto run = RunCommand(dir, {"t.tsv",
                                        "-m",
                                        c.method,
                                        "-d",
                                        c.distance,
                                        "-k",
                                        "3,2",
                                        "--consensus",
                                        std::to_string(reps),
                                        "--subsample-items",
                                        "0.7",
                                        "--subsample-values",
                                        "0.75",
                                        "--seed",
                                        std::to_string(seed),
                                        "--threads",
                                        threads,
                                        "--report",
                                        "r" + threads,
                                        "--item-consensus",
                                        "i" + threads,
                                        "--consensus-matrix",
                                        "m" + threads + "-",
                                        "--clusters",
                                        "c" + threads});
      ASSERT_EQ(run.status, 0) << run.err;
    }
    const std::string what = std::string(c.method) + " " + c.distance;
    for (const std::string file : {"r", "i", "c", "m-k=2.tsv", "m-k=3.tsv"}) {
      const std::string one = file[0] == 'm' ? "m1" + file.substr(1) : file + "1";
      const std::string two = file[0] == 'm' ? "m2" + file.substr(1) : file + "2";
      EXPECT_EQ(ReadFile(dir / one), ReadFile(dir / two)) << what << ": threads changed " << file;
    }
    const std::string clusters = ReadFile(dir / "c1");
    EXPECT_EQ(clusters.substr(0, clusters.find('\n')),
              "gene\tk=3\tk=2\tconsensus-k=2\tconsensus-k=3");
    const auto columns = TsvRows(clusters);
    const auto report = ConsensusRows(ReadFile(dir / "r1"));
    const auto items = TsvRows(ReadFile(dir / "i1"));
    ASSERT_EQ(report.size(), 2u) << what;
    ASSERT_EQ(items.size(), static_cast<std::size_t>(n * (2 + 3))) << what;
    std::size_t item_row = 0;
    for (int e = 0; e < n; e++)
      for (std::size_t t = 0; t < ks.size(); t++)
        for (int cl = 0; cl < ks[t]; cl++, item_row++) {
          const auto& row = items[item_row];
          ASSERT_EQ(row.size(), 4u);
          EXPECT_EQ(row[0] + " " + row[1] + " " + row[2], "g" + std::to_string(e + 1) + " " +
                                                              std::to_string(ks[t]) + " " +
                                                              std::to_string(cl + 1));
          ExpectNumber(row[3], expected[t].item[e * ks[t] + cl], what + " item");
        }
    for (std::size_t t = 0; t < ks.size(); t++) {
      const KConsensus& k = expected[t];
      const std::string at = what + " k=" + std::to_string(ks[t]);
      const std::vector<int> numbers = ByFirstElement(k.clusters);
      for (int e = 0; e < n; e++) EXPECT_EQ(columns[e][3 + t], std::to_string(numbers[e])) << at;
      ASSERT_EQ(report[t].size(), 4u) << at;
      EXPECT_EQ(report[t][0], std::to_string(ks[t])) << at;
      ExpectNumber(report[t][1], k.area, at + " area");
      ExpectNumber(report[t][2], k.delta, at + " delta");
      std::istringstream list(report[t][3]);
      std::size_t cl = 0;
      for (std::string value; std::getline(list, value, ','); cl++)
        ExpectNumber(value, k.cluster.at(cl), at + " cluster " + std::to_string(cl + 1));
      EXPECT_EQ(cl, k.cluster.size()) << at;
      const auto matrix = TsvRows(ReadFile(dir / ("m1-k=" + std::to_string(ks[t]) + ".tsv")));
      ASSERT_EQ(matrix.size(), static_cast<std::size_t>(n)) << at;
      for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++) {
          const int hi = std::max(i, j), lo = std::min(i, j);
          ExpectNumber(matrix[i][j + 1], i == j ? 1.0 : k.matrix[hi * (hi - 1) / 2 + lo],
                       at + " matrix");
        }
    }
  }
}

// R's iris through the command as tests/data/make_consensus_cases.R ran
// ConsensusClusterPlus on it (hierarchical, average linkage, Euclidean,
// 500 resamples of 80% of the flowers, k 2 to 6): the k the delta area
// points to, and the areas within the spread of R's own two seeds.
TEST(LopperCluster, ConsensusOnIrisChoosesConsensusClusterPlussK) {
  TempDir dir;
  const auto run = RunCommand(
      dir, {LOPPER_SOURCE_DIR "/tests/data/consensus_iris.tsv", "-m", "average", "-d", "euclidean",
            "-k", "2,3,4,5,6", "--consensus", "500", "--report", "r.tsv", "--clusters", "c.tsv"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto ours = ConsensusRows(ReadFile(dir / "r.tsv"));
  ASSERT_EQ(ours.size(), 5u);
  std::map<int, std::vector<double>> r_area, r_delta;
  for (const auto& row : TsvRows(ReadFile(LOPPER_SOURCE_DIR "/tests/data/consensus_cases.tsv")))
    if (row[0] == "iris_hc_euclidean") {
      r_area[std::stoi(row[2])].push_back(std::stod(row[3]));
      r_delta[std::stoi(row[2])].push_back(std::stod(row[4]));
    }
  ASSERT_EQ(r_area.size(), 5u);
  const auto chosen = [](auto delta) {
    int best = 3;
    for (int k = 4; k <= 6; k++)
      if (delta(k) > delta(best)) best = k;
    return best;
  };
  EXPECT_EQ(chosen([&](int k) { return std::stod(ours[k - 2][2]); }),
            chosen([&](int k) { return r_delta[k][0]; }));
  for (int k = 2; k <= 6; k++) {
    const double spread = std::max(0.02, 3 * std::fabs(r_area[k][0] - r_area[k][1]));
    EXPECT_NEAR(std::stod(ours[k - 2][1]), r_area[k][0], spread) << "k " << k;
  }
}

TEST(LopperCluster, BootstrapKeepsOneScaleOfEachResampleSizeAsPvclust) {
  // Three values per element: pvclust's scales 0.5 ... 1.4 draw 1, 1, 2, 2,
  // 2, 3, 3, 3, 3 and 4 of them, so only 0.5, 0.7, 1 and 1.4 are distinct.
  const unsigned seed = 20261213;
  Data data = MakeData(12, 3, seed);
  TempDir dir;
  WriteFile(dir / "t.tsv", data.tsv);
  for (const std::string scales : {"", "0.5,0.7,1,1.4"}) {
    std::vector<std::string> args{"t.tsv",
                                  "-d",
                                  "euclidean",
                                  "--bootstrap",
                                  "50",
                                  "--support",
                                  "s" + std::to_string(scales.size())};
    if (!scales.empty()) args.insert(args.end(), {"--bootstrap-scales", scales});
    const auto run = RunCommand(dir, args);
    ASSERT_EQ(run.status, 0) << run.err;
  }
  const std::string support = ReadFile(dir / "s0");
  EXPECT_EQ(support, ReadFile(dir / "s13")) << "seed " << seed;
  EXPECT_EQ(TsvRows(support).size(), 11u);
}

namespace {

// The categories of the bar of annotation `name`, in drawing order.
std::vector<std::string> AnnotationBar(const std::string& svg, const std::string& name) {
  std::vector<std::string> categories;
  const std::size_t start = svg.find("data-annotation=\"" + name + "\">");
  const std::size_t end = svg.find("</g>", start);
  const std::string key = "data-category=\"";
  for (std::size_t at = svg.find(key, start); at < end; at = svg.find(key, at + 1))
    categories.push_back(
        svg.substr(at + key.size(), svg.find('"', at + key.size()) - at - key.size()));
  return categories;
}

}  // namespace

// Annotations found by the columns' names as the command sees them
// (the rows with --transpose), NA missing, lines of other columns
// ignored; the picture within --fit, a gap between the two clusters.
TEST(LopperCluster, PictureAnnotatesColumnsByNameAndFitsTheSize) {
  TempDir dir;
  WriteFile(dir / "t.tsv", "id\ts1\ts2\ts3\na\t1\t2\t3\nb\t2\t3\t4\nc\t8\t1\t0\nd\t9\t0\t1\n");
  WriteFile(dir / "a.tsv", "column\ttype\nzz\tX\ns3\tT\ns1\tB\ns2\tNA\n");
  WriteFile(dir / "r.csv", "row,group\nd,y\nc,y\nb,x\na,\n");
  struct Case {
    std::vector<std::string> args;
    std::map<std::string, std::string> category;  // by column name
    std::vector<std::string> columns;
  } const cases[] = {
      {{"--column-annotations", "a.tsv"},
       {{"s1", "B"}, {"s2", ""}, {"s3", "T"}},
       {"s1", "s2", "s3"}},
      {{"--column-annotations", "r.csv", "--transpose"},
       {{"a", ""}, {"b", "x"}, {"c", "y"}, {"d", "y"}},
       {"a", "b", "c", "d"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{
        "t.tsv",   "-k",     "2",     "--svg",   "p.svg", "--cluster-columns",
        "average", "--gaps", "--fit", "500x400", "-q"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto run = RunCommand(dir, args);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string svg = ReadFile(dir / "p.svg");
    std::vector<std::string> expected;
    for (const int column : DrawnOrder(svg, "columns"))
      expected.push_back(c.category.at(c.columns.at(column)));
    EXPECT_EQ(AnnotationBar(svg, c.args[1] == "a.tsv" ? "type" : "group"), expected);
    const std::size_t width = svg.find(" width=\"") + 8, height = svg.find(" height=\"") + 9;
    EXPECT_LE(std::stod(svg.substr(width)), 500);
    EXPECT_LE(std::stod(svg.substr(height)), 400);
    std::vector<double> tops;
    const std::string key = " y=\"";
    const std::size_t start = svg.find("<g id=\"row-titles\""), end = svg.find("</g>", start);
    for (std::size_t at = svg.find(key, start); at < end; at = svg.find(key, at + 1))
      tops.push_back(std::stod(svg.substr(at + key.size())));
    ASSERT_EQ(tops.size(), 7 - c.columns.size());
    std::vector<double> steps;
    for (std::size_t k = 1; k < tops.size(); k++) steps.push_back(tops[k] - tops[k - 1]);
    const double cell = *std::min_element(steps.begin(), steps.end());
    EXPECT_EQ(std::count(steps.begin(), steps.end(), cell + 4), 1);
    EXPECT_EQ(std::count(steps.begin(), steps.end(), cell), static_cast<long>(steps.size()) - 1);
  }
}

// A faulty annotations file fails the run before any file is written.
TEST(LopperCluster, FaultyColumnAnnotationsAreReportedAndNothingIsWritten) {
  const struct Case {
    std::string annotations;
    std::string message;
  } cases[] = {
      {"c\ttype\ns1\tB\n", "a.tsv: no line for the column 's2' (t.tsv: line 1, column 3)"},
      {"c\ttype\ns1\tB\ns2\n", "a.tsv: line 3: 1 cells, the header has 2"},
      {"c\ttype\ns1\tB\ns2\tT\ns1\tT\n", "a.tsv: line 4: column 's1' is named twice"},
      {"c\n", "a.tsv: line 1: expected a label, then the annotations' names"},
      {"", "a.tsv: no header naming the annotations"},
      {"c\ttype\n\"s1\tB\n", "a.tsv: line 2, column 1: quoted cell has no closing quote"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteFile(dir / "t.tsv", "id\ts1\ts2\na\t1\t2\nb\t2\t3\nc\t8\t1\n");
    WriteFile(dir / "a.tsv", c.annotations);
    const auto run = RunCommand(
        dir, {"t.tsv", "-k", "2", "--svg", "p.svg", "--column-annotations", "a.tsv", "-q"});
    EXPECT_EQ(run.status, 1) << c.message;
    EXPECT_EQ(run.err, "lopper-cluster: " + c.message + "\n");
    EXPECT_EQ(run.out, "") << c.message;
    EXPECT_FALSE(std::filesystem::exists(dir / "p.svg")) << c.message;
  }
}
