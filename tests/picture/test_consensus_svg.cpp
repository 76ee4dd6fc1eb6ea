// The consensus picture read back as XML by Python's parser: one curve per
// k through its CDF, and the delta-area points in the order of the ks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "consensus_svg.h"
#include "peers.h"
#include "test_util.h"

namespace {

using lopper::ConsensusPicture;
using lopper_test::TempDir;

// Prints "cdf K X Y X Y ..." per curve, "delta K CY" per point and
// "inside 1" when every point lies within the picture.
constexpr const char* kReader = R"(import sys, re
import xml.etree.ElementTree as ET
S = '{http://www.w3.org/2000/svg}'
svg = ET.parse(sys.argv[1]).getroot()
W, H = float(svg.get('width')), float(svg.get('height'))
inside = True
for p in svg.iter(S + 'path'):
    if p.get('class') != 'cdf': continue
    nums = [float(v) for v in re.findall(r'-?[0-9.]+', p.get('d'))]
    inside &= all(0 <= x <= W for x in nums[0::2]) and all(0 <= y <= H for y in nums[1::2])
    print('cdf', p.get('data-k'), ' '.join(repr(v) for v in nums))
for c in svg.iter(S + 'circle'):
    if c.get('class') != 'delta': continue
    inside &= 0 <= float(c.get('cy')) <= H
    print('delta', c.get('data-k'), c.get('cy'))
print('inside', int(inside))
)";

bool HavePython() { return std::system("/usr/bin/python3 -c 'import xml' 2>/dev/null") == 0; }

TEST(ConsensusSvg, OneCurvePerKThroughItsCdfAndTheDeltaPointsInOrder) {
  if (!HavePython()) return lopper_test::SkipWithoutPeer("/usr/bin/python3 not installed");
  // Three ks: a step CDF, a linear one and a flat 1; deltas with one
  // below 0, so the axis must reach under it.
  ConsensusPicture p{{2, 3, 5}, std::vector<std::vector<double>>(3), {0.45, -0.2, 0.1}};
  for (int b = 0; b < 100; b++) {
    p.cdf[0].push_back(b < 50 ? 0.3 : 1.0);
    p.cdf[1].push_back((b + 1) / 100.0);
    p.cdf[2].push_back(1.0);
  }
  TempDir dir;
  {
    std::ofstream out(dir / "c.svg");
    ASSERT_TRUE(lopper::WriteConsensusSvg(out, p));
  }
  lopper_test::WriteFile(dir / "read.py", kReader);
  const auto run = lopper_test::RunProgram(dir, "/usr/bin/python3", {"read.py", "c.svg"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::istringstream lines(run.out);
  std::string kind, k;
  std::map<std::string, std::vector<double>> curves;
  std::vector<std::pair<std::string, double>> deltas;
  int inside = 0;
  while (lines >> kind) {
    if (kind == "inside") {
      lines >> inside;
      continue;
    }
    lines >> k;
    std::string rest;
    std::getline(lines, rest);
    std::istringstream numbers(rest);
    std::vector<double> values;
    for (double v; numbers >> v;) values.push_back(v);
    if (kind == "cdf") curves[k] = values;
    if (kind == "delta") deltas.emplace_back(k, values.at(0));
  }
  EXPECT_EQ(inside, 1);
  ASSERT_EQ(curves.size(), 3u);
  // The flat curve at 1 is the top of the plot, the step's low part at
  // 0.3 lies 70% of the way down to 0; x runs evenly left to right.
  const auto& step = curves["2"];
  const auto& linear = curves["3"];
  const auto& top = curves["5"];
  for (const auto* c : {&step, &linear, &top}) ASSERT_EQ(c->size(), 200u);
  const double y1 = top[1], y0 = y1 + (linear[1] - y1) / (1 - 0.01);  // where the CDF is 0
  for (int b = 0; b < 100; b++) {
    EXPECT_NEAR(top[2 * b + 1], y1, 0.01) << b;
    EXPECT_NEAR(step[2 * b + 1], y0 + (y1 - y0) * p.cdf[0][b], 0.02) << b;
    EXPECT_NEAR(linear[2 * b + 1], y0 + (y1 - y0) * (b + 1) / 100.0, 0.02) << b;
    EXPECT_NEAR(top[2 * b] - top[0], (top[198] - top[0]) * b / 99.0, 0.02) << b;
  }
  // Delta points: ks in order, heights in the deltas' order (up is smaller).
  ASSERT_EQ(deltas.size(), 3u);
  EXPECT_EQ(deltas[0].first + deltas[1].first + deltas[2].first, "235");
  EXPECT_LT(deltas[0].second, deltas[2].second);
  EXPECT_LT(deltas[2].second, deltas[1].second);
  // The 0 line lies between the points 0.1 and -0.2, in proportion.
  EXPECT_NEAR((deltas[2].second - deltas[0].second) / (deltas[1].second - deltas[0].second),
              (0.45 - 0.1) / (0.45 + 0.2), 0.01);
}

TEST(ConsensusSvg, MismatchedSizesWriteNothing) {
  std::vector<ConsensusPicture> bad(4);
  bad[1] = {{2, 3}, {std::vector<double>(100)}, {0.5, 0.1}};
  bad[2] = {{2}, {std::vector<double>(99)}, {0.5}};
  bad[3] = {{2}, {std::vector<double>(100)}, {}};
  for (const auto& p : bad) {
    std::ostringstream out;
    EXPECT_FALSE(lopper::WriteConsensusSvg(out, p));
    EXPECT_EQ(out.str(), "");
  }
}

}  // namespace
