#include "dendrogram.h"

#include <algorithm>

#include "svg_text.h"
#include "tree_check.h"

namespace lopper::picture_detail {

std::vector<int> LeafOrder(int nelements, const Node* tree) {
  return formats_detail::LeavesUnder(tree, -(nelements - 1));
}

void WriteDendrogram(std::ostream& out, const char* id, int nelements, const Node* tree,
                     const std::vector<double>& leaf_position, const TreeFrame& frame,
                     const std::vector<std::string>& labels, double font_size) {
  const int nrecords = nelements - 1;
  double lowest = 0, highest = 0;
  for (int i = 0; i < nrecords; i++) {
    lowest = std::min(lowest, tree[i].distance);
    highest = std::max(highest, tree[i].distance);
  }
  const double span = highest > lowest ? highest - lowest : 1.0;
  const double scale = (frame.root_edge - frame.leaf_edge) / span;
  const auto across = [&](double height) { return frame.leaf_edge + (height - lowest) * scale; };
  const auto point = [&](char command, double position, double height) {
    const double x = frame.rows ? across(height) : position;
    const double y = frame.rows ? position : across(height);
    out << command << Number(x) << ' ' << Number(y);
  };
  // Children come before parents, so one pass in record order places every
  // record after its children.
  std::vector<double> record_position(static_cast<std::size_t>(nrecords));
  const auto position = [&](int ref) {
    return ref >= 0 ? leaf_position[ref] : record_position[-ref - 1];
  };
  const auto height = [&](int ref) { return ref >= 0 ? 0.0 : tree[-ref - 1].distance; };
  out << "<path id=\"" << id << "\" fill=\"none\" stroke=\"#333\" stroke-width=\"1\" d=\"";
  for (int i = 0; i < nrecords; i++) {
    const Node& node = tree[i];
    point('M', position(node.left), height(node.left));
    point('L', position(node.left), node.distance);
    point('L', position(node.right), node.distance);
    point('L', position(node.right), height(node.right));
    record_position[i] = (position(node.left) + position(node.right)) / 2;
  }
  out << "\"/>\n";
  if (labels.empty()) return;
  // Above the junction's line, towards the root: clear of the branches below.
  out << "<g id=\"" << id << "-labels\" font-size=\"" << Number(font_size)
      << "\" fill=\"#b00\" text-anchor=\"end\">\n";
  for (int i = 0; i < nrecords; i++) {
    if (labels[i].empty()) continue;
    const double x = frame.rows ? across(tree[i].distance) - 1 : record_position[i];
    const double y = frame.rows ? record_position[i] - 1 : across(tree[i].distance) - 1;
    out << "<text x=\"" << Number(x) << "\" y=\"" << Number(y) << "\">";
    WriteEscaped(out, labels[i]);
    out << "</text>\n";
  }
  out << "</g>\n";
}

}  // namespace lopper::picture_detail
