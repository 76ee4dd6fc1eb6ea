// Routines only the tests call: the plain references that the library's
// faster forms are checked against. Compiled with the hooked units, and
// empty but in the tests' build (LOPPER_TEST_HOOKS), so that neither the
// installed library nor the Python module carries them.
#include "cluster_internal.h"

#ifdef LOPPER_TEST_HOOKS
#include <vector>

namespace lopper {
namespace detail {

double find_closest_pair(int n, const double* const* distmatrix, int* ip, int* jp) {
  double distance = distmatrix[1][0];
  *ip = 1;
  *jp = 0;
  for (int i = 1; i < n; i++)
    for (int j = 0; j < i; j++)
      if (distmatrix[i][j] < distance) {
        distance = distmatrix[i][j];
        *ip = i;
        *jp = j;
      }
  return distance;
}

Status getrank(int n, const double data[], double rank[]) {
  return guarded([&] {
    std::vector<int> index(n);
    rankinto(n, data, index.data(), rank);
    return Status::kOk;
  });
}

}  // namespace detail
}  // namespace lopper
#endif
