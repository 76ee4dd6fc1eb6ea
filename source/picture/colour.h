// The picture's colours: the diverging scale of the values, the colour of
// missing values, those of the cluster band and of column annotations.
#ifndef LOPPER_PICTURE_COLOUR_H
#define LOPPER_PICTURE_COLOUR_H

#include <map>
#include <string>
#include <vector>

namespace lopper::picture_detail {

struct Rgb {
  unsigned char r, g, b;
};

inline constexpr Rgb kMissingColour{160, 160, 160};

// n: number of values; values, mask: n each, mask 0 = missing (mask may be
// null: all present). Returns the scale's limit: the 99th percentile
// (nearest rank) of |value| over the present values, 1 when that is 0 or
// none is present.
double ScaleLimit(long n, const double* values, const int* mask);

// value: any finite number; limit > 0. Blue at -limit and below, white at
// 0, red at +limit and above, linear in RGB between them, as the legend's
// gradient with stops at those three points.
Rgb ScaleColour(double value, double limit);

// k >= 0: the k-th cluster from the top; the band's colours repeat every
// kClusterColours clusters.
inline constexpr int kClusterColours = 10;
Rgb ClusterColour(int k);

// k >= 0: the k-th category of a column annotation, from Paul Tol's
// colour-blind-safe "muted" scheme; the colours repeat every
// kCategoryColours categories.
inline constexpr int kCategoryColours = 9;
Rgb CategoryColour(int k);

// The distinct non-empty categories in byte order, each with its rank:
// the k of its CategoryColour.
std::map<std::string, int> CategoryRanks(const std::vector<std::string>& categories);

// "#rrggbb"
std::string HexColour(Rgb c);

}  // namespace lopper::picture_detail

#endif
