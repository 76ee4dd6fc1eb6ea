#include "colour.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace lopper::picture_detail {

namespace {

constexpr Rgb kNegative{33, 102, 172};
constexpr Rgb kZero{255, 255, 255};
constexpr Rgb kPositive{178, 24, 43};

// from, to: the colours at t = 0 and t = 1; t in [0, 1].
Rgb Blend(Rgb from, Rgb to, double t) {
  const auto mix = [t](unsigned char a, unsigned char b) {
    return static_cast<unsigned char>(std::lround(a + (b - a) * t));
  };
  return {mix(from.r, to.r), mix(from.g, to.g), mix(from.b, to.b)};
}

}  // namespace

double ScaleLimit(long n, const double* values, const int* mask) {
  std::vector<double> magnitudes;
  for (long i = 0; i < n; i++) {
    if (mask == nullptr || mask[i] != 0) magnitudes.push_back(std::fabs(values[i]));
  }
  if (magnitudes.empty()) return 1.0;
  const auto rank =
      static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(magnitudes.size())));
  const auto at = magnitudes.begin() + static_cast<long>(std::max<std::size_t>(rank, 1) - 1);
  std::nth_element(magnitudes.begin(), at, magnitudes.end());
  return *at > 0 ? *at : 1.0;
}

Rgb ScaleColour(double value, double limit) {
  const double t = std::clamp(value / limit, -1.0, 1.0);
  return t < 0 ? Blend(kZero, kNegative, -t) : Blend(kZero, kPositive, t);
}

Rgb ClusterColour(int k) {
  static constexpr Rgb kPalette[kClusterColours] = {
      {230, 159, 0}, {86, 180, 233},  {0, 158, 115}, {240, 228, 66},  {0, 114, 178},
      {213, 94, 0},  {204, 121, 167}, {120, 80, 40}, {110, 200, 110}, {90, 60, 150}};
  return kPalette[k % kClusterColours];
}

Rgb CategoryColour(int k) {
  static constexpr Rgb kPalette[kCategoryColours] = {
      {204, 102, 119}, {51, 34, 136},  {221, 204, 119}, {17, 119, 51}, {136, 204, 238},
      {136, 34, 85},   {68, 170, 153}, {153, 153, 51},  {170, 68, 153}};
  return kPalette[k % kCategoryColours];
}

std::map<std::string, int> CategoryRanks(const std::vector<std::string>& categories) {
  std::map<std::string, int> rank;
  for (const std::string& c : categories)
    if (!c.empty()) rank.emplace(c, 0);
  int k = 0;
  for (auto& [category, r] : rank) r = k++;
  return rank;
}

std::string HexColour(Rgb c) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
  return text;
}

}  // namespace lopper::picture_detail
