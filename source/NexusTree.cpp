#include "NexusTree.h"

#include <algorithm>
#include <boost/regex.hpp>
#include <cmath>
#include <fstream>
#include <iostream>
#include <new>
#include <utility>

#include "SafeOutFile.h"
#include "misc.h"

namespace lopper {

namespace {

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }
bool IsBlank(char ch) { return ch == ' ' || ch == '\t'; }

}  // namespace

namespace {

// The name of an entry as the line gives it (trailing commas already gone):
// unquoted when it is one quoted word, a final ";" cut off. True when that
// ";" ends the table.
bool EntryName(const std::string& text, std::string& name) {
  std::string rest;
  name.clear();
  if (text.size() > 1 && text[0] == '\'') {
    std::size_t i = 1;
    for (; i < text.size(); i++) {
      if (text[i] != '\'') {
        name += text[i];
      } else if (i + 1 < text.size() && text[i + 1] == '\'') {
        name += '\'';
        i++;
      } else {
        break;
      }
    }
    rest = i < text.size() ? text.substr(i + 1) : "?";  // no closing quote: not a quoted word
    rest.erase(0, rest.find_first_not_of(" \t"));
    if (rest.empty() || rest == ";") return !rest.empty();
  }
  name = text;
  if (name.back() != ';') return false;
  name.pop_back();
  name.erase(name.find_last_not_of(" \t,") + 1);
  return true;
}

}  // namespace

bool NexusFileIn(std::vector<TranslateEntry>& Entries, const std::string& NexusFileName,
                 std::string& Nexus) {
  // The keywords are plain text; a substring search finds exactly what the
  // equivalent regular expressions would.
  static const std::string rextran = "TRANSLATE";
  static const std::string rextree = "TREE";
  // A name of one character must be accepted: "(.+[^,])" would need two and
  // end the table at the first such entry.
  static const boost::regex rexfill("^\\s+(\\d+)\\s+(.*[^,]),*$");
  static const boost::regex reNex(".*=\\s*(\\(.*);$");
  static const char* const foNex = "\\1";

  Nexus.clear();
  std::ifstream in(NexusFileName);
  if (!in.is_open()) return false;
  bool fill = false;
  std::string line;
  boost::smatch entry;
  for (long number = 1; std::getline(in, line); number++) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find(rextree) != std::string::npos) Nexus = boost::regex_replace(line, reNex, foNex);
    if (fill) {
      if (boost::regex_match(line, entry, rexfill)) {
        const std::string digits = entry.str(1);
        TranslateEntry e{digits.size() > 12 ? -1 : std::stoll(digits), "", number};
        fill = !EntryName(entry.str(2), e.name);
        Entries.push_back(std::move(e));
      } else {
        fill = false;
      }
    }
    if (line.find(rextran) != std::string::npos) fill = true;
  }
  return !in.bad();
}

std::string LeafNames(const std::vector<TranslateEntry>& Entries, int nleaves,
                      std::vector<std::string>& NodeNames) {
  NodeNames.clear();
  const auto count = static_cast<long long>(Entries.size());
  if (count != nleaves) {
    const std::string where =
        Entries.empty() ? "" : "line " + std::to_string(Entries.front().line) + ": ";
    return where + "the TRANSLATE table names " + std::to_string(count) +
           " elements but the tree has " + std::to_string(nleaves) + " leaves";
  }
  std::vector<const TranslateEntry*> byleaf(static_cast<std::size_t>(nleaves), nullptr);
  for (const TranslateEntry& e : Entries) {
    const std::string at = "line " + std::to_string(e.line) + ": TRANSLATE number ";
    if (e.number < 1 || e.number > nleaves)
      return at + (e.number < 0 ? "too large" : std::to_string(e.number)) + " is outside 1.." +
             std::to_string(nleaves) + " (the tree has " + std::to_string(nleaves) + " leaves)";
    const TranslateEntry*& slot = byleaf[e.number - 1];
    if (slot)
      return at + std::to_string(e.number) + " occurs twice (also on line " +
             std::to_string(slot->line) + ")";
    slot = &e;
  }
  // As many entries as leaves, each number once within range: all present.
  for (const TranslateEntry* e : byleaf) NodeNames.push_back(e->name);
  return "";
}

bool NexusFileIn(std::vector<std::string>& NodeNames, std::string NexusFileName,
                 std::string& Nexus) {
  std::vector<TranslateEntry> entries;
  const bool read = NexusFileIn(entries, NexusFileName, Nexus);
  std::vector<std::string> numbered;
  if (LeafNames(entries, static_cast<int>(entries.size()), numbered).empty()) {
    NodeNames.insert(NodeNames.end(), numbered.begin(), numbered.end());
  } else {
    for (const TranslateEntry& e : entries) NodeNames.push_back(e.name);
  }
  return read;
}

namespace {

// One left-to-right pass over the tree string; `child(record, cln, ref)`
// stores a child reference, `length(record, dist)` a branch length. The
// current node is mark1 (0: none open yet), its next child slot cln.
template <class ChildSlot, class LengthSlot>
void ParseTree(const std::string& Nexus, int& nrows, ChildSlot child, LengthSlot length) {
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

void NexusTreeIn(const std::string& Nexus, int (*results)[2], double* distance, int& nrows) {
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
  if (digits == 0 || points > 1)
    return "malformed branch length \"" + s.substr(start, pos - start) + "\"";
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

namespace lopper {

namespace {

// Either tree form, read through one interface.
struct TreeView {
  int nrows;
  const Node* nodes;       // Node form, or null
  const int (*result)[2];  // pair form
  const double* linkdist;

  int child(int record, int side) const {
    return nodes ? (side == 0 ? nodes[record].left : nodes[record].right) : result[record][side];
  }
  double distance(int record) const { return nodes ? nodes[record].distance : linkdist[record]; }
};

// The root of the tree, or -1 when the records are not one tree over the
// elements 0 ... nrows-1.
int FindRoot(const TreeView& t) {
  if (t.nrows < 2) return -1;
  const int nrecords = t.nrows - 1;
  std::vector<char> element_used(t.nrows, 0), record_used(nrecords, 0);
  for (int r = 0; r < nrecords; r++) {
    for (int side = 0; side < 2; side++) {
      const int c = t.child(r, side);
      if (c >= t.nrows || c < -nrecords) return -1;
      char& used = c >= 0 ? element_used[c] : record_used[-c - 1];
      if (used) return -1;
      used = 1;
    }
  }
  // Each element and each record but one is a child once; the one left over
  // is the root only if every record hangs below it (no cycle elsewhere).
  const auto root = std::find(record_used.begin(), record_used.end(), 0);
  if (root == record_used.end()) return -1;
  int reached = 0;
  std::vector<int> todo{static_cast<int>(root - record_used.begin())};
  while (!todo.empty()) {
    const int r = todo.back();
    todo.pop_back();
    reached++;
    for (int side = 0; side < 2; side++)
      if (t.child(r, side) < 0) todo.push_back(-t.child(r, side) - 1);
  }
  return reached == nrecords ? static_cast<int>(root - record_used.begin()) : -1;
}

// 100 x distance with three decimals. A distance that rounds to zero is
// written "0.000" even when it is a tiny negative rounding residue (1 - r of
// a perfect correlation): "-0.000" would be a signed length, which readers
// of the format reject.
std::string BranchLength(double distance) {
  std::string text = dbl2str(100.0 * distance, 3, 4);
  if (text == "-0.000") text.erase(0, 1);
  return text;
}

// The tree text, ";" included, in one walk from the root without recursion.
// The writer visits records in index order and writes each one's subtree
// when it first meets it, so a record joins the text either inside that
// walk, with no length after it, or as the finished text of an earlier walk,
// followed by its parent's length. The walk that reaches record k starts at
// the smallest index among k and its ancestors (`start`), so a child k got
// its own earlier walk exactly when k < start of its parent.
std::string TreeText(const TreeView& t, int root) {
  struct Frame {
    int record;
    int start;
    int written;         // children written so far
    std::string length;  // ":" and the branch length of this record
  };
  auto frame = [&t](int record, int start) {
    return Frame{record, start, 0, ":" + BranchLength(t.distance(record))};
  };
  std::string text;
  std::vector<Frame> path{frame(root, root)};
  while (!path.empty()) {
    Frame& f = path.back();
    if (f.written == 2) {
      text += ')';
      const int done = f.record;
      path.pop_back();
      if (!path.empty() && done < path.back().start) text += path.back().length;
      continue;
    }
    text += f.written == 0 ? '(' : ',';
    const int c = t.child(f.record, f.written++);
    if (c >= 0) {
      text += int2str(c + 1);
      text += f.length;
    } else {
      const int k = -c - 1;
      path.push_back(frame(k, std::min(f.start, k)));
    }
  }
  return text + ";";
}

// A name as a TRANSLATE entry: in Nexus quotes when the reader would
// otherwise take its first quote or its final ";" or "," as syntax; every
// other name exactly as it is.
std::string EntryText(const std::string& name) {
  if (name.empty() || (name.front() != '\'' && name.back() != ';' && name.back() != ','))
    return name;
  std::string quoted = "'";
  for (const char ch : name) quoted += ch == '\'' ? std::string("''") : std::string(1, ch);
  return quoted + "'";
}

// The eight parts of the file. With flush_lines every line is flushed, so
// that the lines reach a terminal or pipe as they are written.
void WriteNexus(std::ostream& out, bool flush_lines, const std::string& treename,
                const std::vector<std::string>& ListEle, int nrows, const std::string& text) {
  auto end_line = [&] {
    out << '\n';
    if (flush_lines) out.flush();
  };
  out << "#NEXUS";
  end_line();
  out << "BEGIN TREES;";
  end_line();
  out << "[!]";
  end_line();
  out << "\t TRANSLATE";
  end_line();
  for (int e = 0; e < nrows; e++) {
    out << "\t \t " << int2str(e + 1) << '\t' << EntryText(ListEle[e]);
    if (e + 1 < nrows) out << ',';
    end_line();
  }
  out << "\t \t ;";
  end_line();
  out << "\t TREE " << treename << " = " << text;
  end_line();
  out << "ENDBLOCK;";
  end_line();
}

bool WriteTree(const TreeView& t, const std::string* OutName,
               const std::vector<std::string>& ListEle) {
  const int root = FindRoot(t);
  if (root < 0 || ListEle.size() < static_cast<std::size_t>(t.nrows)) return false;
  try {
    const std::string text = TreeText(t, root);
    if (!OutName) {
      WriteNexus(std::cout, true, "USER", ListEle, t.nrows, text);
      return static_cast<bool>(std::cout);
    }
    SafeOutFile file(*OutName);
    std::string error;
    if (!file.open(error)) return false;
    WriteNexus(file.stream(), false, *OutName, ListEle, t.nrows, text);
    return file.commit(error);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

bool NexusTreeOut(int nrows, const int (*result)[2], const double* linkdist,
                  const std::string& OutName, const std::vector<std::string>& ListEle) {
  return WriteTree({nrows, nullptr, result, linkdist}, &OutName, ListEle);
}

bool NexusTreeOut(int nrows, const int (*result)[2], const double* linkdist,
                  const std::vector<std::string>& ListEle) {
  return WriteTree({nrows, nullptr, result, linkdist}, nullptr, ListEle);
}

bool NexusTreeOut(int nrows, const Node* nodes, const std::string& OutName,
                  const std::vector<std::string>& ListEle) {
  return WriteTree({nrows, nodes, nullptr, nullptr}, &OutName, ListEle);
}

bool NexusTreeOut(int nrows, const Node* nodes, const std::vector<std::string>& ListEle) {
  return WriteTree({nrows, nodes, nullptr, nullptr}, nullptr, ListEle);
}

}  // namespace lopper
