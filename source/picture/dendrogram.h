// Dendrograms: the leaf order of a tree and its drawing as one SVG path,
// both without recursion (a chain of 20,000 leaves is as easy as a
// balanced tree). Trees are treecluster's, already checked.
#ifndef LOPPER_PICTURE_DENDROGRAM_H
#define LOPPER_PICTURE_DENDROGRAM_H

#include <lopper/cluster.h>

#include <ostream>
#include <string>
#include <vector>

namespace lopper::picture_detail {

// tree: nelements-1 records, nelements >= 2. The elements from the root's
// left side to its right, each left subtree before its right one.
std::vector<int> LeafOrder(int nelements, const Node* tree);

// Where a tree is drawn: leaves at leaf_edge and the highest height at
// root_edge (x for a row tree, whose leaves are rows, y for a column tree),
// heights scaled linearly from min(0, lowest) to the highest between them.
struct TreeFrame {
  bool rows;
  double leaf_edge;
  double root_edge;
};

// Writes the tree as <path id="id">, one subpath per record: from the left
// child up to the record's height, across, and down to the right child.
// leaf_position[e]: centre of element e's row (column) across the frame;
// a record sits midway between its children. labels, when given, holds one
// text per record (empty: none), written as <g id="id-labels"> of <text>
// beside each record's junction, font_size pixels high.
void WriteDendrogram(std::ostream& out, const char* id, int nelements, const Node* tree,
                     const std::vector<double>& leaf_position, const TreeFrame& frame,
                     const std::vector<std::string>& labels = {}, double font_size = 9);

}  // namespace lopper::picture_detail

#endif
