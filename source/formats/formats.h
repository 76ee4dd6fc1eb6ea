// Output formats for a clustering: the clusters of several cuts as a
// tab-separated table, and the tree as Newick, Nexus and a SciPy linkage
// matrix. Every writer writes to a stream the caller owns and opens (a
// SafeOutFile for an atomic file); a failing stream is left for the caller
// to detect, as SafeOutFile::commit does. A writer given arguments it
// cannot write returns false before writing anything.
//
// Trees are those of treecluster (<lopper/cluster.h>): nelements-1 Node
// records, children before parents, the root last, heights in `distance`.
// Element names are indexed by element number.
#ifndef LOPPER_FORMATS_H
#define LOPPER_FORMATS_H

#include <lopper/cluster.h>

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace lopper {

// A name every output can hold: no tab, line feed or carriage return, as
// the table's cells and the Nexus and Newick readers are line-based (a
// carriage return reads as the end of a CR LF line).
bool IsWritableName(const std::string& name);

// Index of the first name that IsWritableName refuses; names.size() when
// there is none. For a caller that reports the name before writing.
std::size_t FirstUnwritableName(const std::vector<std::string>& names);

// clusterid: one cluster id per element, in any numbering. Returns the same
// partition numbered from 1 in the order of each cluster's first element
// (R's cutree numbering).
std::vector<int> NumberClustersByFirstElement(const std::vector<int>& clusterid);

// One column of the clusters table: its header (e.g. "k=3") and one
// cluster id per element, in any numbering, renumbered on writing; or, with
// renumber false, numbers written as they are (a map cell's coordinate).
struct ClusterColumn {
  std::string label;
  std::vector<int> clusterid;
  bool renumber = true;
};

// The clusters table: a header line (name_header, or "name" when it is
// empty or not writable, then the labels), then one line per element in
// element order, its name and its cluster in each column (numbered by
// NumberClustersByFirstElement unless the column says not); tab-separated,
// LF line ends. False when a column's length differs from names.size() or
// a name or label is not writable.
bool WriteClustersTsv(std::ostream& out, const std::vector<std::string>& names,
                      const std::vector<ClusterColumn>& columns,
                      const std::string& name_header = "name");

// The tree in Newick, one line ending in ";": every edge carries the
// parent's height minus the child's (a leaf's height is 0) in the shortest
// decimal that reads back as the same double, without exponent. Names are
// bare when Newick readers keep them as they are, otherwise single-quoted.
// inner_labels, when given, holds one label per record (empty: none),
// written after the record's closing parenthesis, as support values are.
// False when nelements < 2, tree is not such a tree (references out of
// range, to a later record or used twice; a height that is not finite),
// names.size() differs from nelements, a name is not writable, or
// inner_labels is neither empty nor a writable label per record.
bool WriteNewick(std::ostream& out, int nelements, const Node* tree,
                 const std::vector<std::string>& names,
                 const std::vector<std::string>& inner_labels = {});

// The tree as a Nexus TREES block that lopper's reader, ape and DendroPy
// read: a TRANSLATE table numbering element e as e+1 and one TREE named
// treename whose leaves are those numbers. Edge lengths as in WriteNewick
// but with 17 significant digits in fixed notation; an inversion (a
// parent lower than its child, as centroid linkage gives) is a negative
// length. False as for WriteNewick, and when treename is not writable.
bool WriteNexus(std::ostream& out, int nelements, const Node* tree,
                const std::vector<std::string>& names, const std::string& treename,
                const std::vector<std::string>& inner_labels = {});

// How WriteLinkage orders a record's two children: the smaller id first,
// as SciPy's linkage does, or left before right, as its
// optimal_leaf_ordering leaves them (the order the leaves are drawn in).
enum class ChildOrder { kSmallerFirst, kLeftFirst };

// The tree as SciPy's linkage matrix Z, one tab-separated line per record
// in record order: the ids of its children (element e is e, record i is
// nelements+i) in `order`, its height (shortest round-trip decimal) and the
// number of elements under it. False when the tree is not one, as for
// WriteNewick.
bool WriteLinkage(std::ostream& out, int nelements, const Node* tree,
                  ChildOrder order = ChildOrder::kSmallerFirst);

// Rows of cells, tab-separated, one line each. False, before writing, when
// a cell is not writable (IsWritableName).
bool WriteTsv(std::ostream& out, const std::vector<std::vector<std::string>>& rows);

// x (finite): the shortest decimal that reads back as x, with an exponent
// where that is shorter, as numpy.loadtxt and strtod read it.
std::string ShortestDecimal(double x);

// A name as a Newick or Nexus label: the name itself when the format's
// readers take it bare, otherwise in single quotes with '' for a quote.
std::string NewickLabel(const std::string& name);
std::string NexusLabel(const std::string& name);

}  // namespace lopper

#endif
