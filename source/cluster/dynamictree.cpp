// The dynamic tree cut by the shape of the tree alone (cuttree_dynamic).
#include "cluster_internal.h"
