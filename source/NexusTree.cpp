#include "NexusTree.h"

#include <boost/regex.hpp>
#include <cmath>
#include <fstream>
#include <utility>

#include "misc.h"

namespace lopper {

namespace {

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }
bool IsBlank(char ch) { return ch == ' ' || ch == '\t'; }

}  // namespace

bool NexusFileIn(std::vector<std::string>& NodeNames, std::string NexusFileName,
                 std::string& Nexus) {
  // The keywords are plain text; a substring search finds exactly what the
  // equivalent regular expressions would.
  static const std::string rextran = "TRANSLATE";
  static const std::string rextree = "TREE";
  // A name of one character must be accepted: "(.+[^,])" would need two and
  // end the table at the first such entry. The pattern spans the whole line,
  // so replacing the match by its group leaves just the group.
  static const boost::regex rexfill("^\\s+\\d+\\s+(.*[^,]),*$");
  static const boost::regex reNex(".*=\\s*(\\(.*);$");
  static const char* const foNex = "\\1";

  Nexus.clear();
  std::ifstream in(NexusFileName);
  if (!in.is_open()) return false;
  bool fill = false;
  std::string line;
  boost::smatch entry;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find(rextree) != std::string::npos) Nexus = boost::regex_replace(line, reNex, foNex);
    if (fill) {
      if (boost::regex_match(line, entry, rexfill))
        NodeNames.push_back(entry.str(1));
      else
        fill = false;
    }
    if (line.find(rextran) != std::string::npos) fill = true;
  }
  return !in.bad();
}

namespace {

// One left-to-right pass over the tree string; `child(record, cln, ref)`
// stores a child reference, `length(record, dist)` a branch length. The
// current node is mark1 (0: none open yet), its next child slot cln.
template <class ChildSlot, class LengthSlot>
void ParseTree(const std::string& Nexus, int& nrows, ChildSlot child,
               LengthSlot length) {
  nrows = 0;
  std::string num;
  char c = ' ';
  int node = 1;
  int mark1 = 0;
  int cln = 0;
  std::vector<int> path;
  const std::size_t end = Nexus.size();
  for (std::size_t pos = 0; pos < end; pos++) {
    while (pos < end && IsDigit(Nexus[pos])) num += Nexus[pos++];
    if (!num.empty()) {
      const int leaf = str2int(num);
      pos--;
      num.clear();
      c = Nexus[pos];
      if (mark1 > 0) child(mark1 - 1, cln, leaf - 1);
      nrows++;
    } else if (Nexus[pos] == ':') {
      pos++;
      while (pos < end && (IsDigit(Nexus[pos]) || Nexus[pos] == '.')) num += Nexus[pos++];
      const double dist = str2dbl(num);
      pos--;
      num.clear();
      c = Nexus[pos];
      if (mark1 > 0) length(mark1 - 1, dist);
    } else {
      const char ch = Nexus[pos];
      // Provisional reference: a node opening here has exactly this one.
      if ((c == '(' || c == ',') && mark1 > 0) child(mark1 - 1, cln, -node);
      if (ch == '(') {
        path.push_back(node);
        mark1 = node++;
        cln = 0;
      } else if (ch == ',') {
        cln++;
      } else if (ch == ')') {
        if (cln > 0) cln--;
        if (!path.empty()) path.pop_back();
        mark1 = path.empty() ? 0 : path.back();
      }
      c = ch;
    }
  }
}

}  // namespace

void NexusTreeIn(const std::string& Nexus, Node* treenodes, int& nrows) {
  ParseTree(
      Nexus, nrows,
      [treenodes](int record, int cln, int ref) {
        (cln == 0 ? treenodes[record].left : treenodes[record].right) = ref;
      },
      [treenodes](int record, double dist) { treenodes[record].distance = dist; });
}

void NexusTreeIn(const std::string& Nexus, int (*results)[2], double* distance,
                 int& nrows) {
  // A third child goes to the right column, as in the Node form, never past
  // the row.
  ParseTree(
      Nexus, nrows,
      [results](int record, int cln, int ref) { results[record][cln == 0 ? 0 : 1] = ref; },
      [distance](int record, double dist) { distance[record] = dist; });
}

namespace {

// Reads a branch length starting at pos (just after ":"); returns "" and
// advances pos past it, or the problem.
std::string ScanLength(const std::string& s, std::size_t& pos) {
  const std::size_t start = pos;
  int digits = 0;
  int points = 0;
  while (pos < s.size() && (IsDigit(s[pos]) || s[pos] == '.')) {
    (s[pos] == '.' ? points : digits)++;
    pos++;
  }
  if (pos == start) {
    if (pos < s.size() && (s[pos] == '-' || s[pos] == '+')) return "signed branch length";
    return "empty branch length";
  }
  if (digits == 0 || points > 1) return "malformed branch length \"" + s.substr(start, pos - start) + "\"";
  return "";
}

std::string At(std::size_t pos, const std::string& problem) {
  return "character " + std::to_string(pos + 1) + ": " + problem;
}

std::string Shown(const std::string& s, std::size_t pos) {
  if (pos >= s.size()) return "end of tree string";
  return "'" + std::string(1, s[pos]) + "'";
}

}  // namespace

std::string NexusTreeCheck(const std::string& Nexus, int& nrows) {
  const std::string& s = Nexus;
  const std::size_t end = s.size();
  std::vector<int> children;  // items completed so far in each open node
  std::vector<std::pair<std::size_t, long long>> leaves;  // position, number
  std::size_t pos = 0;
  auto skip_blanks = [&] {
    while (pos < end && IsBlank(s[pos])) pos++;
  };

  skip_blanks();
  if (pos == end) return "empty tree string";
  if (s[pos] != '(') return At(pos, "expected '(' to open the tree, found " + Shown(s, pos));
  bool expect_item = true;
  while (true) {
    skip_blanks();
    if (expect_item) {
      if (pos < end && s[pos] == '(') {
        children.push_back(0);
        pos++;
        continue;
      }
      if (pos < end && IsDigit(s[pos])) {
        const std::size_t start = pos;
        long long number = 0;
        while (pos < end && IsDigit(s[pos])) {
          if (number <= 1000000000000LL) number = number * 10 + (s[pos] - '0');
          pos++;
        }
        if (number == 0) return At(start, "leaf number 0 (leaves are numbered from 1)");
        leaves.emplace_back(start, number);
        children.back()++;
        expect_item = false;
        continue;
      }
      return At(pos, "expected a leaf number or '(', found " + Shown(s, pos));
    }
    // After an item: an optional length, then "," or ")".
    if (pos < end && s[pos] == ':') {
      pos++;
      const std::size_t start = pos;
      const std::string problem = ScanLength(s, pos);
      if (!problem.empty()) return At(start, problem);
      skip_blanks();
    }
    if (pos >= end) return At(pos, "unexpected end of tree string (unbalanced parentheses)");
    if (s[pos] == ',') {
      if (children.back() > 1) return At(pos, "a node with more than two children");
      pos++;
      expect_item = true;
      continue;
    }
    if (s[pos] == ')') {
      if (children.back() < 2) return At(pos, "a node with only one child");
      children.pop_back();
      pos++;
      if (children.empty()) break;
      children.back()++;
      continue;
    }
    return At(pos, "expected ',', ')' or ':', found " + Shown(s, pos));
  }
  skip_blanks();
  if (pos < end) return At(pos, "text after the end of the tree");

  const long long n = static_cast<long long>(leaves.size());
  std::vector<bool> seen(leaves.size() + 1, false);
  for (const auto& [at, number] : leaves) {
    if (number > n)
      return At(at, "leaf number " + s.substr(at, s.find_first_not_of("0123456789", at) - at) +
                        " is larger than the number of leaves (" + std::to_string(n) + ")");
    if (seen[number]) return At(at, "leaf number " + std::to_string(number) + " occurs twice");
    seen[number] = true;
  }
  nrows = static_cast<int>(n);
  return "";
}

void ReorderTree(Node* treenodes, int nrows) {
  const auto moved = [nrows](int v) { return v < 0 ? -nrows - v : v; };
  const double passes = std::ceil((nrows - 1) * 0.5);
  for (int i = 0; i < passes; i++) {
    Node& a = treenodes[i];
    Node& b = treenodes[nrows - 2 - i];
    const Node fa{moved(a.left), moved(a.right), a.distance};
    const Node fb{moved(b.left), moved(b.right), b.distance};
    a = fb;
    b = fa;
  }
}

}  // namespace lopper
