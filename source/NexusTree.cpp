#include "NexusTree.h"

#include <algorithm>
#include <boost/regex.hpp>
#include <fstream>
#include <iostream>
#include <new>
#include <optional>
#include <utility>

#include "NexusGrammar.h"
#include "SafeOutFile.h"
#include "misc.h"

namespace lopper {

namespace {

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

std::optional<NamingFault> NumberLeaves(const std::vector<TranslateEntry>& Entries, int nleaves,
                                        std::vector<std::string>& NodeNames) {
  NodeNames.clear();
  std::vector<std::size_t> byleaf;
  if (std::optional<NamingFault> fault = OrderEntries(Entries, nleaves, byleaf)) return fault;
  NodeNames.reserve(byleaf.size());
  for (const std::size_t i : byleaf) NodeNames.push_back(Entries[i].name);
  return std::nullopt;
}

std::string LeafNames(const std::vector<TranslateEntry>& Entries, int nleaves,
                      std::vector<std::string>& NodeNames) {
  const std::optional<NamingFault> fault = NumberLeaves(Entries, nleaves, NodeNames);
  if (!fault) return "";
  if (fault->entry == std::string::npos) return fault->what;
  return "line " + std::to_string(Entries[fault->entry].line) + ": " + fault->what;
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
// the elements 0 ... nrows-1. The library's rule (lopper::istree) less its
// order: the writer takes records in any order, the parser's root-first
// ones too, so it finds the root and walks down from it to rule out cycles
// instead; and this layer uses only the Node record of <lopper/cluster.h>,
// not the library's code (see CMakeLists.txt).
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
