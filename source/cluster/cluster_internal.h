// Private functions of the clustering library, declared for the library's
// own units and its tests; not installed.
#ifndef LOPPER_CLUSTER_INTERNAL_H
#define LOPPER_CLUSTER_INTERNAL_H

#include <cstddef>
#include <optional>
#include <vector>

#include "cluster.h"

namespace lopper {
namespace detail {

// Every block the library hands to a caller, or keeps as a row of one,
// comes from allocate/allocate_zeroed and goes back through release (or the
// caller's free). A zero-byte request still yields a block.
void* allocate(std::size_t bytes);
void* allocate_zeroed(std::size_t count, std::size_t size);
void release(void* block);
// Test hooks, defined only in the tests' build of the library (target
// lopper_cluster_testing), never in the installed one: the k-th allocation
// from now, counted across all threads, fails (0: none), and with and_after
// every one after it too; how many failed since; the number of blocks
// allocated and not yet released through `release`.
void fail_allocation(long k, bool and_after = false);
long injected_failures();
long live_blocks();

// Data/mask pair of nrows rows of ncols; rows uninitialised. 1 on success;
// 0 otherwise, with nothing kept (*pdata and *pmask untouched when a row
// array failed, null when a row failed).
int makedatamask(int nrows, int ncols, double*** pdata, int*** pmask);
void freedatamask(int n, double** data, int** mask);

// -1, 0 or +1 as sortdata[i1] is below, equal to or above sortdata[i2];
// NaN is above every number and equal to NaN.
int compare(const double sortdata[], int i1, int i2);

// Common signature of the eight measures. Each is NaN for a pair in which a
// value present in both is not finite; spearman may throw std::bad_alloc
// (library code measures through Measure, which cannot).
using Metric = double (*)(int n, const double* const* data1, const double* const* data2,
                          const int* const* mask1, const int* const* mask2, const double weight[],
                          int index1, int index2, int transpose);
Metric setmetric(char dist);
double euclid(int n, const double* const* data1, const double* const* data2,
              const int* const* mask1, const int* const* mask2, const double weight[], int index1,
              int index2, int transpose);
double cityblock(int n, const double* const* data1, const double* const* data2,
                 const int* const* mask1, const int* const* mask2, const double weight[],
                 int index1, int index2, int transpose);
double correlation(int n, const double* const* data1, const double* const* data2,
                   const int* const* mask1, const int* const* mask2, const double weight[],
                   int index1, int index2, int transpose);
double acorrelation(int n, const double* const* data1, const double* const* data2,
                    const int* const* mask1, const int* const* mask2, const double weight[],
                    int index1, int index2, int transpose);
double ucorrelation(int n, const double* const* data1, const double* const* data2,
                    const int* const* mask1, const int* const* mask2, const double weight[],
                    int index1, int index2, int transpose);
double uacorrelation(int n, const double* const* data1, const double* const* data2,
                     const int* const* mask1, const int* const* mask2, const double weight[],
                     int index1, int index2, int transpose);
double spearman(int n, const double* const* data1, const double* const* data2,
                const int* const* mask1, const int* const* mask2, const double weight[], int index1,
                int index2, int transpose);
double kendall(int n, const double* const* data1, const double* const* data2,
               const int* const* mask1, const int* const* mask2, const double weight[], int index1,
               int index2, int transpose);

// Ranks of data[0 ... n-1] from 0, ties sharing the mean of their
// positions: a new array (free it with release), or null when memory is
// short.
double* getrank(int n, const double data[]);

// The storage spearman ranks into for vectors of up to ndata values,
// obtained once (the constructor may throw std::bad_alloc) so that no
// distance depends on an allocation made while measuring.
class RankScratch {
 public:
  explicit RankScratch(int ndata);
  // spearman's distance, without allocating; n <= ndata.
  double spearman(int n, const double* const* data1, const double* const* data2,
                  const int* const* mask1, const int* const* mask2, int index1, int index2,
                  int transpose);

 private:
  std::vector<double> x_, y_, rank1_, rank2_;
  std::vector<int> index_;
};

// The measure of code `dist` over ndata dimensions, with whatever scratch it
// needs obtained by the constructor (which may throw std::bad_alloc); calls
// never allocate and never fail. Not shared between threads.
class Measure {
 public:
  Measure(char dist, int ndata);
  double operator()(const double* const* data1, const double* const* data2, const int* const* mask1,
                    const int* const* mask2, const double weight[], int index1, int index2,
                    int transpose);

 private:
  int ndata_;
  Metric metric_;
  std::optional<RankScratch> ranks_;  // spearman only
};

// True when every value of the data matrix that its mask marks present is
// finite; false also for a null data or mask with rows and columns to read.
bool finitedata(int nrows, int ncolumns, const double* const* data, const int* const* mask);

// 1 when clusterid[0 ... nelements-1] holds only cluster numbers 0 ...
// nclusters-1 and every one of them at least once, otherwise 0. May throw
// std::bad_alloc.
int fullpartition(int nclusters, int nelements, const int clusterid[]);

// Smallest entry among the first n slots of the lower-triangular matrix
// (n >= 2), scanning rows then columns ascending; the first of equal
// entries wins. *ip > *jp receive its row and column.
double find_closest_pair(int n, const double* const* distmatrix, int* ip, int* jp);

// The linkage routines behind treecluster, on nelements >= 2 (null
// otherwise, or when memory is short, with the matrix untouched). The
// matrix-based ones overwrite distmatrix as clusters merge.
Node* pmlcluster(int nelements, double** distmatrix);
Node* palcluster(int nelements, double** distmatrix);
Node* pclcluster(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                 const double weight[], double** distmatrix, char dist, int transpose);
// distmatrix may be null: distances then come from the data.
Node* pslcluster(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                 const double weight[], const double* const* distmatrix, char dist, int transpose);

// -1, 0 or +1 as a.distance is below, equal to or above b.distance.
int nodecompare(const Node& a, const Node& b);

// Uniform deviate in (0, 1), seeding itself from the clock while unseeded.
double uniform();
// Binomial deviate for n >= 0 trials of probability 0 < p <= 0.5: BINV
// below n*p = 30, BTPE from 30 on.
int binomial(int n, double p);
// A random partition of nelements into 1 <= nclusters <= nelements
// non-empty clusters.
void randomassign(int nclusters, int nelements, int clusterid[]);

// Centroids of the clusters of clusterid into cdata/cmask, shaped as for
// getclustercentroids; cache holds nelements doubles.
void getclustermeans(int nclusters, int nrows, int ncolumns, const double* const* data,
                     const int* const* mask, const int clusterid[], double** cdata, int** cmask,
                     int transpose);
void getclustermedians(int nclusters, int nrows, int ncolumns, const double* const* data,
                       const int* const* mask, const int clusterid[], double** cdata, int** cmask,
                       int transpose, double cache[]);

}  // namespace detail
}  // namespace lopper

#endif
