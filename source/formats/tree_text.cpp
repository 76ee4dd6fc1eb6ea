// Newick and Nexus: the tree as nested parentheses with edge lengths.
#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

#include "formats.h"
#include "tree_check.h"

namespace lopper {

namespace {

using formats_detail::IsClusterTree;

// Characters that end or change an unquoted Newick label: Newick's own, the
// underscore (readers turn an unquoted one into a blank) and those that
// DendroPy's Newick reader refuses unquoted (= { } " \).
constexpr const char* kNewickSpecial = " \t\n\r\v\f()[]':;,_={}\"\\";
// Nexus punctuation and white space, and the underscore as in Newick.
constexpr const char* kNexusSpecial = " \t\n\r\v\f()[]{}/\\,;:=*'\"`+-<>_";

// name: any text; special: the characters that force quotes. An empty
// name is quoted too, so that it still stands as a label.
std::string Label(const std::string& name, const char* special) {
  if (!name.empty() && name.find_first_of(special) == std::string::npos) return name;
  std::string quoted = "'";
  for (const char ch : name) {
    if (ch == '\'') quoted += '\'';
    quoted += ch;
  }
  return quoted + "'";
}

// Room for any double in fixed notation: 309 integer digits at most, or
// "0." and 323 zeros before 17 significant digits.
constexpr std::size_t kFixedRoom = 400;

// x: finite. The shortest fixed-notation decimal that reads back as x; a
// zero of either sign is "0", as lopper's reader refuses a sign.
std::string ShortestFixed(double x) {
  if (x == 0) return "0";
  char text[kFixedRoom];
  const auto end = std::to_chars(text, text + kFixedRoom, x, std::chars_format::fixed).ptr;
  return std::string(text, end);
}

// x: finite. x in fixed notation with 17 significant digits (enough for any
// double to read back unchanged); zero as in ShortestFixed.
std::string Fixed17(double x) {
  if (x == 0) return "0";
  char text[kFixedRoom];
  // The decimal exponent after rounding to 17 digits, from the scientific form.
  char* end = std::to_chars(text, text + kFixedRoom, x, std::chars_format::scientific, 16).ptr;
  const char* digits = std::find(text, end, 'e') + 1;
  if (*digits == '+') digits++;  // from_chars takes only a minus
  int exponent = 0;
  std::from_chars(digits, end, exponent);
  const int decimals = exponent >= 16 ? 0 : 16 - exponent;
  end = std::to_chars(text, text + kFixedRoom, x, std::chars_format::fixed, decimals).ptr;
  return std::string(text, end);
}

// Writes the nested parentheses of a checked tree (IsClusterTree): each
// element by write_leaf(out, e), each record's closing parenthesis followed
// by inner_labels[record] (when given: labels written as they stand), each child
// by ":" and length(parent height - child height), the root without a length. The
// walk keeps its own stack, as a chain-shaped tree is as deep as it is
// large.
template <class LeafWriter, class LengthFormat>
void WriteNested(std::ostream& out, int nelements, const Node* tree,
                 const std::vector<std::string>& inner_labels, LeafWriter write_leaf,
                 LengthFormat length) {
  enum class Token { kSubtree, kComma, kClose };
  struct Step {
    Token token;
    int ref;     // the subtree, or the record kClose closes
    int parent;  // record index of ref's parent; -1 for the root
  };
  const auto write_length = [&](int ref, int parent) {
    if (parent < 0) return;
    const double child_height = ref >= 0 ? 0.0 : tree[-ref - 1].distance;
    out << ':' << length(tree[parent].distance - child_height);
  };
  std::vector<Step> stack{{Token::kSubtree, -(nelements - 1), -1}};
  while (!stack.empty()) {
    const Step step = stack.back();
    stack.pop_back();
    if (step.token == Token::kComma) {
      out << ',';
    } else if (step.token == Token::kClose) {
      out << ')';
      if (!inner_labels.empty()) out << inner_labels[-step.ref - 1];
      write_length(step.ref, step.parent);
    } else if (step.ref >= 0) {
      write_leaf(out, step.ref);
      write_length(step.ref, step.parent);
    } else {
      const int record = -step.ref - 1;
      out << '(';
      stack.push_back({Token::kClose, step.ref, step.parent});
      stack.push_back({Token::kSubtree, tree[record].right, record});
      stack.push_back({Token::kComma, 0, -1});
      stack.push_back({Token::kSubtree, tree[record].left, record});
    }
  }
}

// The checks shared by the Newick and Nexus writers.
bool CanWriteTree(int nelements, const Node* tree, const std::vector<std::string>& names) {
  return IsClusterTree(nelements, tree) && names.size() == static_cast<std::size_t>(nelements) &&
         FirstUnwritableName(names) == names.size();
}

// None, or one writable label per record.
bool CanLabelRecords(int nelements, const std::vector<std::string>& labels) {
  return labels.empty() || (labels.size() + 1 == static_cast<std::size_t>(nelements) &&
                            FirstUnwritableName(labels) == labels.size());
}

// Each non-empty label as the format quotes a name.
std::vector<std::string> Quoted(const std::vector<std::string>& labels,
                                std::string (*quote)(const std::string&)) {
  std::vector<std::string> quoted;
  quoted.reserve(labels.size());
  for (const std::string& label : labels) quoted.push_back(label.empty() ? label : quote(label));
  return quoted;
}

}  // namespace

std::string NewickLabel(const std::string& name) { return Label(name, kNewickSpecial); }

std::string NexusLabel(const std::string& name) { return Label(name, kNexusSpecial); }

bool WriteNewick(std::ostream& out, int nelements, const Node* tree,
                 const std::vector<std::string>& names,
                 const std::vector<std::string>& inner_labels) {
  if (!CanWriteTree(nelements, tree, names) || !CanLabelRecords(nelements, inner_labels))
    return false;
  WriteNested(
      out, nelements, tree, Quoted(inner_labels, NewickLabel),
      [&names](std::ostream& o, int element) { o << NewickLabel(names[element]); }, ShortestFixed);
  out << ";\n";
  return true;
}

bool WriteNexus(std::ostream& out, int nelements, const Node* tree,
                const std::vector<std::string>& names, const std::string& treename,
                const std::vector<std::string>& inner_labels) {
  if (!CanWriteTree(nelements, tree, names) || !IsWritableName(treename) ||
      !CanLabelRecords(nelements, inner_labels))
    return false;
  out << "#NEXUS\nBEGIN TREES;\n\tTRANSLATE\n";
  for (int e = 0; e < nelements; e++)
    out << "\t\t" << e + 1 << '\t' << NexusLabel(names[e]) << (e + 1 < nelements ? ",\n" : "\n");
  out << "\t\t;\n\tTREE " << NexusLabel(treename) << " = ";
  WriteNested(
      out, nelements, tree, Quoted(inner_labels, NexusLabel),
      [](std::ostream& o, int element) { o << element + 1; }, Fixed17);
  out << ";\nEND;\n";
  return true;
}

}  // namespace lopper
