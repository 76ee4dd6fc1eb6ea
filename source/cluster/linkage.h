// The matrix-based linkages (maximum, average, centroid), written once over
// the way the closest pair is found. The library finds it from cached row
// minima (RowMinima); the tests use the plain scan, find_closest_pair, as the
// reference the cached search must match exactly. Private to the library.
#ifndef LOPPER_LINKAGE_H
#define LOPPER_LINKAGE_H

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "cluster_internal.h"

namespace lopper {
namespace detail {

// Slot `last` takes the place of slot `is` in the active triangle.
inline void MoveSlot(double** d, int is, int last) {
  for (int x = 0; x < is; x++) d[is][x] = d[last][x];
  for (int x = is + 1; x < last; x++) d[x][is] = d[last][x];
}

// Finds the closest pair as find_closest_pair does, from each active row's
// smallest entry and its first column. After a merge of slots is > js (the
// matrix already updated and slot n-1 moved into is), rows js and is are
// rescanned; every other row offers its changed entries (columns js and,
// beyond is, is) and is rescanned only when the entry that held its minimum
// grew. Ties go to the lower column, as in the scan.
class RowMinima {
 public:
  explicit RowMinima(int nelements) : value_(nelements), column_(nelements) {}

  void start(const double* const* d, int n) {
    for (int i = 1; i < n; i++) rescan(d, i);
  }

  double pick(int n, const double* const* d, int* ip, int* jp) const {
    int best = 1;
    for (int i = 2; i < n; i++)
      if (value_[i] < value_[best]) best = i;
    *ip = best;
    *jp = column_[best];
    return d[best][column_[best]];
  }

  void merged(const double* const* d, int is, int js, int n) {
    if (js > 0) rescan(d, js);
    for (int x = js + 1; x < n - 1; x++) {
      if (x == is) {
        rescan(d, x);
        continue;
      }
      bool redo = change(x, js, d[x][js]);
      if (!redo && x > is) redo = change(x, is, d[x][is]);
      if (redo) rescan(d, x);
    }
  }

 private:
  void rescan(const double* const* d, int i) {
    int arg = 0;
    for (int j = 1; j < i; j++)
      if (d[i][j] < d[i][arg]) arg = j;
    value_[i] = d[i][arg];
    column_[i] = arg;
  }

  // Entry (x, c) now holds v; true when row x must be rescanned.
  bool change(int x, int c, double v) {
    if (column_[x] == c) {
      if (v > value_[x]) return true;
      value_[x] = v;
    } else if (v < value_[x] || (v == value_[x] && c < column_[x])) {
      value_[x] = v;
      column_[x] = c;
    }
    return false;
  }

  std::vector<double> value_;
  std::vector<int> column_;
};

// The distance from the merger of slots is and js to another cluster at a and
// b from them: the larger for maximum linkage, the size-weighted mean for
// average linkage (the weighted sum times the reciprocal of the total).
inline double MergedDistance(bool average, double a, double b, int nis, int njs, double scale) {
  if (!average) return std::max(a, b);
  return (nis * a + njs * b) * scale;
}

// Maximum or average linkage: n-1 merges of the closest pair, the merged
// cluster in slot js, the last active slot moved into slot is. Throws
// std::bad_alloc, before anything is written, when its scratch cannot be
// had.
template <class Finder>
void PairwiseMerges(int nelements, double** d, bool average, Node tree[]) {
  std::vector<int> clusterid(nelements);
  std::vector<int> number(average ? nelements : 0, 1);
  Finder finder(nelements);
  for (int i = 0; i < nelements; i++) clusterid[i] = i;
  finder.start(d, nelements);
  for (int n = nelements; n > 1; n--) {
    const int k = nelements - n;
    int is, js;
    tree[k].distance = finder.pick(n, d, &is, &js);
    tree[k].left = clusterid[is];
    tree[k].right = clusterid[js];
    const int nis = average ? number[is] : 0, njs = average ? number[js] : 0;
    const double scale = average ? 1.0 / (nis + njs) : 0.0;
    for (int x = 0; x < js; x++)
      d[js][x] = MergedDistance(average, d[is][x], d[js][x], nis, njs, scale);
    for (int x = js + 1; x < is; x++)
      d[x][js] = MergedDistance(average, d[is][x], d[x][js], nis, njs, scale);
    for (int x = is + 1; x < n; x++)
      d[x][js] = MergedDistance(average, d[x][is], d[x][js], nis, njs, scale);
    MoveSlot(d, is, n - 1);
    finder.merged(d, is, js, n);
    if (average) {
      number[js] = nis + njs;
      number[is] = number[n - 1];
    }
    clusterid[js] = -(k + 1);
    clusterid[is] = clusterid[n - 1];
    reportprogress("merging", k + 1, nelements - 1);
  }
}

// PairwiseMerges into tree (nelements-1 slots) for nelements >= 2, as a
// Status.
template <class Finder>
Status PairwiseLinkage(int nelements, double** d, bool average, Node tree[]) {
  if (nelements < 2) return Status::kBadArguments;
  return guarded([&] {
    PairwiseMerges<Finder>(nelements, d, average, tree);
    return Status::kOk;
  });
}

// Row js of data/mask becomes the merger of rows js and is: per dimension
// the mean of the members' present values, the mask counting them.
inline void MergeProfiles(double** data, int** mask, int js, int is, int ndata) {
  double* const data_js = data[js];
  int* const mask_js = mask[js];
  const double* const data_is = data[is];
  const int* const mask_is = mask[is];
  for (int x = 0; x < ndata; x++) {
    data_js[x] = data_js[x] * mask_js[x] + data_is[x] * mask_is[x];
    mask_js[x] += mask_is[x];
    if (mask_js[x]) data_js[x] *= 1.0 / mask_js[x];
  }
}

// The distances from slot js to the other active slots 0 ... last-1,
// measured again between profiles; false when one is not finite.
inline bool RemeasureSlot(Measure& between, const DataMask& profiles, const double weight[],
                          double** d, int js, int last) {
  double** const data = profiles.data();
  int** const mask = profiles.mask();
  bool finite = true;
  for (int x = 0; x < js; x++) {
    d[js][x] = between(data, data, mask, mask, weight, js, x, 0);
    finite = finite && std::isfinite(d[js][x]);
  }
  for (int x = js + 1; x < last; x++) {
    d[x][js] = between(data, data, mask, mask, weight, js, x, 0);
    finite = finite && std::isfinite(d[x][js]);
  }
  return finite;
}

// The elements' profiles as the rows of rowdata/rowmask (nelements rows of
// ndata), whatever the data's orientation.
inline void CopyProfiles(int nelements, int ndata, const double* const* data,
                         const int* const* mask, int transpose, double** rowdata, int** rowmask) {
  for (int i = 0; i < nelements; i++)
    for (int j = 0; j < ndata; j++) {
      rowdata[i][j] = transpose ? data[j][i] : data[i][j];
      rowmask[i][j] = transpose ? mask[j][i] : mask[i][j];
    }
}

// Centroid linkage: merged clusters get the mean profile of their members
// (per dimension, over present values) and their distances are measured
// again from it. Scratch comes first, so that short memory writes nothing.
template <class Finder>
Status CentroidLinkage(int nrows, int ncolumns, const double* const* data, const int* const* mask,
                       const double weight[], double** d, char dist, int transpose, Node tree[]) {
  const int nelements = transpose ? ncolumns : nrows;
  const int ndata = transpose ? nrows : ncolumns;
  if (nelements < 2) return Status::kBadArguments;
  std::vector<int> distid;
  std::optional<Finder> finder;
  std::optional<Measure> measure;
  const Status scratch = guarded([&] {
    distid.resize(nelements);
    finder.emplace(nelements);
    measure.emplace(dist, ndata);
    return Status::kOk;
  });
  if (scratch != Status::kOk) return scratch;
  DataMask profiles;
  const Status obtained = profiles.obtain(nelements, ndata);
  if (obtained != Status::kOk) return obtained;
  CopyProfiles(nelements, ndata, data, mask, transpose, profiles.data(), profiles.mask());
  for (int i = 0; i < nelements; i++) distid[i] = i;
  finder->start(d, nelements);
  for (int inode = 0; inode < nelements - 1; inode++) {
    const int last = nelements - inode - 1;
    int is, js;
    tree[inode].distance = finder->pick(last + 1, d, &is, &js);
    tree[inode].left = distid[js];
    tree[inode].right = distid[is];
    MergeProfiles(profiles.data(), profiles.mask(), js, is, ndata);
    profiles.drop_row(is);
    distid[is] = distid[last];
    MoveSlot(d, is, last);
    distid[js] = -(inode + 1);
    if (!RemeasureSlot(*measure, profiles, weight, d, js, last)) return Status::kNotFinite;
    finder->merged(d, is, js, last + 1);
    reportprogress("merging", inode + 1, nelements - 1);
  }
  return Status::kOk;
}

}  // namespace detail
}  // namespace lopper

#endif
