// lopper clustering library: public interface.
//
// Conventions shared by every routine:
//  - Elements are numbered 0 ... nelements-1; cluster numbers are 0-based.
//  - Arrays a routine returns are the caller's, to be released with free().
//  - Failure is reported through the result or an out-parameter, never by a
//    message or an exception. Negative sizes, and null arrays that a routine
//    would read, are bad arguments with the routine's failure result; no
//    result is ever computed from storage that could not be had.
//
// How each routine reports failure, and what its outputs hold then:
//
//   routine              failure reported by          outputs then
//   mean, median, sort   cannot fail                  -
//   distancematrix       null                         no storage kept
//   calculate_weights    null                         no storage kept
//   clusterdistance      -1.0 bad arguments or        nothing written (only reads)
//                        short memory; -2.0 method
//   treecluster          null                         no storage kept; distmatrix as it was,
//                                                     except after a centroid distance measured
//                                                     during the merges was not finite: working
//                                                     values then
//   treeclusterdata      null                         no storage kept
//   istree               0 not a tree, -1 short memory
//   cuttree              every clusterid entry -1     -; nothing written when nelements < 1
//                                                     or clusterid is null
//   cuttree_height,      -1, every clusterid entry -1 as cuttree
//   cuttree_inconsistent,
//   cuttree_dynamic, cuttree_hybrid, cuttree_clade
//   dropsmallclusters    -1                           clusterid as it was
//   inconsistent         0                            stats as they were
//   optimalleaforder     0                            tree as it was
//   silhouette           -2.0 bad arguments or        nothing written (only reads)
//                        short memory
//   multiscalefit        -1 bad arguments or short    *support as it was
//                        memory
//   kcluster,            *ifound 0 bad arguments,     clusterid and *error as they were;
//   kclusterplusplus,    -1 short memory              nothing written when ifound is null
//   kmedoids
//   kmeansplusplus       0 bad arguments, -1 short    clusterid as it was, no number drawn
//                        memory
//   getclustercentroids  0                            cdata and cmask as they were
//   getclustermedoids    cannot fail                  an empty cluster's centroids entry as
//                                                     it was, its errors entry DBL_MAX
//   somcluster           every clusterid entry        celldata as it was; clusterid null:
//                        {-1, -1}                     no sign at all
//   svd                  *ierr -1 short memory,       u, w and v as they were
//                        -2 bad sizes
//                        *ierr k >= 1: no             u, w and v hold the decomposition,
//                        convergence for value k      value k unconverged
//   bootstrapcounts      -1                           counts and effective_scales as they were
//   consensuscounts      -1                           counts as they were
//   consensusmatrix,     0                            -
//   clusterconsensus     0                            outputs as they were
//   consensuscdf         -1.0                         -
//   consensusclusters    -1, every clusterid entry -1 as cuttree
//   consensusdelta       cannot fail                  -
//   setrandomseed,       cannot fail                  -
//   getrandomseed, setprogress,
//   setthreads, getthreads
#ifndef LOPPER_CLUSTER_H
#define LOPPER_CLUSTER_H

namespace lopper {

// Data matrices: `data` is nrows row pointers of ncolumns doubles, `mask` the
// same shape in ints (0: the value is missing and ignored). With transpose 0
// the elements are the rows, otherwise the columns; `nelements` and `ndata`
// (values per element) follow from that, and `weight` has ndata entries.
// Matrices are only read; a caller's double** and int** are accepted as is.

// Threads: every routine may run in several threads at once, as long as no
// two calls at once share an array or matrix that one of them writes (an
// output, or a matrix a routine overwrites, such as the distmatrix of
// treecluster other than 's'); input only read may be shared. Each thread
// has its own random generator (see setrandomseed).

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

// Arithmetic mean of x[0 ... n-1], summed in index order; 0.0 when n < 1.
double mean(int n, const double x[]);

// Median of x[0 ... n-1] by partial selection in place: x is left reordered
// (same values) unless n <= 2. The mean of the two middle values for even n;
// 0.0 when n < 1.
double median(int n, double x[]);

// Fills index with 0 ... n-1 ordered so that data[index[k]] ascends; equal
// values keep ascending index order, NaN sorts last. data is only read.
void sort(int n, const double data[], int index[]);

// Distance codes `dist`: 'e' mean squared difference and 'b' mean absolute
// difference (weighted means over the dimensions present in both), 'c' 1 -
// Pearson correlation, 'a' 1 - |Pearson|, 'u' 1 - uncentred correlation,
// 'x' 1 - |uncentred|, 's' 1 - Spearman, 'k' 1 - Kendall's tau; and, as R's
// dist() and SciPy's pdist() measure: 'E' Euclidean, the square root of 'Q';
// 'Q' squared Euclidean, sum w (x - y)^2; 'B' city block (Manhattan), sum w
// |x - y|; 'M' maximum (Chebyshev), the largest |x - y| over the dimensions
// of positive weight; 'C' Canberra, sum w |x - y| / (|x| + |y|), a term
// 0/0 counting as missing. The sums of 'E', 'Q', 'B' and 'C' over the dimensions
// present in both are scaled by (sum of all weights) / (sum of the weights
// present), R's rule for missing values (a factor of exactly 1 when none is
// missing). Any other character means 'e'. Dimensions missing in either
// element take no part; a pair with none in common is at distance 0. A value
// present in both elements that is not finite (NaN, infinite) makes their
// distance NaN under every measure.

// Lower-triangular matrix of the distances between all elements: row 0 is
// null, row i (1 ... nelements-1) holds the i distances to elements 0 ... i-1.
// The caller frees rows 1 ... nelements-1, then the row array. Null when
// nelements < 2, for bad arguments, or when memory is short.
double** distancematrix(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                        const double weights[], char dist, int transpose);

// One weight per element: 1 / (1 + sum over the other elements j closer than
// cutoff of (1 - d(i,j)/cutoff)^exponent). A new array of nelements doubles
// (caller frees), or null for bad arguments or when memory is short.
double* calculate_weights(int nrows, int ncolumns, const double* const* data,
                          const int* const* mask, const double weights[], int transpose, char dist,
                          double cutoff, double exponent);

// Distance between the groups index1[0 ... n1-1] and index2[0 ... n2-1] by
// `method`: 'a' between the group means, 'm' between the group medians (per
// dimension, over present values), 's' shortest, 'x' longest, 'v' mean of the
// n1*n2 member distances (NaN when a member distance is NaN). Returns -1.0
// for bad arguments (n1 or n2 < 1, an index outside 0 ... nelements-1) or
// when memory is short; -2.0 for another method.
double clusterdistance(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                       const double weight[], int n1, int n2, const int index1[],
                       const int index2[], char dist, char method, int transpose);

// Agglomerative hierarchical clustering of the elements by `method`: 's'
// single (pairwise minimum, SLINK), 'm' maximum, 'a' average (size-weighted),
// 'c' centroid (distance between member means, recomputed with `dist`), and
// by the Lance-Williams update of the merged cluster's distances (Lance and
// Williams 1967; Mullner 2011): 'w' Ward (minimum variance: SciPy's and
// fastcluster's ward, R's ward.D2), 'q' weighted (WPGMA, R's mcquitty),
// 'd' median (WPGMC). 'w' and 'd' update the squares of the distances and
// report heights as their square roots, as those tools do; they are Ward's
// and Gower's criteria when the distances are Euclidean ('E'), and the same
// formula on any others.
// Distances come from `distmatrix` when given (lower triangle as returned by
// distancematrix), otherwise from the data with code `dist`. Every method
// but 's' overwrites a caller's matrix with working values; 's' only reads
// it. Centroid linkage always needs the data, also with a caller's matrix.
// Ties go to the pair first in the scan of the working matrix (rows, then
// columns, ascending).
// Returns nelements-1 records, children before parents (merge order for
// all but 's'; ascending distance for 's'), for the caller to free; null
// when nelements < 2, for another method or bad arguments, when a data
// value that is used and present is not finite, when a distance (the
// caller's, or one computed) is NaN or infinite, or when memory is short.
// Null before anything is written when the arguments are bad, the data is
// not finite or memory is short.
Node* treecluster(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                  const double weight[], int transpose, char dist, char method,
                  double** distmatrix);

// The tree of treecluster from the data alone, in memory of the order of
// nelements * ndata instead of a distance matrix (Mullner 2011's generic
// algorithm over the clusters' representatives; SLINK for 's'): methods 's'
// and 'c' with any `dist`, 'w' and 'd' with 'E' over complete data (every
// value present: their updates have no form in cluster means once a gap
// scales a distance). The merges are treecluster's and the heights equal
// to rounding (Ward's and the median's are measured between means here);
// where distances tie, the order of the merges may differ. Null for other
// methods or codes, gaps under 'w' or 'd', and as treecluster's null.
Node* treeclusterdata(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                      const double weight[], int transpose, char dist, char method);

// k-means ('a', or any method but 'm') or k-medians ('m') clustering into
// nclusters clusters. npass > 1: that many passes from random partitions,
// keeping the one with the smallest within-cluster sum of distances; npass
// 1 or below: one random pass; npass 0: refine the partition given in
// clusterid (numbers 0 ... nclusters-1). clusterid receives the cluster of
// each element, *error the sum of distances of the elements to their
// centroids, *ifound how many passes reached that partition (up to
// renumbering). *ifound 0: bad arguments (nclusters < 1, nelements <
// nclusters, negative sizes, null arrays, or with npass 0 a given number
// outside 0 ... nclusters-1 or a cluster left without members), nothing
// else written; -1: memory was short, nothing else written.
void kcluster(int nclusters, int nrows, int ncolumns, const double* const* data,
              const int* const* mask, const double weight[], int transpose, int npass, char method,
              char dist, int clusterid[], double* error, int* ifound);

// kcluster with each of npass passes (npass >= 1, else *ifound 0) from a
// k-means++ start (kmeansplusplus) instead of a random partition: the
// starts drawn in pass order from the calling thread's generator, the
// passes refined as kcluster refines a given partition and judged in pass
// order, so that the result does not depend on getthreads(). Outputs and
// failures as kcluster's.
void kclusterplusplus(int nclusters, int nrows, int ncolumns, const double* const* data,
                      const int* const* mask, const double weight[], int transpose, int npass,
                      char method, char dist, int clusterid[], double* error, int* ifound);

// A k-means++ starting partition for kcluster with npass 0 (Arthur and
// Vassilvitskii 2007): the first of nclusters centres is an element drawn
// uniformly, each next one an element drawn with probability proportional
// to its distance by `dist` to the nearest centre so far (for 'e', the
// squared Euclidean distance of the paper; in general its share of
// kcluster's error), the greedy way: of 2 + ln(nclusters) such draws, the
// one that leaves the smallest sum of those distances. Each element goes to the cluster of its
// nearest centre (the lower number on ties), each centre to its own, so that no cluster is empty;
// the numbers are drawn from the calling thread's generator, so setrandomseed repeats them. Returns
// 1 with clusterid (nelements ints, caller's) holding cluster numbers 0 ... nclusters-1; 0 for bad
// arguments (nclusters < 1, nelements < nclusters, negative sizes, null arrays) and -1 when memory
// is short, clusterid untouched and nothing drawn.
int kmeansplusplus(int nclusters, int nrows, int ncolumns, const double* const* data,
                   const int* const* mask, const double weight[], int transpose, char dist,
                   int clusterid[]);

// The centroid of each cluster of clusterid: means ('a') or medians ('m') of
// the present values, per dimension, into cdata/cmask (the caller's: with
// transpose 0, nclusters rows of ndata; otherwise ndata rows of nclusters).
// A dimension without values is 0.0 with mask 0. Returns 1; 0 for another
// method, bad arguments, a cluster number outside 0 ... nclusters-1, or
// short memory.
int getclustercentroids(int nclusters, int nrows, int ncolumns, const double* const* data,
                        const int* const* mask, const int clusterid[], double** cdata, int** cmask,
                        int transpose, char method);

// k-medoids on a distance matrix (lower triangle, as distancematrix gives).
// npass as for kcluster. clusterid receives, for each element, the element
// number of its cluster's medoid; *error the sum of distances to the
// medoids; *ifound as for kcluster (0 also when a given partition leaves a
// cluster number without members).
void kmedoids(int nclusters, int nelements, const double* const* distmatrix, int npass,
              int clusterid[], double* error, int* ifound);

// For each cluster j of clusterid (0 ... nclusters-1), the member with the
// smallest sum of distances to the other members (lowest number on ties)
// into centroids[j], and that sum into errors[j]. A cluster without members
// keeps its centroids entry; its errors entry is the largest double.
void getclustermedoids(int nclusters, int nelements, const double* const* distance,
                       const int clusterid[], int centroids[], double errors[]);

// Self-organising map: trains an nxgrid x nygrid grid of cell vectors
// (celldata[ix][iy][0 ... ndata-1], each kept at a root mean square of 1)
// on the elements, presented niter times in one random cyclic order with a
// learning rate falling linearly from inittau and a neighbourhood radius
// falling from the grid diagonal, then stores each element's best cell in
// clusterid[i] = {ix, iy}. celldata null: the map is trained privately and
// dropped; clusterid null: no assignment. Failure (fewer than two elements,
// a grid side below 1, niter < 0, other bad arguments, or short memory):
// every clusterid entry is {-1, -1} and celldata is left as it was.
void somcluster(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                const double weight[], int transpose, int nxgrid, int nygrid, double inittau,
                int niter, char dist, double*** celldata, int clusterid[][2]);

// Singular value decomposition A = U diag(w) V^T of the m x n matrix in u
// (m >= n >= 1), by Golub-Reinsch: u is overwritten by U (n orthonormal
// columns), w receives the n singular values (unsorted, >= 0), v (n x n) V.
// *ierr: 0 success; k >= 1 when singular value k did not converge in 30 QR
// sweeps; -1 no memory; -2 m < n, m < 1 or n < 1. With -1 or -2, u, w and v
// are untouched.
void svd(int m, int n, double** u, double w[], double** v, int* ierr);

// The generator behind every random start, one per thread: these calls act
// on the calling thread's. setrandomseed makes the thread's runs
// reproducible; seeds are taken modulo 2147483563 and 2147483399, and one
// that reduces to 0 counts as 1. A thread that draws without having called
// it is seeded at its first draw from the system's entropy source, a
// nanosecond clock and its thread id (std::rand's state is never touched).
// getrandomseed reads the thread's current state: 0 0 before the thread
// has seeded or drawn.
void setrandomseed(int seed1, int seed2);
void getrandomseed(int* seed1, int* seed2);

// Progress of the calling thread's long routines (distancematrix,
// treecluster, optimalleaforder, bootstrapcounts): while a report is set,
// it is called in that thread as work completes, with the step
// ("distances", "merging", "leaf order" or "bootstrap", in resamples), the
// units done so far and the step's total; done rises to total. It must not
// call the library. Null stops the reports; threads that set none get none.
using ProgressReport = void (*)(const char* step, long done, long total, void* context);
void setprogress(ProgressReport report, void* context);

// Threads of the long routines (distancematrix and treecluster's distances,
// single linkage's distance rows, the merges of maximum, average and
// centroid linkage, kcluster's passes): each call uses up to
// getthreads() threads, the calling thread among them, and fewer when its
// work is too small to gain or a thread cannot be started. setthreads(n),
// n >= 1, sets that number for the whole process (1: every routine runs in
// the calling thread alone); n < 1 sets the default back, one per core.
// Results never depend on it: they are the one-thread results bit for bit.
void setthreads(int n);
int getthreads();

// Whether `tree` is a tree of Node's form over nelements >= 2 elements: its
// nelements-1 records refer only to elements 0 ... nelements-1 and to
// records before their own, and every element and every record but the
// last is a child exactly once (so the last is the root, with no cycle and
// nothing left out). Heights play no part. Returns 1 when it is; 0 when it
// is not, for nelements < 2 and a null tree; -1 when memory is short (it
// needs 2 * nelements - 1 bytes). The routines here that take a tree apply
// this rule and say what they ask on top (one element with no records,
// heights that never fall). `tree` is only read.
int istree(int nelements, const Node* tree);

// Cuts `tree` (nelements-1 records, children before parents; may be null
// when nelements is 1) into nclusters clusters by undoing its nclusters-1
// highest records; distances play no part. clusterid (nelements ints, caller's) receives each
// element's cluster number. Numbering: first the elements hanging directly from undone records,
// root downward, left before right; then one number per remaining cluster, in descending order of
// its top record. Failure: nclusters outside 1 ... nelements, a tree that is not of that form
// (istree refuses it; one element needs no records), or no scratch memory: every entry of
// clusterid is -1. `tree` is only read.
void cuttree(int nelements, const Node* tree, int nclusters, int* clusterid);

// Cuts `tree` (as for cuttree) at `height`: a cluster is a largest subtree
// in which no record's distance lies above height (inversions included: a
// record below height under one above it is not a cluster), or an element
// with no such subtree. clusterid (nelements ints, caller's) receives each
// element's cluster, numbered from 0 in the order of each cluster's first
// element. Returns the number of clusters; -1, with every clusterid entry
// -1, for a height that is NaN, a tree that is not of that form, or no
// scratch memory.
int cuttree_height(int nelements, const Node* tree, double height, int* clusterid);

// SciPy's inconsistency statistics (scipy.cluster.hierarchy.inconsistent,
// after Zahn 1971) of every record of `tree` (as for cuttree, nelements >=
// 2): over the heights of the records at most `depth` (>= 1) levels down
// from record i, itself the first level, stats[i] receives their mean,
// standard deviation (n - 1 in the divisor, 0 for one height), count, and
// the inconsistency coefficient (height - mean) / deviation, 0 without
// deviation. Returns 1; 0, with stats untouched, for a tree that is not of
// cuttree's form, depth < 1, null arrays or short memory.
int inconsistent(int nelements, const Node* tree, int depth, double stats[][4]);

// Cuts `tree` (as for cuttree) where its merges are consistent, as SciPy's
// fcluster(Z, threshold, 'inconsistent', depth): a cluster is a largest
// subtree in which no record's inconsistency coefficient (see
// inconsistent) lies above threshold, or an element with no such subtree.
// Numbering, result and failures as cuttree_height's (-1 also for depth <
// 1).
int cuttree_inconsistent(int nelements, const Node* tree, double threshold, int depth,
                         int* clusterid);

// The dynamic tree cut of Langfelder, Zhang & Horvath (Bioinformatics
// 2008), as R's dynamicTreeCut::cutreeDynamic(method = "tree") gives it:
// clusters are branches of `tree` (as for cuttree; distances are the merge
// heights, never decreasing toward the root; read in the leaf order of left
// before right, hclust's) told apart by the shape of the tree alone, each of
// at least minsize elements, below cutheight (NaN, or above the highest
// merge: R's default, 99% of the highest merge). deepsplit 0 or 1 is R's
// deepSplit FALSE or TRUE (R's defaults for this method: deepsplit 0,
// minsize 20). clusterid (nelements ints, caller's) receives each element's
// cluster, numbered from 0 by size, largest first, equal sizes in leaf order
// (R's label minus one); -1 for an element in no cluster (R's 0, and R's NA
// when no branch is large enough). Where R stops with an error, on a branch
// of one element (minsize 1 with a leaf alone at the cut height, or
// deepsplit 1 and minsize 2), that branch stays whole; one element alone is
// a cluster when minsize is 1. Returns the number of
// clusters; -1, with every clusterid entry -1, for bad arguments (deepsplit
// outside 0 ... 1, minsize < 1, a tree not of cuttree's form, a height that
// is not finite or lies above its parent's) or short memory. Time linear in
// nelements for the static cut and each round of splitting.
int cuttree_dynamic(int nelements, const Node* tree, double cutheight, int deepsplit, int minsize,
                    int* clusterid);

// The hybrid dynamic tree cut of Langfelder, Zhang & Horvath
// (Bioinformatics 2008), as R's dynamicTreeCut::cutreeDynamic(method =
// "hybrid", distM = ...) gives it with its other defaults
// (pamRespectsDendro, respectSmallClusters, no medoids): clusters are
// branches of `tree` (as for cuttree; distances are the merge heights,
// never decreasing toward the root, read in record order as R reads
// hclust's merges) of at least minsize elements, judged by the tree and by
// the mean distance within their cores (distmatrix: lower triangle over
// nelements, as distancematrix gives; only read). The reference height is
// that of record round(5% of nelements-1) (at least the first); deepsplit
// 0 ... 4 sets the largest core scatter at 64, 73, 82, 91 or 95% of the way
// from it to the cut, the smallest gap at three quarters of the rest of
// that way. Merges above cutheight are not read; NaN: R's default, 99% of
// the way from the reference height to the highest merge; a cutheight
// above the highest merge is lowered to it. With pamstage nonzero, each
// element left over below a join of clusters, or each group of them
// absorbed whole though its core and gap passed, then joins the cluster below that join nearest on
// average if it is nearer than the cluster's spread (largest mean distance
// of a member to the others) or than the cutheight given (the default
// when NaN). R's defaults: deepsplit 1, minsize 20, pamstage on.
// clusterid (nelements ints, caller's) receives each element's cluster,
// numbered from 0 by size, largest first, the first formed first on equal
// sizes (R's label minus one); -1 for an element in no cluster (R's 0).
// Returns the number of clusters: 0, every entry -1, when fewer
// than minsize records lie below the cut (R's guard; so too for one
// element); -1, with every clusterid entry -1, for bad arguments
// (deepsplit outside 0 ... 4, minsize < 1, a tree not of cuttree's form or
// with a height NaN or above its parent's, a null distmatrix or row 1 ...
// nelements-1), a distance read that is not finite, or short memory. Time:
// the records, the pairs within cores, and with the PAM stage the pairs
// within clusters and between leftover elements and their candidates.
int cuttree_hybrid(int nelements, const Node* tree, const double* const* distmatrix,
                   double cutheight, int deepsplit, int minsize, int pamstage, int* clusterid);

// The clade cuts of phylogenetics (after Balaban et al., TreeCluster,
// 2019): the fewest clusters such that each is a clade (the leaves below
// one node of the tree, or one leaf) whose leaves satisfy `threshold` under
// `rule`:
//   'm'  max: the largest distance between two of its leaves along the tree
//   'a'  avg: the mean distance between pairs of its leaves
//   's'  sum: the total length of the branches below its node
//   'l'  single linkage: its leaves are joined by chains of leaves each
//        within threshold of the next
// A clade that satisfies the rule is one cluster, however its parts would;
// a leaf with no such clade above it is a cluster alone.
// `tree` as for cuttree. lengths[r][0] and lengths[r][1] are the lengths
// (>= 0) of the branches above record r's left and right child; null: the
// differences of the records' distances as heights (a leaf at 0), so a
// tree with an inversion fails. support (nelements-1 values, or null): support[r]
// of the branch above record r (NaN: none given, never below); a cluster
// never holds a branch whose support is below minsupport (NaN: no minimum),
// the branch above its own node not counting as inside it. joined
// (nelements-1 flags, or null): joined[r] nonzero when record r and its
// parent are one node of more than two children, the link between them no
// branch of the tree (taken as length 0; the length and support given for
// it play no part), so record r is no clade of its own.
// clusterid (nelements ints, caller's) receives each element's cluster,
// numbered from 0 in the order of each cluster's first element. Returns the
// number of clusters; -1, with every clusterid entry -1, for an unknown
// rule, a NaN threshold, a negative or NaN length, a tree not of cuttree's
// form, a root record marked joined, or short memory. Time linear in
// nelements.
int cuttree_clade(int nelements, const Node* tree, const double (*lengths)[2],
                  const double* support, const char* joined, char rule, double threshold,
                  double minsupport, int* clusterid);

// Leaves out the clusters of fewer than minsize elements: their elements
// get -1, and the clusters kept are renumbered 0, 1, ... keeping their
// order. clusterid (nelements ints) holds cluster numbers 0 ... nelements-1
// or -1 (kept as -1). Returns the number of clusters kept; -1, with clusterid
// untouched, for bad arguments or short memory.
int dropsmallclusters(int nelements, int* clusterid, int minsize);

// Optimal leaf ordering (Bar-Joseph, Gifford & Jaakkola 2001): swaps the
// children of tree's records so that the leaf order (left subtree before
// right) has the smallest sum of distances between neighbouring leaves,
// with distmatrix (lower triangle over nelements, as distancematrix gives;
// only read). The records keep their order and merges. Returns 1; 0, with
// tree untouched, for a tree that is not of cuttree's form, a distance that
// is not finite, null arrays, or short memory. Time O(n^3) at worst, memory
// one double per pair of elements.
int optimalleaforder(int nelements, Node* tree, const double* const* distmatrix);

// Mean silhouette width (Rousseeuw 1987) of the partition clusterid over
// the distances in distmatrix (lower triangle, as distancematrix gives; row
// 0 may be null). Cluster ids are any non-negative ints, not necessarily
// 0 ... k-1. For element i, a is its mean distance to the other members of
// its cluster, b the smallest, over the other clusters, of its mean distance
// to their members, and s(i) = (b - a) / max(a, b): 0 when it is alone in
// its cluster or when a = b = 0. Returns the mean of s(i) over all
// elements, in [-1, 1]; -2.0 for bad arguments (null arrays or rows, a
// negative id, fewer than 2 or more than nelements-1 clusters, a distance
// that is negative or not finite) or when memory is short. O(n^2) time,
// O(n + k) scratch.
double silhouette(int nelements, const double* const* distmatrix, const int clusterid[]);

// Multiscale bootstrap of the clusters of `tree` (Efron, Halloran and
// Holmes 1996; Shimodaira 2002, 2004; as R's pvclust, Suzuki and Shimodaira
// 2006). The values of each element are nvalues = ncolumns when transpose
// is 0 (the same columns drawn for every element), nrows when it is 1.
// Resample q = s * nboot + b (scale s in 0 ... nscales-1, replicate b in
// 0 ... nboot-1) draws size_s = floor(scales[s] * nvalues) of the values
// (as pvclust draws) with replacement, from a generator of its own seeded
// from (seed, q) alone (neither the caller's generator nor any thread's is
// read or moved), and clusters the elements of the resampled table as
// treecluster(..., dist, method, NULL) would: the values drawn in their
// original order, each as many times as drawn, with its weight (missing
// values stay missing). Bit for bit so, but for the correlations ('c',
// 'a', 'u', 'x'), 'C' and 'M', which take each value once, weighing its
// weight times the times drawn: their distances are the resampled table's
// to rounding. For each q in first ... last-1,
// counts[s * (nelements - 1) + m] (nscales * (nelements - 1) ints, the
// caller's) gains 1 for each record m of tree whose cluster (set of
// elements) is also a cluster of the resample's tree. The counts of a
// range are the same whatever getthreads() and however a run is split
// into ranges, so ranges done apart add up to the whole run.
// effective_scales (nscales doubles; may be null) receives size_s /
// nvalues. tree is istree's form over nelements >= 2 (only read; heights
// play no part). Resamples are shared among up to getthreads() threads,
// each clustered in one thread when several share them.
// Returns last - first; -1, with counts and effective_scales as they
// were, for bad arguments (a method treecluster does not take, tree not a
// tree over nelements, a scale drawing no value or more than INT_MAX,
// nscales or nboot < 1, first < 0, last < first, last > nscales * nboot,
// null arrays), a table treecluster would refuse (a value present and not
// finite), a resample's distance that is not finite, or short memory.
// Memory per thread: a distance matrix (none for 's'), a tree, nvalues
// ints, and with transpose 0 for the codes that repeat values the
// resampled table (nelements rows of the largest size_s values and flags).
int bootstrapcounts(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                    const double weight[], int transpose, char dist, char method, const Node* tree,
                    int nscales, const double scales[], int nboot, int seed, int first, int last,
                    int counts[], double effective_scales[]);
// One cluster's support from a multiscale bootstrap (Shimodaira 2002, Syst.
// Biol. 51; 2004, Ann. Statist. 32; Suzuki & Shimodaira 2006, Bioinformatics
// 22), as pvclust 2.x reports it for each edge. bp is the fitted share at
// scale 1, pnorm(-(v + c)), not the raw share of the resamples there.
struct BootstrapSupport {
  double au, bp, si;           // approximately unbiased, bootstrap and selective p-values
  double se_au, se_bp, se_si;  // their standard errors
  double v, c;                 // the fitted signed distance and curvature
  double pchi;                 // upper tail of the fit's chi-square (0 when nothing was fitted)
  int used;                    // scales whose share lies strictly between 0.001 and 0.999
};
// counts[s] of nboot resamples at scale scales[s] (s = 0 ... nscales-1, the
// effective scales: a resample's size over the number of values, distinct
// and positive) hold the cluster. A scale enters the fit when its share
// b = counts[s]/nboot lies strictly between 0.001 and 0.999; with fewer than
// 3 such scales nothing is fitted: au, bp and si are all 0 when the counts
// over all scales are below half of the resamples, all 1 otherwise, and every
// other field is 0 but `used`. Otherwise the z-values -qnorm(b) are fitted
// by v sqrt(r) + c / sqrt(r), weighted least squares with weights
// nboot dnorm(z)^2 / (b (1 - b)) (the inverse of the z-value's variance);
// then au = pnorm(c - v), bp = pnorm(-(v + c)), si = 1 - pnorm(v - c) /
// pnorm(-c) clamped to [0, 1] (the selective p-value of Terada & Shimodaira
// 2017, arXiv:1711.00949, which pvclust 2.x adds), each se from the fit's covariance by the delta
// method (se_si 0 when si is clamped), and pchi the chi-square upper tail of
// the weighted residual sum of squares on used - 2 degrees of freedom.
// Returns 0 and fills *support; -1 for bad arguments (nscales or nboot
// below 1, a null array, a scale not finite or not positive, two scales
// equal, a count outside 0 ... nboot) or short memory, *support as it was.
int multiscalefit(int nscales, const double scales[], const int counts[], int nboot,
                  BootstrapSupport* support);
// Consensus clustering (Monti, Tamayo, Mesirov and Golub, Machine Learning
// 2003), as Bioconductor's ConsensusClusterPlus runs it: each resample
// clusters floor(pitem * nelements) elements drawn without replacement,
// over floor(pfeature * ndata) dimensions drawn likewise (all of them when
// pfeature is 1), into each k of ks; the consensus of two elements is the
// share of the resamples holding both that put them in one cluster.
//
// Pairs are counted over the lower triangle: pair (i, j), i > j, at index
// i * (i - 1) / 2 + j of a triangle of nelements * (nelements - 1) / 2
// entries.

// Adds the counts of resamples first ... last-1 (0 <= first <= last) to
// together (nks triangles, k = ks[t] at t * triangle size: pairs in one
// cluster) and sampled (one triangle: pairs drawn together). Resample q
// draws from a generator seeded from (seed, q) alone, so that counts of
// split ranges add up to those of the whole range bit for bit, and none
// depends on getthreads(); the resamples run in parallel, each clustered
// in one thread, and the calling thread's generator is left as it was.
// algorithm: a linkage code of treecluster ('s', 'm', 'a', 'c', 'w', 'q',
// 'd'), its tree cut at each k by cuttree; 'k' k-means or 'e' k-medians
// (kcluster, npass passes from random partitions); 'p' k-medoids
// (kmedoids on the resample's distances, npass passes). dist: a distance
// code. npass >= 1. ks: nks >= 1 values, each from 1 to the resample's size. Returns
// last - first; -1, counts as they were, for bad arguments (pitem or
// pfeature outside (0, 1], fewer than two elements or no dimension drawn,
// an unknown algorithm, data not finite), a clustering that failed, or
// short memory.
int consensuscounts(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                    const double weight[], int transpose, char dist, char algorithm, int npass,
                    int nks, const int ks[], double pitem, double pfeature, int seed, int first,
                    int last, int together[], int sampled[]);

// The consensus matrix of one k from its counts (triangles as above):
// together / sampled, 0 for a pair never drawn together (as
// ConsensusClusterPlus). Returns 1; 0 for bad arguments (nelements < 2,
// null arrays, a count negative or together above sampled).
int consensusmatrix(int nelements, const int together[], const int sampled[], double consensus[]);

// The consensus CDF of one k: cdf[b] (100 values) is the share of the
// pairs' consensus values at most (b + 1) / 100 (R's hist breaks, a value
// within 1e-9 above a break counting as below it), and the result its area,
// the sum of cdf[b] times the width of break b to b + 1. -1.0 for bad
// arguments (nelements < 2, null arrays).
double consensuscdf(int nelements, const double consensus[], double cdf[]);

// The relative change of the CDF's area with k: delta[0] = area[0],
// delta[t] = (area[t] - area[t-1]) / area[t-1] for the ks in ascending
// order (nks values each). ConsensusClusterPlus's delta-area plot, whose
// largest value past the first suggests the k.
void consensusdelta(int nks, const double area[], double delta[]);

// The final clusters of one k: average linkage on the distances 1 -
// consensus, the tree cut into k clusters, numbered from 0 in the order of
// each cluster's first element (R's cutree, less one). Returns k; -1, with
// every clusterid entry -1, for k outside 1 ... nelements, nelements < 2,
// null arrays, a consensus value outside [0, 1], or short memory.
int consensusclusters(int nelements, const double consensus[], int k, int clusterid[]);

// Cluster and item consensus of the partition clusterid (numbers 0 ...
// nclusters-1) as ConsensusClusterPlus's calcICL: cluster[c] is the mean
// consensus of the pairs within cluster c (NaN for one member);
// item[i * nclusters + c] the mean consensus of element i with the members
// of c other than itself (NaN for i alone in c). cluster or item may be
// null when not wanted. Returns 1; 0, outputs as they were, for short
// memory or bad arguments (nelements < 2,
// null consensus or clusterid, a number outside 0 ... nclusters-1).
int clusterconsensus(int nelements, const double consensus[], int nclusters, const int clusterid[],
                     double cluster[], double item[]);

}  // namespace lopper

#endif
