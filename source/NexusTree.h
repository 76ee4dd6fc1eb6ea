// Nexus tree files: reading the element names and the tree string, parsing
// the tree string into tree records and checking it, and writing a tree.
#ifndef LOPPER_NEXUSTREE_H
#define LOPPER_NEXUSTREE_H

#include <lopper/cluster.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace lopper {

// Which tree of a file that holds several: the one named `name`, or the
// one at 1-based position `index`; with neither (name empty, index 0) the
// last one of a Nexus file, the first one of a Newick file.
struct TreeChoice {
  std::string name;
  int index = 0;
};

// A tree as read from a Nexus or Newick file.
struct TreeRead {
  std::vector<std::string> names;  // names[e]: the name of element e
  // names.size() - 1 records, children before parents, the root last. A
  // node of the file with k > 2 children c1 ... ck (in file order) is k-1
  // records, ((c1,c2),c3)...,ck: each record's left child is the record
  // below it in the node, its right child the next of the node's children,
  // the top record (holding ck) last. The nodes go in the order lopper has
  // always given them, the reverse of their opening parentheses, a node's
  // records from the innermost up. left is a record's first child, right
  // its second; distance is the length given after the second child, else
  // after the first, else 0.
  std::vector<Node> nodes;
  // lengths[r]: the lengths given after record r's left and right child;
  // NaN where none is given; 0 for the left child of a record above a
  // joined one (no branch of the file).
  std::vector<std::array<double, 2>> lengths;
  // support[r]: the label after the ")" of record r's node, read as a
  // number when it is one ("95", "0.87", "1e2", also in quotes), else NaN;
  // NaN for all but a node's top record.
  std::vector<double> support;
  // joined[r] nonzero: record r and its parent are records of one node of
  // the file, the branch between them none of the file's. All zero for a
  // binary tree.
  std::vector<char> joined;
  // Empty for a binary tree; else the first node (by its "(") of more than
  // two children: "t.nex: line 7, character 12: a node of 3 children".
  std::string polytomy;
  std::string tree_name;  // as the file names it; empty for Newick
};

// What reading gives: the tree, or else the reason in one line, starting
// with the source and the place ("t.nex: line 7, character 12: ...").
struct TreeReadResult {
  std::optional<TreeRead> tree;
  std::string error;
};

// Reads one tree from a Nexus file (a TREES block with an optional
// TRANSLATE table) or a plain Newick file, as R ape, DendroPy and lopper
// write them: keywords in any case, [...] comments anywhere, quoted names,
// line breaks between any tokens, leaves by TRANSLATE number or by name,
// lengths with sign and exponent, internal labels (support where they are
// numbers). Leaves are the elements: by TRANSLATE number L (element L-1)
// when the file has such a table, otherwise in the order of the tree. Nodes
// of more than two children are read (see TreeRead); a node of one child
// is an error. Linear in the size of the text; no recursion.
TreeReadResult ReadNexusTree(const std::string& path, const TreeChoice& choice = {});
// The same from text in memory; `source` names it in messages.
TreeReadResult ParseNexusTree(const std::string& text, const std::string& source,
                              const TreeChoice& choice = {});

// One entry of a TRANSLATE table: the leaf number it gives, the element
// name (unquoted) and the file line it stands on (from 1).
struct TranslateEntry {
  long long number;  // beyond int range stays out of range, never wraps
  std::string name;
  long line;
};

// Reads the Nexus file NexusFileName line by line (CR LF or LF line ends).
// The entries of every TRANSLATE table are appended to Entries in file
// order. An entry is a line of blanks, a number, blanks and the name; a
// name in single quotes is unquoted ('' for a quote inside); a ";" after
// the name ends the table, as does a line of another form. Nexus is set to
// the tree string of the last line containing "TREE": the text from the "("
// after the line's last "=" followed by blanks and "(", to before its final
// ";", where the line has that form, otherwise the whole line. Returns false
// when the file cannot be opened or a read fails (Nexus then holds what was
// read, if anything).
bool NexusFileIn(std::vector<TranslateEntry>& Entries, const std::string& NexusFileName,
                 std::string& Nexus);

// Names the leaves 1 ... nleaves from Entries: NodeNames[L-1] receives the
// name of the entry numbered L. Returns "" when the entry numbers are
// exactly 1 ... nleaves once each; otherwise the problem, starting with the
// line it is tied to ("line 9: ..."), and NodeNames is left empty.
std::string LeafNames(const std::vector<TranslateEntry>& Entries, int nleaves,
                      std::vector<std::string>& NodeNames);

// The same file reading, for callers that want names only: the names are
// appended to NodeNames by entry number when the numbers are 1 ... n for n
// entries (in any order), otherwise in file order.
bool NexusFileIn(std::vector<std::string>& NodeNames, const std::string& NexusFileName,
                 std::string& Nexus);

// Parses the tree string: the internal node of the k-th "(" becomes record
// k-1 (the root is record 0, every record's internal children come after
// it), leaf number L becomes element L-1, a branch length goes to the
// distance of the node whose child it follows (a later one replacing an
// earlier one). nrows receives the number of leaves. The caller provides
// room for as many records as the string has "(". Valid input is what
// NexusTreeCheck accepts; other strings never write outside those records
// but give undefined trees.
void NexusTreeIn(const std::string& Nexus, Node* treenodes, int& nrows);
// The same, into the pair form: results[k] = {left, right}, distance[k].
void NexusTreeIn(const std::string& Nexus, int (*results)[2], double* distance, int& nrows);

// Checks that Nexus is a tree the parser reads soundly: nested nodes of
// exactly two children each, leaf numbers that are exactly 1 ... n once
// each, optional unsigned decimal branch lengths, blanks only between
// tokens, nothing after the outermost ")". Returns "" and sets nrows to n
// when it is; otherwise a one-line description that starts with the
// character position ("character 7: ...", counted from 1) where the fault
// is tied to one.
std::string NexusTreeCheck(const std::string& Nexus, int& nrows);

// Turns the parser's record order (root first) into the shared order (root
// last) in place: the array is reversed and every internal reference
// renumbered. treenodes holds nrows-1 records.
void ReorderTree(Node* treenodes, int nrows);

// Writes a tree over nrows elements with its element names (ListEle[e]
// names element e) as a Nexus tree file that NexusFileIn reads back: a
// TRANSLATE table numbering the elements from 1 and one TREE line. Element e
// is written as e+1, each child is followed by ":" and 100 x the distance of
// the record joining it to its sibling (three decimals, never an exponent;
// a value that rounds to zero is written 0.000, without a sign),
// except an internal child that follows its parent or another ancestor in
// the array: with records in parents-first order no internal child carries
// a length.
// The tree is nrows-1 records, either Node records or the pair form
// (result[k] = {left, right}, linkdist[k]), with the references of Node.
// The file overloads name the tree after OutName and write through a
// temporary file renamed into place (a path that is not a regular file is
// written directly); the others write to standard output, naming it "USER".
// Returns true when everything was written and closed cleanly. Returns false,
// writing nothing, when the records are not one tree over 0 ... nrows-1
// (nrows < 2, a reference out of range, an element or record used twice, a
// cycle) or ListEle names fewer than nrows elements; false also when the
// file cannot be written, leaving an existing file as it was.
bool NexusTreeOut(int nrows, const int (*result)[2], const double* linkdist,
                  const std::string& OutName, const std::vector<std::string>& ListEle);
bool NexusTreeOut(int nrows, const int (*result)[2], const double* linkdist,
                  const std::vector<std::string>& ListEle);
bool NexusTreeOut(int nrows, const Node* nodes, const std::string& OutName,
                  const std::vector<std::string>& ListEle);
bool NexusTreeOut(int nrows, const Node* nodes, const std::vector<std::string>& ListEle);

}  // namespace lopper

#endif
