// ReadNexusTree on tree files written by R ape, DendroPy and by hand
// (tests/data/peers, made by make_peer_trees.py). The expectations in
// expected.tsv come from the trees the script started from, so a file is
// judged by what it holds, not by what lopper once read from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "NexusTree.h"

namespace {

const std::string kPeers = LOPPER_TEST_DATA "/peers/";

// One row of expected.tsv; see make_peer_trees.py for the columns.
struct PeerCase {
  std::string file, choice, tree_name, names, shape, lengths, error, line, support, polytomy;
};

std::vector<PeerCase> ReadManifest() {
  std::ifstream in(kPeers + "expected.tsv");
  std::vector<PeerCase> cases;
  std::string row;
  bool header = true;
  while (std::getline(in, row)) {
    if (row.empty() || row[0] == '#') continue;
    if (header) {  // the column names
      header = false;
      continue;
    }
    std::vector<std::string> cols;
    std::istringstream fields(row);
    for (std::string col; std::getline(fields, col, '\t');) cols.push_back(col);
    if (cols.size() != 10) ADD_FAILURE() << "expected.tsv row of " << cols.size() << " columns";
    cols.resize(10);
    cases.push_back(
        {cols[0], cols[1], cols[2], cols[3], cols[4], cols[5], cols[6], cols[7], cols[8], cols[9]});
  }
  return cases;
}

lopper::TreeChoice Choice(const std::string& choice) {
  lopper::TreeChoice c;
  if (choice[0] == '#') c.index = std::stoi(choice.substr(1));
  if (choice[0] == '=') c.name = choice.substr(1);
  return c;
}

// The manifest's escaping, so that names with parentheses, commas and
// colons cannot be mistaken for the nesting around them.
std::string Escape(const std::string& name) {
  std::string out;
  for (const char ch : name) {
    if (ch == '\\' || ch == '(' || ch == ')' || ch == ',' || ch == ':') out += '\\';
    out += ch;
  }
  return out;
}

// printf's %.6g, as the script writes lengths.
std::string Length(double x) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", x);
  return buf;
}

// What the nested-set strings carry besides the leaves.
enum class Show { kShape, kLengths, kSupport };

// The nested-set string of the tree as the file has it (a node's joined
// records one node; with lengths or support), or "" with a failure when the
// records are not one tree over all elements: a wrong tree must fail the
// comparison, never crash it.
std::string Canon(const lopper::TreeRead& t, Show show, const std::string& what) {
  const int nleaves = static_cast<int>(t.names.size());
  const int nrecords = static_cast<int>(t.nodes.size());
  const auto n = static_cast<std::size_t>(nrecords);
  if (nleaves < 2 || nrecords != nleaves - 1 || t.lengths.size() != n || t.support.size() != n ||
      t.joined.size() != n || t.joined.back()) {
    ADD_FAILURE() << what << ": " << nleaves << " names, " << nrecords << " records, "
                  << t.lengths.size() << " length pairs, " << t.support.size() << " supports, "
                  << t.joined.size() << " joined flags";
    return "";
  }
  // kids[r]: the strings of the file's children under record r so far.
  std::vector<std::vector<std::string>> kids(nrecords);
  std::vector<std::string> record(nrecords);
  std::vector<int> used_leaf(nleaves), used_record(nrecords);
  for (int r = 0; r < nrecords; r++) {
    const int refs[2] = {t.nodes[r].left, t.nodes[r].right};
    for (int side = 0; side < 2; side++) {
      const int ref = refs[side];
      // Children before parents: a record may name only earlier records.
      if (ref >= nleaves || ref < -r) {
        ADD_FAILURE() << what << ": record " << r << " refers to " << ref;
        return "";
      }
      if (ref >= 0 ? used_leaf[ref]++ : used_record[-ref - 1]++) {
        ADD_FAILURE() << what << ": " << ref << " used twice";
        return "";
      }
      if (ref < 0 && t.joined[-ref - 1]) {
        std::vector<std::string>& below = kids[-ref - 1];
        kids[r].insert(kids[r].end(), below.begin(), below.end());
        continue;
      }
      std::string kid = ref >= 0 ? Escape(t.names[ref]) : record[-ref - 1];
      const double len = t.lengths[r][side];
      if (show == Show::kLengths && !std::isnan(len)) kid += ":" + Length(len);
      kids[r].push_back(kid);
    }
    if (t.joined[r]) continue;
    std::sort(kids[r].begin(), kids[r].end());
    record[r] = "(";
    for (std::size_t k = 0; k < kids[r].size(); k++) record[r] += (k ? "," : "") + kids[r][k];
    record[r] += ")";
    if (show == Show::kSupport && !std::isnan(t.support[r])) record[r] += Length(t.support[r]);
  }
  return record.back();
}

// Whether the reader's description is the polytomy column's "line L: a
// node of K children" with the path before it and the character inside.
bool DescribesPolytomy(const std::string& got, const std::string& path, const std::string& want) {
  if (want == "-") return got.empty();
  const std::size_t colon = want.find(':');
  const std::string place = path + ": " + want.substr(0, colon) + ", character ";
  const std::string what = want.substr(colon);
  return got.compare(0, place.size(), place) == 0 && got.size() > place.size() + what.size() &&
         got.compare(got.size() - what.size(), what.size(), what) == 0;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t e = 0; e < names.size(); e++) out += (e ? "," : "") + Escape(names[e]);
  return out;
}

std::string What(const PeerCase& c) { return c.file + " " + c.choice; }

TEST(PeerTrees, ReadsTreesOtherToolsWrite) {
  int checked = 0;
  for (const PeerCase& c : ReadManifest()) {
    if (c.error != "-") continue;
    const lopper::TreeReadResult got = lopper::ReadNexusTree(kPeers + c.file, Choice(c.choice));
    checked++;
    if (!got.tree) {
      ADD_FAILURE() << What(c) << ": " << got.error;
      continue;
    }
    const lopper::TreeRead& t = *got.tree;
    EXPECT_EQ(JoinNames(t.names), c.names) << What(c);
    EXPECT_EQ(t.tree_name, c.tree_name) << What(c);
    EXPECT_EQ(Canon(t, Show::kShape, What(c)), c.shape) << What(c);
    EXPECT_EQ(Canon(t, Show::kLengths, What(c)), c.lengths) << What(c);
    EXPECT_EQ(Canon(t, Show::kSupport, What(c)), c.support) << What(c);
    EXPECT_TRUE(DescribesPolytomy(t.polytomy, kPeers + c.file, c.polytomy))
        << What(c) << ": " << t.polytomy << " for " << c.polytomy;
    // distance: the second child's length, else the first's, else 0 (a
    // joined record's length is 0).
    for (std::size_t r = 0; r < t.nodes.size() && r < t.lengths.size(); r++) {
      const auto& len = t.lengths[r];
      const double want = !std::isnan(len[1]) ? len[1] : !std::isnan(len[0]) ? len[0] : 0.0;
      EXPECT_EQ(t.nodes[r].distance, want) << What(c) << " record " << r;
    }
  }
  EXPECT_GE(checked, 50) << "expected.tsv lost its rows";
}

TEST(PeerTrees, RejectsNodesOfOneChild) {
  int checked = 0;
  for (const PeerCase& c : ReadManifest()) {
    if (c.error == "-") continue;
    const lopper::TreeReadResult got = lopper::ReadNexusTree(kPeers + c.file, Choice(c.choice));
    checked++;
    EXPECT_FALSE(got.tree) << What(c);
    EXPECT_NE(got.error.find(c.error), std::string::npos) << What(c) << ": " << got.error;
    EXPECT_NE(got.error.find(c.file), std::string::npos) << What(c) << ": " << got.error;
    // The line of the tree statement, not a neighbour's.
    EXPECT_NE(got.error.find("line " + c.line + ","), std::string::npos)
        << What(c) << ": " << got.error;
    EXPECT_EQ(got.error.find('\n'), std::string::npos) << What(c) << ": " << got.error;
  }
  EXPECT_GE(checked, 2) << "expected.tsv lost its rows";
}

}  // namespace
