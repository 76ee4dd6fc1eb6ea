// The strict tree strings of lopper's files, through the one grammar:
// NexusTreeCheck and NexusTreeIn.
#include <algorithm>
#include <climits>

#include "NexusGrammar.h"
#include "NexusTree.h"

namespace lopper {

namespace {

// A leaf number of the tree string and the position of its first digit;
// numbers past 10^12 stop growing, which keeps them beyond any leaf count.
struct LeafAt {
  std::size_t at;
  long long number;
};

long long LeafNumber(std::string_view digits) {
  long long number = 0;
  for (const char ch : digits)
    if (number <= 1000000000000LL) number = number * 10 + (ch - '0');
  return number;
}

// Collects the leaves, refusing leaf number 0 where it stands.
class LeafCollector : public TreeEvents {
 public:
  explicit LeafCollector(const Lexer& lex) : lex_(lex) {}
  void Open(int, int, int) override {}
  std::string Leaf(int, int, const Token& leaf) override {
    const long long number = LeafNumber(lex_.Raw(leaf));
    if (number == 0) return "leaf number 0 (leaves are numbered from 1)";
    leaves.push_back({leaf.at, number});
    return "";
  }
  void Length(int, int, double) override {}
  std::vector<LeafAt> leaves;

 private:
  const Lexer& lex_;
};

// Writes what it reads into records, child slot 0 to the left and any
// later one to the right, every length to the record's distance.
// `child(record, slot, ref)` and `length(record, dist)` store.
template <class ChildSlot, class LengthSlot>
class RecordWriter : public TreeEvents {
 public:
  RecordWriter(const Lexer& lex, ChildSlot child, LengthSlot length)
      : lex_(lex), child_(child), length_(length) {}
  void Open(int parent, int slot, int record) override {
    if (parent >= 0) child_(parent, slot, -(record + 1));
  }
  std::string Leaf(int parent, int slot, const Token& leaf) override {
    const long long number = std::min<long long>(LeafNumber(lex_.Raw(leaf)), INT_MAX);
    child_(parent, slot, static_cast<int>(number) - 1);
    leaves++;
    return "";
  }
  void Length(int parent, int, double length) override { length_(parent, length); }
  int leaves = 0;

 private:
  const Lexer& lex_;
  ChildSlot child_;
  LengthSlot length_;
};

// The whole string as one tree: the grammar's fault, or one for text after
// the tree.
std::optional<Fault> ParseWhole(Lexer& lex, bool binary, TreeEvents& events) {
  Token after;
  std::optional<Fault> fault = ParseNewick(lex, binary, events, after);
  if (fault) return fault;
  if (after.kind != Tok::kEnd) return Fault{"text after the end of the tree", after};
  return std::nullopt;
}

// The problem of a well-formed tree string s's leaves: "" when their
// numbers are 1 ... n once each for n leaves, otherwise the first leaf
// that breaks that, by position.
std::string LeafNumberProblem(const std::string& s, const std::vector<LeafAt>& leaves) {
  const long long n = static_cast<long long>(leaves.size());
  std::vector<bool> seen(leaves.size() + 1, false);
  for (const auto& [at, number] : leaves) {
    const std::string where = "character " + std::to_string(at + 1) + ": ";
    if (number > n)
      return where + "leaf number " + s.substr(at, s.find_first_not_of("0123456789", at) - at) +
             " is larger than the number of leaves (" + std::to_string(n) + ")";
    if (seen[number]) return where + "leaf number " + std::to_string(number) + " occurs twice";
    seen[number] = true;
  }
  return "";
}

template <class ChildSlot, class LengthSlot>
void ParseRecords(const std::string& Nexus, int& nrows, ChildSlot child, LengthSlot length) {
  Lexer lex(Nexus, Dialect::kLopper);
  RecordWriter<ChildSlot, LengthSlot> writer(lex, child, length);
  // Nodes of any number of children, so that a string is read as far as
  // it goes; a fault only ends the reading.
  ParseWhole(lex, false, writer);
  nrows = writer.leaves;
}

}  // namespace

std::string NexusTreeCheck(const std::string& Nexus, int& nrows) {
  Lexer lex(Nexus, Dialect::kLopper);
  LeafCollector leaves(lex);
  if (const std::optional<Fault> fault = ParseWhole(lex, true, leaves))
    return fault->where ? "character " + std::to_string(fault->where->at + 1) + ": " + fault->what
                        : fault->what;
  std::string problem = LeafNumberProblem(Nexus, leaves.leaves);
  if (problem.empty()) nrows = static_cast<int>(leaves.leaves.size());
  return problem;
}

void NexusTreeIn(const std::string& Nexus, Node* treenodes, int& nrows) {
  ParseRecords(
      Nexus, nrows,
      [treenodes](int record, int slot, int ref) {
        (slot == 0 ? treenodes[record].left : treenodes[record].right) = ref;
      },
      [treenodes](int record, double dist) { treenodes[record].distance = dist; });
}

void NexusTreeIn(const std::string& Nexus, int (*results)[2], double* distance, int& nrows) {
  ParseRecords(
      Nexus, nrows,
      [results](int record, int slot, int ref) { results[record][slot == 0 ? 0 : 1] = ref; },
      [distance](int record, double dist) { distance[record] = dist; });
}

}  // namespace lopper
