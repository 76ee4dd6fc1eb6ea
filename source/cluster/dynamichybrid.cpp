// The hybrid dynamic tree cut, by the tree and the distances
// (cuttree_hybrid).
#include "cluster_internal.h"
