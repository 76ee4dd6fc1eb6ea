// The Python module's docstrings: shapes, meanings and errors of each
// function's arguments and results.
#ifndef LOPPER_PYTHON_DOCSTRINGS_H
#define LOPPER_PYTHON_DOCSTRINGS_H

namespace lopper_python::docs {

constexpr const char* kModule =
    R"(Clustering of measurement tables: lopper's C++ library on NumPy arrays.

Data arguments are 2-D arrays of real numbers, elements x values (rows are
the elements; transpose=True clusters the columns). A value is missing when
it is NaN, masked in a numpy.ma.MaskedArray, or 0 in `mask` (an array of the
data's shape); missing values take no part in distances and centres.
C-contiguous float64 data is used in place, other data converted once.
`weights` has one finite weight per value (per column; per row with
transpose=True). `distance` and linkage's `method` are names or letters as
lopper-cluster takes them, listed below: 'euclidean' is the true Euclidean
distance (R's dist(), SciPy's pdist()), 'meansquare' ('e') the mean of the
squared differences that 'euclidean' meant in lopper 0.2.

Bad arguments raise ValueError naming the argument; a routine short of
memory raises MemoryError. Every routine releases the GIL while it works.)";

// Headings of the name lists that follow kModule in the module's docstring.
constexpr const char* kDistanceHeading = "\n\nDistances (distance=):\n";
constexpr const char* kLinkageHeading = "\nLinkages (method=):\n";

constexpr const char* kDistanceMatrix =
    R"(distance_matrix(data, distance='pearson', mask=None, weights=None, transpose=False)

Distances between all pairs of elements of `data` (at least 2 elements).

Returns a float64 vector of n(n-1)/2 distances in SciPy's condensed order,
pairs (0,1), (0,2), ..., (0,n-1), (1,2), ...: scipy.spatial.distance's
squareform turns it into the n x n matrix. 'euclidean' is SciPy's
'euclidean' (with gaps, R's dist(): the sum over the values present in
both scaled by all values over those present); 'meansquare' is the weighted
mean of squared differences, SciPy's 'sqeuclidean' / number of values
without gaps.)";

constexpr const char* kLinkage =
    R"(linkage(data=None, distances=None, method='average', distance='pearson', mask=None, weights=None, transpose=False, no_matrix=False)

Hierarchical clustering, from `data` (2-D, see the module) or from
`distances` (a condensed vector as distance_matrix returns or a square
symmetric matrix; finite), exactly one of them.

method: 'single', 'complete', 'average' (size-weighted mean), 'centroid'
(distance between member means, measured with `distance`; needs data),
'ward' (or 'ward.D2'), 'weighted' (or 'mcquitty', WPGMA), 'median'
(WPGMC), or their letters s m a c w q d (help(lopper._lopper) lists them).
'ward' and 'median' take data only with distance='euclidean', where their
criteria are defined (ValueError otherwise); from `distances` they update
any matrix, as R's hclust does. linkage(x, method='ward',
distance='euclidean') is SciPy's linkage(x, 'ward'). distance, mask,
weights, transpose: for data only.

no_matrix=True builds the tree from the data without a distance matrix,
in memory proportional to the data (treeclusterdata): single and centroid
linkage with any distance, ward and median on data without missing
values; the same merges and heights (to rounding) as with the matrix.

Returns Z, SciPy's linkage matrix: float64 of shape (n-1, 4), one row per
merge in merge order: the ids merged (element e is e, the cluster of row i
is n+i; smaller id first), the merge height and the number of elements
under it. scipy.cluster.hierarchy's dendrogram, fcluster and
is_valid_linkage take it as it is.)";

constexpr const char* kCut = R"(cut(Z, k, min_size=None)

Cuts the tree of linkage matrix Z (n-1 x 4, as linkage or SciPy returns)
into k clusters (1 <= k <= n) by undoing its k-1 last merges.

Returns int32 labels of shape (n,), numbered 1, 2, ... in the order of each
cluster's first element, as lopper-cluster numbers them. With min_size,
the elements of clusters smaller than that get 0, as in every cut.)";

constexpr const char* kCutHeight = R"(cut_height(Z, h, min_size=None)

Cuts the tree of linkage matrix Z at height h: a cluster is a largest
subtree with no merge above h (inversions included), as SciPy's
fcluster(Z, h, 'distance').

Returns int32 labels of shape (n,), numbered 1, 2, ... in the order of each
cluster's first element.)";

constexpr const char* kCutInconsistent = R"(cut_inconsistent(Z, t, depth=2, min_size=None)

Cuts the tree of linkage matrix Z where its merges are consistent, as
SciPy's fcluster(Z, t, 'inconsistent', depth): a cluster is a largest
subtree in which no merge's inconsistency coefficient (its height less the
mean height of the merges at most depth levels down from it, over their
standard deviation) is above t.

Returns int32 labels of shape (n,), numbered 1, 2, ... in the order of each
cluster's first element.)";

constexpr const char* kCutDynamic =
    R"(cut_dynamic(Z, D=None, method='tree', min_size=20, deep_split=None, cut_height=None, pam=True)

The dynamic tree cut of Langfelder, Zhang & Horvath (2008), as R's
dynamicTreeCut::cutreeDynamic: method 'tree' judges the branches of Z by
the shape of the tree alone; 'hybrid' also by the distances D (condensed,
as scipy.spatial.distance.pdist gives, or square), with the elements left
over then assigned to a nearby cluster unless pam is False (R's pamStage).
min_size is R's minClusterSize; deep_split R's deepSplit (tree: 0 or 1,
default 0; hybrid: 0 ... 4, default 1); cut_height None is R's default.

Returns int32 labels of shape (n,) as R's: 1, 2, ... by cluster size,
largest first, and 0 for the elements in no cluster.)";

constexpr const char* kCutClade = R"(cut_clade(Z, t, rule='max', min_size=None)

The fewest clusters such that each is a clade of the tree of Z (the leaves
below one merge, or one leaf) whose leaves keep within t: 'max' (the
largest distance between two of them along the tree), 'avg' (the mean
distance), 'sum' (the total length of the branches below the merge) or
'single' (chains of leaves each within t of the next), as TreeCluster's
rules. Branch lengths are the differences of the merge heights; Z may not
have inversions.

Returns int32 labels of shape (n,), numbered 1, 2, ... in the order of each
cluster's first element; with min_size, 0 for the elements of smaller
clusters.)";

constexpr const char* kKCluster =
    R"(kcluster(data, k, method='mean', npass=10, seed=None, distance='pearson', mask=None, weights=None, transpose=False, init='kmeans++')

k-means ('mean' or 'a') or k-medians ('median' or 'm') clustering of the
elements of `data` into k clusters (1 <= k <= n), keeping the best of npass
runs (npass >= 1), each from a k-means++ start (init='kmeans++', as
scikit-learn's KMeans and lopper-cluster by default) or from a random
partition (init='random', lopper 0.2's starts, which stall more often).

seed: None continues this thread's generator (seeded from the system at
its first use); an int 0 ... 2**31-1 seeds it first, so that the same seed
gives the same result as lopper-cluster --seed.

Returns (labels, error, nfound): int32 cluster numbers 0 ... k-1 of shape
(n,), the sum of the elements' distances to their cluster centres, and how
many of the runs found that partition.)";

constexpr const char* kKMedoids = R"(kmedoids(distances, k, npass=10, seed=None)

k-medoids clustering of n elements into k clusters (1 <= k <= n) from
`distances`: a condensed vector (SciPy's order) or a square symmetric
matrix, finite; a C-contiguous float64 square matrix is read in place.
npass and seed as for kcluster.

Returns (medoids, error, nfound): for each element (int32, shape (n,)) the
element number of its cluster's medoid, the sum of distances to the
medoids, and how many runs found that partition.)";

constexpr const char* kSom =
    R"(som(data, grid, inittau=0.02, niter=100000, seed=None, distance='pearson', mask=None, weights=None, transpose=False)

Self-organising map: trains a grid = (nx, ny) of cell vectors on the
elements of `data` (at least 2), presented niter times in a random cyclic
order with a learning rate falling linearly from inittau (> 0). seed as
for kcluster.

Returns (cells, celldata): int32 of shape (n, 2), each element's best cell
(ix, iy), and float64 of shape (nx, ny, ndata), the cells' vectors.)";

constexpr const char* kSvd = R"(svd(a)

Singular value decomposition a = u @ diag(w) @ v.T of a finite m x n
matrix with m >= n >= 1 (Golub-Reinsch).

Returns (u, w, v): u float64 (m, n) with orthonormal columns, w float64
(n,) the singular values (unsorted, >= 0), v float64 (n, n) orthogonal.
Raises numpy.linalg.LinAlgError when a value does not converge.)";

#ifdef LOPPER_PYTHON_LAST_CALL
constexpr const char* kLastCall = R"(_last_call()

What the last call in this thread handed the library, for the tests (in
their build of the module only): {'data': address of the data buffer the
library read (0 when the call took no data), 'library_seconds': time spent
in library routines with the GIL released}.)";
#endif

}  // namespace lopper_python::docs

#endif
