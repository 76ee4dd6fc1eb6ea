// lopper clustering library: public interface.
//
// Conventions shared by every routine:
//  - Elements are numbered 0 ... nelements-1; cluster numbers are 0-based.
//  - Arrays a routine returns are the caller's, to be released with free().
//  - Failure is reported through the result or an out-parameter, never by a
//    message or an exception.
#ifndef LOPPER_CLUSTER_H
#define LOPPER_CLUSTER_H

namespace lopper {

// One internal node of a binary clustering tree over n elements; a tree is
// an array of n-1 records. A reference r >= 0 is element r; r < 0 is record
// -r-1 of the same array. Every record refers only to records before it, so
// the last record is the root, and every element and every non-root record
// is a child exactly once.
struct Node {
  int left;
  int right;
  double distance;  // height at which the two subtrees join
};

// Cuts `tree` (nelements-1 records, children before parents) into nclusters
// clusters by undoing its nclusters-1 highest records; distances play no
// part. clusterid (nelements ints, caller's) receives each element's cluster
// number. Numbering: first the elements hanging directly from undone
// records, root downward, left before right; then one number per remaining
// cluster, in descending order of its top record.
// Failure: nclusters outside 1 ... nelements, or no scratch memory: every
// entry of clusterid is -1. `tree` is only read.
void cuttree(int nelements, const Node* tree, int nclusters, int* clusterid);

}  // namespace lopper

#endif
