// ReadNexusTree: the statements of Nexus files (or the trees of Newick
// files), the choice of a tree, and the tree built through the grammar.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <unordered_map>
#include <utility>

#include "NexusGrammar.h"
#include "NexusTree.h"
#include "text/scan.h"

namespace lopper {

namespace {

// (A loop: find_first_not_of calls memchr for every character, and every
// leaf is asked.)
bool AllDigits(std::string_view word) {
  return !word.empty() &&
         std::all_of(word.begin(), word.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

// The value of digits, at most 12 of them.
long long DigitsValue(std::string_view digits) {
  long long value = 0;
  for (const char ch : digits) value = value * 10 + (ch - '0');
  return value;
}

// The word a token stands for, as a view: of the text, or for a quoted
// word of its unquoted copy, which `store` keeps. Only quoted words cost an
// allocation.
std::string_view Word(const Lexer& lex, const Token& t, std::deque<std::string>& store) {
  if (t.kind != Tok::kQuoted) return lex.Raw(t);
  return store.emplace_back(lex.Text(t));
}

// A TREE statement: its name and where its tree starts.
struct TreeStatement {
  std::string name;
  LexState start;
};

// A TRANSLATE entry as read: its name a view, its place for messages.
struct Entry {
  long long number;  // -1: more digits than any leaf count
  std::string_view name;
  long line;
  std::size_t column;
};

// What the statements give: every tree, the TRANSLATE table in force, and
// the unquoted copies of quoted words that views of the file point to.
struct FileTrees {
  bool nexus = false;
  std::vector<TreeStatement> trees;
  // A deque: a table of a million entries grows without being copied.
  std::deque<Entry> entries;
  std::deque<std::string> unquoted;
};

Fault At(const Token& t, std::string what) { return Fault{std::move(what), t}; }

// Reads tokens up to and including the ";" that ends a statement.
std::optional<Fault> SkipStatement(Lexer& lex) {
  const Token t = lex.SkipStatement();
  if (t.kind == Tok::kBad) return At(t, t.problem);
  if (t.kind == Tok::kEnd) return At(t, "a statement not ended by ';'");
  return std::nullopt;
}

// Whether t, coming after a token on line `line`, starts a line with a
// statement's keyword. lopper has always read files line by line, so such
// a line ends a statement or TRANSLATE table not ended by ";".
bool StartsStatementLine(const Lexer& lex, const Token& t, long line) {
  if (t.kind != Tok::kWord || t.line == line) return false;
  const std::string_view word = lex.Raw(t);
  return detail::EqualsIgnoringCase(word, "tree") ||
         detail::EqualsIgnoringCase(word, "translate") ||
         detail::EqualsIgnoringCase(word, "begin") || detail::EqualsIgnoringCase(word, "end") ||
         detail::EqualsIgnoringCase(word, "endblock");
}

// A statement lopper does not know, up to its ";" or a line that starts
// another statement (left unread).
std::optional<Fault> SkipUnknownStatement(Lexer& lex, const Token& first) {
  long line = first.line;
  for (LexState before = lex.state();; before = lex.state()) {
    const Token t = lex.Next();
    if (t.kind == Tok::kSemicolon) return std::nullopt;
    if (t.kind == Tok::kBad) return At(t, t.problem);
    if (t.kind == Tok::kEnd) return At(t, "a statement not ended by ';'");
    if (StartsStatementLine(lex, t, line)) {
      lex.Restore(before);
      return std::nullopt;
    }
    line = t.line;
  }
}

// After "BEGIN name;" of a block other than TREES: skips to its END.
std::optional<Fault> SkipBlock(Lexer& lex) {
  for (Token t = lex.Next();; t = lex.Next()) {
    if (t.kind == Tok::kEnd) return At(t, "a block not ended by END;");
    if (t.kind == Tok::kBad) return At(t, t.problem);
    const std::string_view word = t.kind == Tok::kWord ? lex.Raw(t) : "";
    if (t.kind == Tok::kSemicolon) continue;
    if (std::optional<Fault> fault = SkipStatement(lex)) return fault;
    if (detail::EqualsIgnoringCase(word, "end") || detail::EqualsIgnoringCase(word, "endblock"))
      return std::nullopt;
  }
}

// After "TRANSLATE": the entries up to ";", replacing any earlier table.
// Numbers of more digits than any leaf count stay out of range (-1).
std::optional<Fault> ReadTranslate(Lexer& lex, FileTrees& file) {
  file.entries.clear();
  long long previous = 0;
  long line = 0;
  for (LexState before = lex.state();; before = lex.state()) {
    const Token t = lex.Next();
    if (t.kind == Tok::kSemicolon) break;
    if (StartsStatementLine(lex, t, line)) {
      lex.Restore(before);
      break;
    }
    line = t.line;
    if (t.kind == Tok::kComma) continue;
    if (t.kind == Tok::kBad) return At(t, t.problem);
    if (t.kind != Tok::kWord || !AllDigits(lex.Raw(t)))
      return At(t, "expected a TRANSLATE number or ';', found " + lex.Shown(t));
    const std::string_view digits = lex.Raw(t);
    const long long number = digits.size() > 12 ? -1 : DigitsValue(digits);
    const Token name = lex.EntryName(number < 0 ? previous + 1 : number + 1);
    if (name.kind != Tok::kWord && name.kind != Tok::kQuoted)
      return At(name, "expected the name of TRANSLATE number " + std::string(digits));
    file.entries.push_back({number, Word(lex, name, file.unquoted), t.line, t.column});
    previous = number;
    line = name.line;
  }
  return std::nullopt;
}

// After "TREE": the name (after an optional "*"), "=", then the tree, which
// is skipped up to its ";".
std::optional<Fault> ReadTreeStatement(Lexer& lex, FileTrees& file) {
  Token name = lex.Next();
  if (name.kind == Tok::kWord && lex.Raw(name) == "*") name = lex.Next();
  if (name.kind != Tok::kWord && name.kind != Tok::kQuoted)
    return At(name, "expected the name of the tree, found " + lex.Shown(name));
  std::string text = lex.Text(name);
  if (name.kind == Tok::kWord && text.size() > 1 && text[0] == '*') text.erase(0, 1);
  Token equals = lex.Next();
  // lopper's writer names a tree after its file, bare and as it is ("my
  // tree:2.nex"): a bare name runs to the "=" on its line.
  Token span = name;
  for (; name.kind == Tok::kWord && equals.kind != Tok::kEquals && equals.kind != Tok::kEnd &&
         equals.kind != Tok::kBad && equals.kind != Tok::kSemicolon && equals.line == name.line;
       equals = lex.Next())
    span.end = equals.end;
  if (span.end != name.end) text = std::string(lex.Raw(span));
  if (equals.kind != Tok::kEquals) return At(equals, "expected '=', found " + lex.Shown(equals));
  file.trees.push_back({std::move(text), lex.state()});
  return SkipStatement(lex);
}

// The statements of a Nexus file, with or without its "#NEXUS" line:
// TRANSLATE and TREE wherever they stand outside other blocks.
std::optional<Fault> ReadStatements(Lexer& lex, FileTrees& file) {
  for (Token t = lex.Next(); t.kind != Tok::kEnd; t = lex.Next()) {
    if (t.kind == Tok::kBad) return At(t, t.problem);
    if (t.kind == Tok::kSemicolon) continue;
    const std::string_view word = t.kind == Tok::kWord ? lex.Raw(t) : "";
    std::optional<Fault> fault;
    if (detail::EqualsIgnoringCase(word, "#nexus")) continue;
    if (detail::EqualsIgnoringCase(word, "translate")) {
      fault = ReadTranslate(lex, file);
    } else if (detail::EqualsIgnoringCase(word, "tree")) {
      fault = ReadTreeStatement(lex, file);
    } else if (detail::EqualsIgnoringCase(word, "begin")) {
      const Token block = lex.Next();
      const bool trees =
          block.kind == Tok::kWord && detail::EqualsIgnoringCase(lex.Raw(block), "trees");
      fault = SkipStatement(lex);
      if (!fault && !trees) fault = SkipBlock(lex);
    } else {
      fault = SkipUnknownStatement(lex, t);
    }
    if (fault) return fault;
  }
  return std::nullopt;
}

// The trees of a Newick file, each ended by ";" (the last one may end the
// text instead).
std::optional<Fault> ReadNewickTrees(Lexer& lex, FileTrees& file) {
  while (true) {
    const LexState start = lex.state();
    const Token first = lex.Next();
    if (first.kind == Tok::kEnd) return std::nullopt;
    file.trees.push_back({"", start});
    for (Token t = first; t.kind != Tok::kSemicolon && t.kind != Tok::kEnd; t = lex.Next())
      if (t.kind == Tok::kBad) return At(t, t.problem);
  }
}

// The tree as read: the records in the order they are made, with their
// lengths, support and joined flags; the top record of every node by the
// order of its "("; the leaves in the order of the text, whose index is
// each leaf's provisional reference. A node's third and later children
// each push the records it has so far down into a new joined record, so
// that its children c1 ... ck come to be ((c1,c2),c3)...,ck with ck in the
// node's own record, the top one.
class TreeBuilder : public TreeEvents {
 public:
  TreeBuilder(const Lexer& lex, std::deque<std::string>& unquoted)
      : lex_(lex), unquoted_(unquoted) {}
  void Reserve(std::size_t leaf_count) {
    if (leaf_count < 2) return;
    nodes.reserve(leaf_count - 1);
    lengths.reserve(leaf_count - 1);
    support.reserve(leaf_count - 1);
    joined.reserve(leaf_count - 1);
    top_record.reserve(leaf_count - 1);
    leaves.reserve(leaf_count);
  }
  void Open(int parent, int slot, int /*record*/) override {
    const int record = AddRecord({0, 0, 0.0}, {kNone, kNone}, 0);
    top_record.push_back(record);
    if (parent >= 0) Attach(parent, slot, -(record + 1));
  }
  std::string Leaf(int parent, int slot, const Token& leaf) override {
    Attach(parent, slot, static_cast<int>(leaves.size()));
    leaves.push_back({Word(lex_, leaf, unquoted_), leaf.at});
    return "";
  }
  // A length follows the child just read: the first stands in slot 0 of
  // the node's top record, every later one in its slot 1.
  void Length(int parent, int slot, double length) override {
    const int record = top_record[parent];
    nodes[record].distance = length;
    lengths[record][slot == 0 ? 0 : 1] = length;
  }
  std::string Close(int record, int children, std::size_t open_at) override {
    if (children < 2) return "a node with only one child";
    // Nodes close inside out: the first "(" is the lowest record number.
    if (children > 2 && (!polytomy || record < polytomy->record))
      polytomy = Polytomy{record, children, open_at};
    return "";
  }
  void Label(int record, const Token& label) override {
    const std::optional<double> value = label.kind == Tok::kQuoted
                                            ? LengthValue(lex_.Text(label), Dialect::kNexus)
                                            : LengthValue(lex_.Raw(label), Dialect::kNexus);
    support[top_record[record]] = value.value_or(kNone);
  }

  static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  // A leaf: its word and its offset in the text, which gives its place
  // when a message needs it (a Token per leaf would double the memory).
  struct LeafWord {
    std::string_view text;
    std::size_t at;
  };
  // The first node of more than two children: its "(" and their number.
  struct Polytomy {
    int record;
    int children;
    std::size_t open_at;
  };
  std::vector<Node> nodes;
  std::vector<std::array<double, 2>> lengths;
  std::vector<double> support;
  std::vector<char> joined;
  std::vector<int> top_record;
  std::vector<LeafWord> leaves;
  std::optional<Polytomy> polytomy;

 private:
  int AddRecord(Node node, std::array<double, 2> length, char is_joined) {
    nodes.push_back(node);
    lengths.push_back(length);
    support.push_back(kNone);
    joined.push_back(is_joined);
    return static_cast<int>(nodes.size()) - 1;
  }
  void Attach(int parent, int slot, int ref) {
    const int record = top_record[parent];
    if (slot == 0) {
      nodes[record].left = ref;
      return;
    }
    if (slot >= 2) {
      const int below = AddRecord(nodes[record], lengths[record], 1);
      // The branch to the joined record is none of the file's: length 0.
      nodes[record] = {-(below + 1), 0, 0.0};
      lengths[record] = {0.0, kNone};
    }
    nodes[record].right = ref;
  }

  const Lexer& lex_;
  std::deque<std::string>& unquoted_;
};

Fault Twice(const Lexer& lex, const TreeBuilder::LeafWord& leaf) {
  return At(lex.Place(leaf.at), "leaf '" + std::string(leaf.text) + "' occurs twice");
}

// The element of every leaf, by TRANSLATE number or name, and the entry
// naming each element (byleaf); or the fault of the table or of a leaf.
std::optional<Fault> TranslatedLeaves(const Lexer& lex, const FileTrees& file,
                                      const std::vector<TreeBuilder::LeafWord>& leaves,
                                      std::vector<int>& element, std::vector<std::size_t>& byleaf) {
  const int n = static_cast<int>(leaves.size());
  if (std::optional<NamingFault> fault = OrderEntries(file.entries, n, byleaf)) {
    if (fault->entry == std::string::npos) return Fault{fault->what, std::nullopt};
    Token where;
    where.line = file.entries[fault->entry].line;
    where.column = file.entries[fault->entry].column;
    return Fault{fault->what, where};
  }
  element.reserve(leaves.size());
  // Built at the first leaf that is not a number: files name leaves by
  // number, or all by name.
  std::unordered_map<std::string_view, int> by_name;
  for (const auto& [text, at] : leaves) {
    const long long number = AllDigits(text) && text.size() <= 12 ? DigitsValue(text) : 0;
    if (number >= 1 && number <= n) {
      element.push_back(static_cast<int>(number) - 1);
      continue;
    }
    if (by_name.empty())
      for (const Entry& e : file.entries) by_name.emplace(e.name, static_cast<int>(e.number) - 1);
    const auto named = by_name.find(text);
    if (named == by_name.end()) {
      const std::string shown(text);
      return At(lex.Place(at), AllDigits(text)
                                   ? "leaf number " + shown + " is outside 1.." +
                                         std::to_string(n) + " (the TRANSLATE table's numbers)"
                                   : "leaf '" + shown +
                                         "' is neither a number nor a name of "
                                         "the TRANSLATE table");
    }
    element.push_back(named->second);
  }
  std::vector<bool> seen(leaves.size(), false);
  for (std::size_t i = 0; i < leaves.size(); i++) {
    if (seen[element[i]]) return Twice(lex, leaves[i]);
    seen[element[i]] = true;
  }
  return std::nullopt;
}

// Without a table: the leaves are the elements in the order of the text,
// each name once.
std::optional<Fault> LeavesInOrder(const Lexer& lex,
                                   const std::vector<TreeBuilder::LeafWord>& leaves,
                                   std::vector<int>& element, std::vector<std::string>& names) {
  std::unordered_map<std::string_view, int> seen;
  seen.reserve(leaves.size());
  element.reserve(leaves.size());
  names.reserve(leaves.size());
  for (const TreeBuilder::LeafWord& leaf : leaves) {
    if (!seen.emplace(leaf.text, static_cast<int>(names.size())).second) return Twice(lex, leaf);
    element.push_back(static_cast<int>(names.size()));
    names.emplace_back(leaf.text);
  }
  return std::nullopt;
}

// Where each record goes in the shared order, root last: the nodes in the
// reverse order of their "(", each as its joined records, innermost first,
// then its top record. For a binary tree that is the records reversed, the
// order lopper has always given.
std::vector<int> SharedOrder(const TreeBuilder& built) {
  const auto joined_below = [&built](int record) {
    const int left = built.nodes[record].left;
    return left < 0 && built.joined[-left - 1] ? -left - 1 : -1;
  };
  std::vector<int> position(built.nodes.size());
  int next = 0;
  for (auto top = built.top_record.rbegin(); top != built.top_record.rend(); ++top) {
    int below = 0;
    for (int r = joined_below(*top); r >= 0; r = joined_below(r)) below++;
    // Down the chain from the top, which goes last.
    int place = next + below;
    for (int r = *top; r >= 0; r = joined_below(r)) position[r] = place--;
    next += below + 1;
  }
  return position;
}

template <class T>
void Rearrange(std::vector<T>& values, const std::vector<int>& position) {
  std::vector<T> placed(values.size());
  for (std::size_t r = 0; r < values.size(); r++) placed[position[r]] = std::move(values[r]);
  values = std::move(placed);
}

// The leaves as elements, each once; the records with their references to
// elements and in the shared order, root last.
std::optional<Fault> Finish(const Lexer& lex, const FileTrees& file, TreeBuilder& built,
                            TreeRead& tree) {
  std::vector<int> element;
  std::vector<std::size_t> byleaf;
  std::optional<Fault> fault = file.entries.empty()
                                   ? LeavesInOrder(lex, built.leaves, element, tree.names)
                                   : TranslatedLeaves(lex, file, built.leaves, element, byleaf);
  if (fault) return fault;
  // The leaves are done with: freed before the names of a table are made,
  // which lowers the peak of memory by their size.
  std::vector<TreeBuilder::LeafWord>().swap(built.leaves);
  tree.names.reserve(tree.names.size() + byleaf.size());
  for (const std::size_t i : byleaf) tree.names.emplace_back(file.entries[i].name);
  const std::vector<int> position = SharedOrder(built);
  for (Node& node : built.nodes)
    for (int* child : {&node.left, &node.right})
      *child = *child >= 0 ? element[*child] : -position[-*child - 1] - 1;
  Rearrange(built.nodes, position);
  Rearrange(built.lengths, position);
  Rearrange(built.support, position);
  Rearrange(built.joined, position);
  tree.nodes = std::move(built.nodes);
  tree.lengths = std::move(built.lengths);
  tree.support = std::move(built.support);
  tree.joined = std::move(built.joined);
  return std::nullopt;
}

// t, the token after a tree: ";" (in a Newick file the end of the text
// will do).
std::optional<Fault> TreeEnd(const Lexer& lex, const Token& t, bool nexus) {
  if (t.kind == Tok::kSemicolon || (!nexus && t.kind == Tok::kEnd)) return std::nullopt;
  return At(t, "expected ';' after the tree, found " + lex.Shown(t));
}

// The names of the file's trees, quoted, for messages.
std::string TreeNames(const FileTrees& file) {
  std::string names;
  for (const TreeStatement& t : file.trees) names += (names.empty() ? "'" : ", '") + t.name + "'";
  return names;
}

// The index of the chosen tree, or the problem.
std::optional<std::size_t> Chosen(const FileTrees& file, const TreeChoice& choice,
                                  std::string& problem) {
  const std::size_t count = file.trees.size();
  const std::string trees = std::to_string(count) + (count == 1 ? " tree" : " trees");
  if (count == 0) {
    problem = file.nexus ? "no TREE statement" : "no tree";
  } else if (!choice.name.empty()) {
    for (std::size_t i = 0; i < count; i++)
      if (file.trees[i].name == choice.name) return i;
    problem = "no tree named '" + choice.name + "' (the file has " + trees +
              (file.nexus ? ": " + TreeNames(file) : ", Newick trees without names") + ")";
  } else if (choice.index != 0) {
    if (choice.index >= 1 && static_cast<std::size_t>(choice.index) <= count)
      return static_cast<std::size_t>(choice.index - 1);
    problem = "no tree number " + std::to_string(choice.index) + " (the file has " + trees + ")";
  } else {
    return file.nexus ? count - 1 : 0;
  }
  return std::nullopt;
}

// A fault's message in the reader's form: the source, the place if any,
// what it is.
std::string Placed(const std::string& source, const Fault& fault) {
  if (!fault.where) return source + ": " + fault.what;
  return source + ": line " + std::to_string(fault.where->line) + ", character " +
         std::to_string(fault.where->column) + ": " + fault.what;
}

// The chosen tree of a file whose statements are read, built.
std::optional<Fault> BuildTree(Lexer& lex, FileTrees& file, std::size_t chosen,
                               const std::string& source, TreeRead& tree) {
  tree.tree_name = file.trees[chosen].name;
  lex.Restore(file.trees[chosen].start);
  TreeBuilder built(lex, file.unquoted);
  // A table names as many leaves as the tree has, most likely: room for
  // them at once spares the copies and the page faults of growing.
  built.Reserve(file.entries.size());
  Token after;
  std::optional<Fault> fault = ParseNewick(lex, false, built, after);
  if (!fault) fault = TreeEnd(lex, after, file.nexus);
  if (!fault && built.polytomy)
    tree.polytomy =
        Placed(source, At(lex.Place(built.polytomy->open_at),
                          "a node of " + std::to_string(built.polytomy->children) + " children"));
  if (!fault) fault = Finish(lex, file, built, tree);
  return fault;
}

// A failed reading: message in one line, names that hold line breaks
// included.
TreeReadResult Refused(std::string message) {
  for (char& ch : message)
    if (ch == '\n' || ch == '\r') ch = ' ';
  return {std::nullopt, std::move(message)};
}

TreeReadResult Failed(const std::string& source, const Fault& fault) {
  return Refused(Placed(source, fault));
}

TreeReadResult ParseText(std::string_view text, const std::string& source,
                         const TreeChoice& choice) {
  Lexer lex(text, Dialect::kNexus);
  FileTrees file;
  // A text that opens with a tree is Newick; any other is Nexus commands.
  file.nexus = lex.Next().kind != Tok::kOpen;
  lex.Restore(LexState{});
  std::optional<Fault> fault = file.nexus ? ReadStatements(lex, file) : ReadNewickTrees(lex, file);
  if (fault) return Failed(source, *fault);
  std::string problem;
  const std::optional<std::size_t> chosen = Chosen(file, choice, problem);
  if (!chosen) return Refused(source + ": " + problem);
  TreeRead tree;
  fault = BuildTree(lex, file, *chosen, source, tree);
  if (fault) return Failed(source, *fault);
  return {std::move(tree), ""};
}

// The bytes of a file, in room that is not zeroed first (zeroing a
// 57 MB string before reading into it costs a tenth of the reading).
struct FileText {
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;
};

// Reads all of `in` into room of the file's size plus one byte, so that the
// end shows without growing; a file that is not regular (or grows) gets
// more room as it comes. Returns false on a failed read.
bool ReadAll(std::FILE* in, FileText& text) {
  struct stat status {};
  std::size_t room = 1 << 16;
  if (fstat(fileno(in), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0)
    room = static_cast<std::size_t>(status.st_size) + 1;
  text.bytes.reset(new char[room]);
  while (true) {
    // fread gives less than asked only at the end or on an error.
    text.size += std::fread(text.bytes.get() + text.size, 1, room - text.size, in);
    if (text.size < room) return !std::ferror(in);
    std::unique_ptr<char[]> more(new char[2 * room]);
    std::memcpy(more.get(), text.bytes.get(), text.size);
    text.bytes = std::move(more);
    room *= 2;
  }
}

}  // namespace

TreeReadResult ParseNexusTree(const std::string& text, const std::string& source,
                              const TreeChoice& choice) {
  return ParseText(text, source, choice);
}

TreeReadResult ReadNexusTree(const std::string& path, const TreeChoice& choice) {
  errno = 0;
  std::FILE* in = std::fopen(path.c_str(), "rb");
  FileText text;
  bool read = in != nullptr;
  if (in) {
    read = ReadAll(in, text);
    std::fclose(in);
  }
  if (!read)
    return Refused(path + ": cannot read: " + (errno != 0 ? std::strerror(errno) : "read error"));
  return ParseText(std::string_view(text.bytes.get(), text.size), path, choice);
}

}  // namespace lopper
