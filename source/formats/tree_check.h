// The check every tree writer makes before writing.
#ifndef LOPPER_FORMATS_TREE_CHECK_H
#define LOPPER_FORMATS_TREE_CHECK_H

#include <lopper/cluster.h>

namespace lopper::formats_detail {

// True when tree (may be null) holds nelements-1 records, nelements >= 2,
// whose references are elements 0 ... nelements-1 and earlier records, each
// used once, with finite heights: then every element and non-root record is
// a child exactly once and the last record is the root.
bool IsClusterTree(int nelements, const Node* tree);

}  // namespace lopper::formats_detail

#endif
