// Cutting a phylogenetic tree into the fewest clusters whose leaves satisfy
// a threshold (cuttree_clade).
#include "cluster_internal.h"
