// The one grammar of tree text, private to the Nexus layer: a lexer of
// Nexus and Newick text (or of the strict tree strings lopper writes) and an
// iterative parser of Newick trees that reports what it reads as events, so
// that checking and building share every rule.
#ifndef LOPPER_NEXUSGRAMMAR_H
#define LOPPER_NEXUSGRAMMAR_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "NexusTree.h"

namespace lopper {

// kLopper: the tree string of a lopper file alone; blanks are spaces and
// tabs, leaves are digits, lengths unsigned decimals, no comments or quotes.
// kNexus: Nexus and Newick text; any white space, [...] comments, quoted
// and bare words, lengths with sign and exponent, internal labels.
enum class Dialect { kLopper, kNexus };

enum class Tok {
  kOpen,
  kClose,
  kComma,
  kColon,
  kSemicolon,
  kEquals,
  kWord,
  kQuoted,
  kOther,
  kBad,
  kEnd
};

// A token: its kind, its raw text [at, end) and its place (both from 1).
// kBad carries the lexer's problem (an unclosed quote or comment).
struct Token {
  Tok kind = Tok::kEnd;
  std::size_t at = 0, end = 0;
  long line = 1;
  std::size_t column = 1;
  const char* problem = nullptr;
};

// Where the lexer stands; saved to come back to a tree later.
struct LexState {
  std::size_t pos = 0;
  long line = 1;
  std::size_t line_start = 0;
};

class Lexer {
 public:
  // text must outlive the lexer.
  Lexer(std::string_view text, Dialect dialect) : text_(text), dialect_(dialect) {}
  Dialect dialect() const { return dialect_; }
  LexState state() const { return s_; }
  void Restore(const LexState& s) { s_ = s; }
  // The next token, after blanks (and comments in kNexus).
  Token Next();
  // In kNexus: reads past the next ";" as calls of Next up to it would,
  // and returns it, or the kBad or kEnd token met before one.
  Token SkipStatement();
  // What follows a ':': in kLopper the run of digits and points standing
  // right there (possibly empty), in kNexus the next token.
  Token LengthText();
  // A TRANSLATE name after blanks: quoted, or bare to the end of the line,
  // or to a "," that precedes the entry numbered `next` on the same line, or
  // to a ";" that ends the line. Trailing commas are dropped, and blanks too
  // before a ";" (which is left to be read).
  Token EntryName(long long next);
  // A token at offset `at` of the text, with the line and column Next
  // gives a token there: readers keep offsets alone, and need a place only
  // for a message.
  Token Place(std::size_t at) const;
  std::string_view Raw(const Token& t) const;
  // The word a token stands for: quotes removed ('' for a quote inside).
  std::string Text(const Token& t) const;
  // The token as a message shows it.
  std::string Shown(const Token& t) const;

 private:
  void Advance();
  void SkipBlanks();
  Token Make(Tok kind, std::size_t at, std::size_t end) const;
  Token Quoted();
  std::size_t EntryNameEnd(long long next) const;

  std::string_view text_;
  Dialect dialect_;
  LexState s_;
};

// The events of a tree read left to right. parent is the record the node
// is a child of (-1 for the root), slot the child's position in it (0 for
// the first); records are numbered in the order of their "(". A non-empty
// return is a problem tied to the token just read, and ends the parse.
// Close comes at a node's ")" with the number of its children and the
// offset of its "("; Label with the word after that ")" (kNexus only).
// Readers that need neither leave them as they are.
class TreeEvents {
 public:
  virtual ~TreeEvents() = default;
  virtual void Open(int parent, int slot, int record) = 0;
  virtual std::string Leaf(int parent, int slot, const Token& leaf) = 0;
  virtual void Length(int parent, int slot, double length) = 0;
  virtual std::string Close(int /*record*/, int /*children*/, std::size_t /*open_at*/) {
    return "";
  }
  virtual void Label(int /*record*/, const Token& /*label*/) {}
};

// A problem of the text, at a token or (where) at no place.
struct Fault {
  std::string what;
  std::optional<Token> where;
};

// Parses one tree from the lexer's place. binary: nodes of exactly two
// children, else any number from one. On success `after` receives the
// token that follows the tree (after the root's label and length in
// kNexus). No recursion: the open nodes are an explicit stack.
std::optional<Fault> ParseNewick(Lexer& lex, bool binary, TreeEvents& events, Token& after);

// The value of a branch length's text: unsigned decimals in kLopper, with
// sign and exponent in kNexus (read as text/scan.h's ReadDecimal reads them;
// beyond the doubles, the largest of its sign); nullopt when the text is not
// a number.
std::optional<double> LengthValue(std::string_view raw, Dialect dialect);

// LeafNames without the line: the problem and the index of the entry it is
// tied to (npos when none).
struct NamingFault {
  std::string what;
  std::size_t entry;
};
// The checks of LeafNames on any sequence of entries with a number and a
// line: byleaf[L-1] receives the index of the entry numbered L.
template <class EntrySequence>
std::optional<NamingFault> OrderEntries(const EntrySequence& Entries, int nleaves,
                                        std::vector<std::size_t>& byleaf) {
  const auto count = static_cast<long long>(Entries.size());
  if (count != nleaves)
    return NamingFault{"the TRANSLATE table names " + std::to_string(count) +
                           " elements but the tree has " + std::to_string(nleaves) + " leaves",
                       Entries.empty() ? std::string::npos : 0};
  byleaf.assign(static_cast<std::size_t>(nleaves), std::string::npos);
  for (std::size_t i = 0; i < Entries.size(); i++) {
    const auto& e = Entries[i];
    const std::string at = "TRANSLATE number ";
    if (e.number < 1 || e.number > nleaves)
      return NamingFault{at + (e.number < 0 ? "too large" : std::to_string(e.number)) +
                             " is outside 1.." + std::to_string(nleaves) + " (the tree has " +
                             std::to_string(nleaves) + " leaves)",
                         i};
    std::size_t& slot = byleaf[e.number - 1];
    if (slot != std::string::npos)
      return NamingFault{at + std::to_string(e.number) + " occurs twice (also on line " +
                             std::to_string(Entries[slot].line) + ")",
                         i};
    slot = i;
  }
  // As many entries as leaves, each number once within range: all present.
  return std::nullopt;
}
std::optional<NamingFault> NumberLeaves(const std::vector<TranslateEntry>& Entries, int nleaves,
                                        std::vector<std::string>& NodeNames);

}  // namespace lopper

#endif
