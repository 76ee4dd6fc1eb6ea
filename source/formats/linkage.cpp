// SciPy's linkage matrix.
#include <algorithm>
#include <charconv>
#include <string>
#include <utility>
#include <vector>

#include "formats.h"
#include "tree_check.h"

namespace lopper {

std::string ShortestDecimal(double x) {
  char text[32];  // the longest shortest form, "-2.2250738585072014e-308", fits
  const auto end = std::to_chars(text, text + sizeof text, x).ptr;
  return std::string(text, end);
}

bool WriteLinkage(std::ostream& out, int nelements, const Node* tree, ChildOrder order) {
  if (!formats_detail::IsClusterTree(nelements, tree)) return false;
  const int nrecords = nelements - 1;
  std::vector<int> size(static_cast<std::size_t>(nrecords));
  const auto id = [nelements](int ref) { return ref >= 0 ? ref : nelements + (-ref - 1); };
  const auto size_of = [&size](int ref) { return ref >= 0 ? 1 : size[-ref - 1]; };
  for (int i = 0; i < nrecords; i++) {
    const Node& r = tree[i];
    size[i] = size_of(r.left) + size_of(r.right);
    int first = id(r.left);
    int second = id(r.right);
    if (order == ChildOrder::kSmallerFirst && first > second) std::swap(first, second);
    out << first << '\t' << second << '\t' << ShortestDecimal(r.distance) << '\t' << size[i]
        << '\n';
  }
  return true;
}

}  // namespace lopper
