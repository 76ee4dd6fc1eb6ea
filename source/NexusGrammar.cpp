#include "NexusGrammar.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "text/scan.h"

namespace lopper {

namespace {

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }
bool IsSpace(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f';
}
// Characters that end a bare word of Nexus text, NUL among them. A table,
// as the lexer asks for every character of the text.
struct DelimiterTable {
  bool is[256] = {};
  constexpr DelimiterTable() {
    for (const char ch : " \t\n\r\v\f()[]',:;=") is[static_cast<unsigned char>(ch)] = true;
  }
};
constexpr DelimiterTable kDelimiters;
bool IsDelimiter(char ch) { return kDelimiters.is[static_cast<unsigned char>(ch)]; }

Tok Punctuation(char ch, Dialect dialect) {
  switch (ch) {
    case '(':
      return Tok::kOpen;
    case ')':
      return Tok::kClose;
    case ',':
      return Tok::kComma;
    case ':':
      return Tok::kColon;
    default:
      break;
  }
  if (dialect == Dialect::kLopper) return Tok::kOther;
  return ch == ';' ? Tok::kSemicolon : ch == '=' ? Tok::kEquals : Tok::kOther;
}

}  // namespace

void Lexer::Advance() {
  if (text_[s_.pos] == '\n') {
    s_.line++;
    s_.line_start = s_.pos + 1;
  }
  s_.pos++;
}

// kLopper blanks are spaces and tabs; kNexus skips all white space and
// comments, which may nest. An unclosed comment is left for Next to report.
void Lexer::SkipBlanks() {
  const std::size_t n = text_.size();
  while (s_.pos < n) {
    const char ch = text_[s_.pos];
    if (dialect_ == Dialect::kLopper ? (ch == ' ' || ch == '\t') : IsSpace(ch)) {
      Advance();
      continue;
    }
    if (dialect_ == Dialect::kLopper || ch != '[') return;
    const LexState open = s_;
    int depth = 0;
    do {
      depth += text_[s_.pos] == '[' ? 1 : text_[s_.pos] == ']' ? -1 : 0;
      Advance();
    } while (depth > 0 && s_.pos < n);
    if (depth > 0) {
      s_ = open;
      return;
    }
  }
}

Token Lexer::Make(Tok kind, std::size_t at, std::size_t end) const {
  Token t;
  t.kind = kind;
  t.at = at;
  t.end = end;
  return t;
}

// At an opening quote: the quoted word, or kBad when no quote closes it.
Token Lexer::Quoted() {
  const LexState open = s_;
  Advance();
  while (s_.pos < text_.size()) {
    const bool quote = text_[s_.pos] == '\'';
    Advance();
    if (!quote) continue;
    if (s_.pos < text_.size() && text_[s_.pos] == '\'') {
      Advance();
      continue;
    }
    return Make(Tok::kQuoted, open.pos, s_.pos);
  }
  s_ = open;
  Token bad = Make(Tok::kBad, s_.pos, s_.pos + 1);
  bad.problem = "a quote that is never closed";
  return bad;
}

Token Lexer::Next() {
  SkipBlanks();
  const LexState start = s_;
  Token t = Make(Tok::kEnd, s_.pos, s_.pos);
  const std::size_t n = text_.size();
  if (s_.pos == n) {
  } else if (dialect_ == Dialect::kNexus && text_[s_.pos] == '[') {
    t = Make(Tok::kBad, s_.pos, s_.pos + 1);
    t.problem = "a comment that is never closed";
    s_.pos = n;
  } else if (dialect_ == Dialect::kNexus && text_[s_.pos] == '\'') {
    t = Quoted();
  } else if (IsDigit(text_[s_.pos]) ||
             (dialect_ == Dialect::kNexus && !IsDelimiter(text_[s_.pos]))) {
    // A word holds no line break: Advance's count of lines is not needed.
    if (dialect_ == Dialect::kLopper) {
      while (s_.pos < n && IsDigit(text_[s_.pos])) s_.pos++;
    } else {
      while (s_.pos < n && !IsDelimiter(text_[s_.pos])) s_.pos++;
    }
    t = Make(Tok::kWord, start.pos, s_.pos);
  } else {
    t = Make(Punctuation(text_[s_.pos], dialect_), s_.pos, s_.pos + 1);
    Advance();
  }
  t.line = start.line;
  t.column = start.pos - start.line_start + 1;
  return t;
}

// Only "[", a quote and ";" can start a comment, a quoted word or a ";"
// wherever they stand (every other token ends before them): the rest is
// passed over a character at a time, not token by token.
Token Lexer::SkipStatement() {
  const std::size_t n = text_.size();
  while (s_.pos < n) {
    const char ch = text_[s_.pos];
    if (ch != '[' && ch != '\'' && ch != ';') {
      Advance();
      continue;
    }
    const Token t = Next();
    if (t.kind == Tok::kSemicolon || t.kind == Tok::kBad || t.kind == Tok::kEnd) return t;
  }
  return Next();
}

Token Lexer::LengthText() {
  if (dialect_ == Dialect::kNexus) return Next();
  Token t = Make(Tok::kWord, s_.pos, s_.pos);
  t.line = s_.line;
  t.column = s_.pos - s_.line_start + 1;
  while (s_.pos < text_.size() && (IsDigit(text_[s_.pos]) || text_[s_.pos] == '.')) Advance();
  t.end = s_.pos;
  // A sign where the digits should start, shown as such.
  if (t.at == t.end && t.at < text_.size() && (text_[t.at] == '-' || text_[t.at] == '+')) {
    t.kind = Tok::kOther;
    t.end = t.at + 1;
  }
  return t;
}

// From the lexer's place within a bare name: where the name's text ends,
// before the trailing commas or the blanks and commas before a final ";".
std::size_t Lexer::EntryNameEnd(long long next) const {
  // A loop, not find_first_of, which calls memchr for every character.
  std::size_t line_end = s_.pos;
  while (line_end < text_.size() && text_[line_end] != '\r' && text_[line_end] != '\n') line_end++;
  const std::string next_entry = std::to_string(next);
  std::size_t end = line_end;
  for (std::size_t i = s_.pos; i < line_end; i++) {
    const char ch = text_[i];
    // Only a ";" or "," asks what follows it.
    if (ch != ';' && ch != ',') continue;
    const std::size_t after = text_.find_first_not_of(" \t", i + 1);
    const bool rest_blank = after >= line_end;
    if (ch == ';' && rest_blank) end = i;
    if (ch == ',' && !rest_blank && text_.compare(after, next_entry.size(), next_entry) == 0 &&
        after + next_entry.size() < line_end && IsSpace(text_[after + next_entry.size()]))
      end = i;
    if (end != line_end) break;
  }
  const bool before_semicolon = end < line_end && text_[end] == ';';
  while (end > s_.pos && (text_[end - 1] == ',' || (before_semicolon && IsSpace(text_[end - 1]))))
    end--;
  return end;
}

Token Lexer::EntryName(long long next) {
  SkipBlanks();
  if (s_.pos == text_.size() || text_[s_.pos] != '\'') {
    const LexState start = s_;
    const std::size_t end = EntryNameEnd(next);
    while (s_.pos < end) Advance();
    // The commas dropped from the name are part of it: the next token
    // follows them.
    while (s_.pos < text_.size() && text_[s_.pos] == ',') Advance();
    Token t = Make(end > start.pos ? Tok::kWord : Tok::kOther, start.pos, end);
    t.line = start.line;
    t.column = start.pos - start.line_start + 1;
    return t;
  }
  return Next();
}

Token Lexer::Place(std::size_t at) const {
  Token t = Make(Tok::kWord, at, at);
  const std::string_view before = text_.substr(0, at);
  t.line = 1 + static_cast<long>(std::count(before.begin(), before.end(), '\n'));
  const std::size_t newline = before.rfind('\n');
  t.column = at - (newline == std::string_view::npos ? 0 : newline + 1) + 1;
  return t;
}

std::string_view Lexer::Raw(const Token& t) const { return text_.substr(t.at, t.end - t.at); }

std::string Lexer::Text(const Token& t) const {
  const std::string_view raw = Raw(t);
  if (t.kind != Tok::kQuoted) return std::string(raw);
  std::string word;
  for (std::size_t i = 1; i + 1 < raw.size(); i++) {
    word += raw[i];
    if (raw[i] == '\'') i++;
  }
  return word;
}

std::string Lexer::Shown(const Token& t) const {
  if (t.kind == Tok::kEnd)
    return dialect_ == Dialect::kLopper ? "end of tree string" : "end of text";
  const std::size_t shown =
      dialect_ == Dialect::kLopper ? 1 : std::min<std::size_t>(t.end - t.at, 40);
  return "'" + std::string(Raw(t).substr(0, shown)) + "'";
}

std::optional<double> LengthValue(std::string_view raw, Dialect dialect) {
  // A lopper file's lengths are unsigned and have no exponent.
  if (dialect == Dialect::kLopper &&
      !std::all_of(raw.begin(), raw.end(), [](char ch) { return IsDigit(ch) || ch == '.'; }))
    return std::nullopt;
  const detail::Decimal read = detail::ReadDecimal(raw);
  if (read.end == raw.data() || read.end != raw.data() + raw.size()) return std::nullopt;
  // Beyond the doubles a length has always read as the largest one.
  if (std::isinf(read.value)) return std::copysign(std::numeric_limits<double>::max(), read.value);
  return read.value;
}

namespace {

// The parse of one tree: the open nodes, innermost last, and the token in
// hand.
class NewickParser {
 public:
  NewickParser(Lexer& lex, bool binary, TreeEvents& events)
      : lex_(lex), binary_(binary), events_(events) {}
  std::optional<Fault> Run();
  const Token& token() const { return tok_; }

 private:
  struct OpenNode {
    int record;
    int children;  // read so far
    std::size_t open_at;
  };
  Fault At(const Token& t, std::string what) const { return Fault{std::move(what), t}; }
  std::optional<Fault> Item();
  std::optional<Fault> AfterItem();
  std::optional<Fault> Length(int parent, int slot);
  std::string NotBinary(const char* what) const;
  bool nexus() const { return lex_.dialect() == Dialect::kNexus; }

  Lexer& lex_;
  bool binary_;
  TreeEvents& events_;
  std::vector<OpenNode> open_;
  int records_ = 0;
  Token tok_;
};

std::optional<Fault> NewickParser::Run() {
  tok_ = lex_.Next();
  if (tok_.kind == Tok::kEnd && !nexus()) return Fault{"empty tree string", std::nullopt};
  if (tok_.kind == Tok::kBad) return At(tok_, tok_.problem);
  if (tok_.kind != Tok::kOpen)
    return At(tok_, "expected '(' to open the tree, found " + lex_.Shown(tok_));
  do {
    std::optional<Fault> fault = Item();
    if (!fault) fault = AfterItem();
    if (fault) return fault;
  } while (!open_.empty());
  return std::nullopt;
}

// Where an item must stand: opens the nodes before it, then reads its leaf.
std::optional<Fault> NewickParser::Item() {
  while (tok_.kind == Tok::kOpen) {
    const int parent = open_.empty() ? -1 : open_.back().record;
    events_.Open(parent, open_.empty() ? 0 : open_.back().children, records_);
    open_.push_back({records_++, 0, tok_.at});
    tok_ = lex_.Next();
  }
  if (tok_.kind == Tok::kBad) return At(tok_, tok_.problem);
  if (tok_.kind != Tok::kWord && tok_.kind != Tok::kQuoted)
    return At(tok_, std::string("expected ") + (nexus() ? "a leaf" : "a leaf number") +
                        " or '(', found " + lex_.Shown(tok_));
  OpenNode& node = open_.back();
  std::string problem = events_.Leaf(node.record, node.children, tok_);
  if (!problem.empty()) return At(tok_, std::move(problem));
  node.children++;
  tok_ = lex_.Next();
  return std::nullopt;
}

// After an item: its optional length, then "," before the next item, or
// ")" closing its node, which is an item of the node around it in turn
// (with a label and a length in kNexus, the root's length read and
// ignored).
// Returns at the "," or after the root.
std::optional<Fault> NewickParser::AfterItem() {
  while (true) {
    const OpenNode node = open_.back();
    if (tok_.kind == Tok::kColon) {
      if (std::optional<Fault> fault = Length(node.record, node.children - 1)) return fault;
    }
    if (tok_.kind == Tok::kEnd)
      return At(tok_, std::string("unexpected end of ") + (nexus() ? "text" : "tree string") +
                          " (unbalanced parentheses)");
    if (tok_.kind == Tok::kBad) return At(tok_, tok_.problem);
    if (tok_.kind == Tok::kComma) {
      if (binary_ && node.children > 1) return At(tok_, NotBinary("more than two children"));
      tok_ = lex_.Next();
      return std::nullopt;
    }
    if (tok_.kind != Tok::kClose)
      return At(tok_, "expected ',', ')' or ':', found " + lex_.Shown(tok_));
    if (binary_ && node.children < 2) return At(tok_, NotBinary("only one child"));
    std::string problem = events_.Close(node.record, node.children, node.open_at);
    if (!problem.empty()) return At(tok_, std::move(problem));
    open_.pop_back();
    tok_ = lex_.Next();
    if (nexus() && (tok_.kind == Tok::kWord || tok_.kind == Tok::kQuoted)) {
      events_.Label(node.record, tok_);
      tok_ = lex_.Next();
    }
    if (open_.empty()) {
      if (nexus() && tok_.kind == Tok::kColon) return Length(-1, 0);
      return std::nullopt;
    }
    open_.back().children++;
  }
}

// At a ":": reads the length of child `slot` of record `parent`, then the
// next token.
std::optional<Fault> NewickParser::Length(int parent, int slot) {
  const Token run = lex_.LengthText();
  if (run.kind == Tok::kBad) return At(run, run.problem);
  if (run.kind != Tok::kWord || run.at == run.end)
    return At(run, run.kind == Tok::kOther && (lex_.Raw(run) == "-" || lex_.Raw(run) == "+")
                       ? "signed branch length"
                       : "empty branch length");
  const std::optional<double> value = LengthValue(lex_.Raw(run), lex_.dialect());
  if (!value) return At(run, "malformed branch length \"" + std::string(lex_.Raw(run)) + "\"");
  if (parent >= 0) events_.Length(parent, slot, *value);
  tok_ = lex_.Next();
  return std::nullopt;
}

std::string NewickParser::NotBinary(const char* what) const {
  return std::string("a node with ") + what + (nexus() ? ": lopper cuts binary trees" : "");
}

}  // namespace

std::optional<Fault> ParseNewick(Lexer& lex, bool binary, TreeEvents& events, Token& after) {
  NewickParser parser(lex, binary, events);
  std::optional<Fault> fault = parser.Run();
  after = parser.token();
  return fault;
}

}  // namespace lopper
