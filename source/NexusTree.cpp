#include "NexusTree.h"

#include <algorithm>
#include <boost/regex.hpp>
#include <fstream>
#include <iostream>
#include <new>
#include <optional>
#include <utility>

#include "SafeOutFile.h"
#include "misc.h"

namespace lopper {

namespace {

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }
bool IsBlank(char ch) { return ch == ' ' || ch == '\t'; }

// The name of a TRANSLATE entry, and whether a ";" after it ends the table.
struct EntryName {
  std::string name;
  bool ends_table;
};

// A name in single quotes: the text between them ('' standing for one quote)
// and what follows the closing quote, leading blanks dropped.
struct QuotedName {
  std::string name;
  std::string rest;
};

// quoted: a text that opens with a quote. Returns std::nullopt when no quote
// closes the name.
std::optional<QuotedName> SplitQuoted(const std::string& quoted) {
  std::string name;
  std::size_t i = 1;
  for (; i < quoted.size(); i++) {
    if (quoted[i] != '\'') {
      name += quoted[i];
    } else if (i + 1 < quoted.size() && quoted[i + 1] == '\'') {
      name += '\'';
      i++;
    } else {
      break;
    }
  }
  if (i == quoted.size()) return std::nullopt;
  std::string rest = quoted.substr(i + 1);
  rest.erase(0, rest.find_first_not_of(" \t"));
  return QuotedName{std::move(name), std::move(rest)};
}

// text: what the entry line gives after the number, never empty; trailing
// commas are already gone unless a ";" follows them. A quoted name stands
// alone or before a ";"; anything else after its closing quote, or a quote
// that never closes, makes the whole text the name, quotes and all. Blanks
// and commas before a final ";" are dropped with it.
EntryName ReadEntryName(const std::string& text) {
  if (text.size() > 1 && text[0] == '\'') {
    const std::optional<QuotedName> quoted = SplitQuoted(text);
    if (quoted && (quoted->rest.empty() || quoted->rest == ";"))
      return {quoted->name, !quoted->rest.empty()};
  }
  if (text.back() != ';') return {text, false};
  std::string name = text.substr(0, text.size() - 1);
  name.erase(name.find_last_not_of(" \t,") + 1);
  return {name, true};
}

}  // namespace

bool NexusFileIn(std::vector<TranslateEntry>& Entries, const std::string& NexusFileName,
                 std::string& Nexus) {
  // Keywords are case-sensitive and may stand anywhere in a line, so
  // "BEGIN TREES;" is a TREE line too: a later one replaces it.
  static const std::string translate_keyword = "TRANSLATE";
  static const std::string tree_keyword = "TREE";
  // A name of one character must be accepted: "(.+[^,])" would need two and
  // end the table at the first such entry.
  static const boost::regex entry_line("^\\s+(\\d+)\\s+(.*[^,]),*$");
  static const boost::regex tree_line(".*=\\s*(\\(.*);$");
  static const char* const tree_string_only = "\\1";

  Nexus.clear();
  std::ifstream in(NexusFileName);
  if (!in.is_open()) return false;
  bool in_table = false;
  std::string line;
  boost::smatch entry;
  for (long number = 1; std::getline(in, line); number++) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find(tree_keyword) != std::string::npos)
      Nexus = boost::regex_replace(line, tree_line, tree_string_only);
    if (in_table) {
      if (boost::regex_match(line, entry, entry_line)) {
        // More digits than any leaf count can have: -1, reported as too large.
        const std::string digits = entry.str(1);
        EntryName read = ReadEntryName(entry.str(2));
        Entries.push_back(
            {digits.size() > 12 ? -1 : std::stoll(digits), std::move(read.name), number});
        in_table = !read.ends_table;
      } else {
        in_table = false;
      }
    }
    if (line.find(translate_keyword) != std::string::npos) in_table = true;
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

bool NexusFileIn(std::vector<std::string>& NodeNames, const std::string& NexusFileName,
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

// One left-to-right pass over the tree string, which may be malformed:
// `child(record, slot, ref)` stores a child reference, `length(record,
// dist)` a branch length, only ever for a record whose "(" has been read.
// nrows receives the number of leaf numbers read.
template <class ChildSlot, class LengthSlot>
void ParseTree(const std::string& Nexus, int& nrows, ChildSlot child, LengthSlot length) {
  nrows = 0;
  std::string num;
  char previous = ' ';  // the last character before the current one
  int next_node = 1;    // the number the next "(" opens; record number-1
  int open_node = 0;    // the innermost open node, 0 when none is open
  int slot = 0;         // the child slot written next: 0 left, else right
  std::vector<int> path;
  const std::size_t end = Nexus.size();
  for (std::size_t pos = 0; pos < end; pos++) {
    while (pos < end && IsDigit(Nexus[pos])) num += Nexus[pos++];
    if (!num.empty()) {
      const int leaf = str2int(num);
      pos--;
      num.clear();
      previous = Nexus[pos];
      if (open_node > 0) child(open_node - 1, slot, leaf - 1);
      nrows++;
    } else if (Nexus[pos] == ':') {
      pos++;
      while (pos < end && (IsDigit(Nexus[pos]) || Nexus[pos] == '.')) num += Nexus[pos++];
      const double dist = str2dbl(num);
      pos--;
      num.clear();
      previous = Nexus[pos];
      if (open_node > 0) length(open_node - 1, dist);
    } else {
      const char ch = Nexus[pos];
      // Provisional reference to the node the next "(" opens; a leaf
      // number read into this slot later replaces it.
      if ((previous == '(' || previous == ',') && open_node > 0)
        child(open_node - 1, slot, -next_node);
      if (ch == '(') {
        path.push_back(next_node);
        open_node = next_node++;
        slot = 0;
      } else if (ch == ',') {
        slot++;
      } else if (ch == ')') {
        if (slot > 0) slot--;
        if (!path.empty()) path.pop_back();
        open_node = path.empty() ? 0 : path.back();
      }
      previous = ch;
    }
  }
}

}  // namespace

void NexusTreeIn(const std::string& Nexus, Node* treenodes, int& nrows) {
  ParseTree(
      Nexus, nrows,
      [treenodes](int record, int slot, int ref) {
        (slot == 0 ? treenodes[record].left : treenodes[record].right) = ref;
      },
      [treenodes](int record, double dist) { treenodes[record].distance = dist; });
}

void NexusTreeIn(const std::string& Nexus, int (*results)[2], double* distance, int& nrows) {
  // A third child goes to the right column, as in the Node form, never past
  // the row.
  ParseTree(
      Nexus, nrows,
      [results](int record, int slot, int ref) { results[record][slot == 0 ? 0 : 1] = ref; },
      [distance](int record, double dist) { distance[record] = dist; });
}

namespace {

// A problem of the tree string tied to position pos (from 0), as reported.
std::string At(std::size_t pos, const std::string& problem) {
  return "character " + std::to_string(pos + 1) + ": " + problem;
}

// The character of s at pos as a message shows it.
std::string Shown(const std::string& s, std::size_t pos) {
  if (pos >= s.size()) return "end of tree string";
  return "'" + std::string(1, s[pos]) + "'";
}

// A leaf number of the tree string and the position of its first digit;
// numbers past 10^12 stop growing, which keeps them beyond any leaf count.
struct LeafAt {
  std::size_t at;
  long long number;
};

// The structure of a tree string read left to right: nested nodes of two
// children, leaves, branch lengths, blanks between tokens. Every problem
// comes back as text that starts with its position ("character 7: ..."),
// "" when there is none. Item and AfterItem run with a node open.
class TreeScan {
 public:
  explicit TreeScan(const std::string& s) : s_(s) {}
  // Reads the whole string; the problem, or "" when it is one tree.
  std::string Structure();
  // The leaves read, in string order.
  const std::vector<LeafAt>& leaves() const { return leaves_; }

 private:
  void SkipBlanks() {
    while (pos_ < s_.size() && IsBlank(s_[pos_])) pos_++;
  }
  std::string Item();
  LeafAt Leaf();
  std::string AfterItem();
  std::string Length();

  const std::string& s_;
  std::size_t pos_ = 0;
  std::vector<int> open_;  // the children read so far of each open node
  std::vector<LeafAt> leaves_;
};

std::string TreeScan::Structure() {
  SkipBlanks();
  if (pos_ == s_.size()) return "empty tree string";
  if (s_[pos_] != '(') return At(pos_, "expected '(' to open the tree, found " + Shown(s_, pos_));
  do {
    std::string problem = Item();
    if (problem.empty()) problem = AfterItem();
    if (!problem.empty()) return problem;
  } while (!open_.empty());
  SkipBlanks();
  if (pos_ < s_.size()) return At(pos_, "text after the end of the tree");
  return "";
}

// Where an item must stand: opens the nodes before it, then reads its leaf.
std::string TreeScan::Item() {
  SkipBlanks();
  while (pos_ < s_.size() && s_[pos_] == '(') {
    open_.push_back(0);
    pos_++;
    SkipBlanks();
  }
  if (pos_ < s_.size() && IsDigit(s_[pos_])) {
    const LeafAt leaf = Leaf();
    if (leaf.number == 0) return At(leaf.at, "leaf number 0 (leaves are numbered from 1)");
    leaves_.push_back(leaf);
    open_.back()++;
    return "";
  }
  return At(pos_, "expected a leaf number or '(', found " + Shown(s_, pos_));
}

// Reads the digits of a leaf number.
LeafAt TreeScan::Leaf() {
  LeafAt leaf{pos_, 0};
  while (pos_ < s_.size() && IsDigit(s_[pos_])) {
    if (leaf.number <= 1000000000000LL) leaf.number = leaf.number * 10 + (s_[pos_] - '0');
    pos_++;
  }
  return leaf;
}

// After an item: its optional length, then "," before the next item, or
// ")" closing its node, which is an item of the node around it in turn.
// Returns at the "," or at the ")" that closes the outermost node.
std::string TreeScan::AfterItem() {
  while (true) {
    SkipBlanks();
    if (pos_ < s_.size() && s_[pos_] == ':') {
      pos_++;
      std::string problem = Length();
      if (!problem.empty()) return problem;
      SkipBlanks();
    }
    if (pos_ >= s_.size())
      return At(pos_, "unexpected end of tree string (unbalanced parentheses)");
    if (s_[pos_] == ',') {
      if (open_.back() > 1) return At(pos_, "a node with more than two children");
      pos_++;
      return "";
    }
    if (s_[pos_] != ')') return At(pos_, "expected ',', ')' or ':', found " + Shown(s_, pos_));
    if (open_.back() < 2) return At(pos_, "a node with only one child");
    open_.pop_back();
    pos_++;
    if (open_.empty()) return "";
    open_.back()++;
  }
}

// The branch length just after ":", an unsigned decimal number.
std::string TreeScan::Length() {
  const std::size_t start = pos_;
  int digits = 0;
  int points = 0;
  while (pos_ < s_.size() && (IsDigit(s_[pos_]) || s_[pos_] == '.')) {
    (s_[pos_] == '.' ? points : digits)++;
    pos_++;
  }
  if (pos_ == start) {
    if (pos_ < s_.size() && (s_[pos_] == '-' || s_[pos_] == '+'))
      return At(start, "signed branch length");
    return At(start, "empty branch length");
  }
  if (digits == 0 || points > 1)
    return At(start, "malformed branch length \"" + s_.substr(start, pos_ - start) + "\"");
  return "";
}

// leaves: all the leaves of a well-formed tree string s. Returns "" when
// their numbers are 1 ... n once each for n leaves, otherwise the first
// leaf that breaks that, by position.
std::string LeafNumberProblem(const std::string& s, const std::vector<LeafAt>& leaves) {
  const long long n = static_cast<long long>(leaves.size());
  std::vector<bool> seen(leaves.size() + 1, false);
  for (const auto& [at, number] : leaves) {
    if (number > n)
      return At(at, "leaf number " + s.substr(at, s.find_first_not_of("0123456789", at) - at) +
                        " is larger than the number of leaves (" + std::to_string(n) + ")");
    if (seen[number]) return At(at, "leaf number " + std::to_string(number) + " occurs twice");
    seen[number] = true;
  }
  return "";
}

}  // namespace

std::string NexusTreeCheck(const std::string& Nexus, int& nrows) {
  TreeScan scan(Nexus);
  std::string problem = scan.Structure();
  if (problem.empty()) problem = LeafNumberProblem(Nexus, scan.leaves());
  if (problem.empty()) nrows = static_cast<int>(scan.leaves().size());
  return problem;
}

void ReorderTree(Node* treenodes, int nrows) {
  const auto moved = [nrows](int v) { return v < 0 ? -nrows - v : v; };
  // Record i trades places with record nrows-2-i; the middle record of an
  // odd count trades with itself and is renumbered once.
  const int pairs = nrows / 2;
  for (int i = 0; i < pairs; i++) {
    Node& a = treenodes[i];
    Node& b = treenodes[nrows - 2 - i];
    const Node fa{moved(a.left), moved(a.right), a.distance};
    const Node fb{moved(b.left), moved(b.right), b.distance};
    a = fb;
    b = fa;
  }
}

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

// The root of the tree; std::nullopt when the records are not one tree over
// the elements 0 ... nrows-1.
std::optional<int> FindRoot(const TreeView& t) {
  if (t.nrows < 2) return std::nullopt;
  const int nrecords = t.nrows - 1;
  std::vector<char> element_used(t.nrows, 0), record_used(nrecords, 0);
  for (int r = 0; r < nrecords; r++) {
    for (int side = 0; side < 2; side++) {
      const int c = t.child(r, side);
      if (c >= t.nrows || c < -nrecords) return std::nullopt;
      char& used = c >= 0 ? element_used[c] : record_used[-c - 1];
      if (used) return std::nullopt;
      used = 1;
    }
  }
  // Each element and each record but one is a child once; the one left over
  // is the root only if every record hangs below it (no cycle elsewhere).
  const auto root = std::find(record_used.begin(), record_used.end(), 0);
  if (root == record_used.end()) return std::nullopt;
  int reached = 0;
  std::vector<int> todo{static_cast<int>(root - record_used.begin())};
  while (!todo.empty()) {
    const int r = todo.back();
    todo.pop_back();
    reached++;
    for (int side = 0; side < 2; side++)
      if (t.child(r, side) < 0) todo.push_back(-t.child(r, side) - 1);
  }
  if (reached != nrecords) return std::nullopt;
  return static_cast<int>(root - record_used.begin());
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

// The body of every NexusTreeOut: to the file *OutName, or to standard
// output when OutName is null.
bool WriteTree(const TreeView& t, const std::string* OutName,
               const std::vector<std::string>& ListEle) {
  const std::optional<int> root = FindRoot(t);
  if (!root || ListEle.size() < static_cast<std::size_t>(t.nrows)) return false;
  try {
    const std::string text = TreeText(t, *root);
    if (!OutName) {
      WriteNexus(std::cout, true, "USER", ListEle, t.nrows, text);
      return static_cast<bool>(std::cout);
    }
    SafeOutFile file(*OutName);
    if (!file.open().empty()) return false;
    WriteNexus(file.stream(), false, *OutName, ListEle, t.nrows, text);
    return file.commit().empty();
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
