#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "preprocess.h"
#include "table_test_util.h"

namespace {

using lopper::Centering;
using lopper::ColumnScaling;
using lopper::Scaling;
using lopper_test::ParseOk;

// Expected values are worked out in the comments; NAN marks a missing
// value, which must stay missing. Two rows each: statistics are per row.
TEST(TablePreprocess, StepsGiveHandComputedProfiles) {
  struct Case {
    lopper::Preprocessing steps;
    const char* rows;  // CSV lines after the header "id,a,b,c,d"
    std::vector<double> expected;
  } const cases[] = {
      {{true}, "x,1,2,NA,8\ny,0.5,1,1,1", {0, 1, NAN, 3, -1, 0, 0, 0}},
      // means 12 / 3 = 4 and 20 / 4 = 5
      {{false, ColumnScaling::kNone, Centering::kMean},
       "x,1,NA,3,8\ny,2,4,6,8",
       {-3, NAN, -1, 4, -3, -1, 1, 3}},
      // medians 5 and (2 + 10) / 2 = 6
      {{false, ColumnScaling::kNone, Centering::kMedian},
       "x,5,1,NA,100\ny,20,1,10,2",
       {0, -4, NAN, 95, 14, -5, 4, -4}},
      // (4 + 0 + 4) / 2 = 2 ^ 2 and (3 * 0.25 + 2.25) / 3 = 1 ^ 2
      {{false, ColumnScaling::kNone, Centering::kNone, Scaling::kStandardDeviation},
       "x,2,4,NA,6\ny,1,1,1,3",
       {1, 2, NAN, 3, 1, 1, 1, 3}},
      // norms 5 and 2
      {{false, ColumnScaling::kNone, Centering::kNone, Scaling::kNorm},
       "x,3,NA,NA,4\ny,1,1,1,1",
       {0.6, NAN, NAN, 0.8, 0.5, 0.5, 0.5, 0.5}},
      // nothing to scale by: no spread, one value
      {{false, ColumnScaling::kNone, Centering::kNone, Scaling::kStandardDeviation},
       "x,3,3,3,NA\ny,NA,7,NA,NA",
       {3, 3, 3, NAN, NAN, 7, NAN, NAN}},
      // median 5 leaves -3, 0, 4, 0, of norm 5
      {{false, ColumnScaling::kNone, Centering::kMedian, Scaling::kNorm},
       "x,0,0,NA,0\ny,2,5,9,5",
       {0, 0, NAN, 0, -0.6, 0, 0.8, 0}},
      // log2 gives 0, 2, 4, 2; the mean 2 leaves -2, 0, 2, 0, of sd sqrt(8 / 3)
      {{true, ColumnScaling::kNone, Centering::kMean, Scaling::kStandardDeviation},
       "x,1,4,16,4\ny,1,1,NA,1",
       {-2 / std::sqrt(8.0 / 3), 0, 2 / std::sqrt(8.0 / 3), 0, 0, 0, NAN, 0}},
  };
  for (const auto& c : cases) {
    const auto result =
        lopper::Preprocess(ParseOk(std::string("id,a,b,c,d\n") + c.rows, ','), c.steps);
    ASSERT_TRUE(result.ok()) << result.error();
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
      const bool present = !std::isnan(c.expected[i]);
      EXPECT_EQ(result.value().mask[i], present) << c.rows << " @" << i;
      EXPECT_NEAR(result.value().values[i], present ? c.expected[i] : 0, 1e-12)
          << c.rows << " @" << i;
    }
  }
}

// The message names the cell where the file has it, also after a transpose.
TEST(TablePreprocess, Log2OfValueNotAboveZeroFails) {
  struct Case {
    const char* rows;
    bool transpose;
    const char* message;
  } const cases[] = {
      {"x,1,2\ny,4,0", false, "line 3, column 3 (b): cannot take log2 of 0"},
      {"x,1,-2\ny,4,0", true, "line 2, column 3 (b): cannot take log2 of -2"},
      {"x,1,2\ny,-0,NA", false, "line 3, column 2 (a): cannot take log2 of -0"},
  };
  for (const auto& c : cases) {
    const lopper::Table t = ParseOk(std::string("id,a,b\n") + c.rows, ',');
    const auto result = lopper::Preprocess(c.transpose ? t.Transposed() : t, {true});
    ASSERT_FALSE(result.ok()) << c.rows;
    EXPECT_EQ(result.error(), std::string("t.txt: ") + c.message + " (values must be above 0)");
  }
}

}  // namespace
