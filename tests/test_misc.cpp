#include <gtest/gtest.h>

#include <limits>
#include <sstream>

#include "misc.h"

namespace {

TEST(Misc, Dbl2strIsFixedThreeDecimalsRightAligned) {
  struct Case {
    double value;
    int prec, width;
    const char* text;
  } const cases[] = {
      {25.0, 3, 4, "25.000"},
      {0.0, 3, 4, "0.000"},
      {-12.5, 3, 4, "-12.500"},
      {0.0005, 3, 4, "0.001"},
      {123456789012345678.0, 3, 4, "123456789012345680.000"},
      {1e22, 3, 4, "10000000000000000000000.000"},
      {std::numeric_limits<double>::infinity(), 3, 4, " inf"},
      {2.5, 1, 6, "   2.5"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(lopper::dbl2str(c.value, c.prec, c.width), c.text) << c.value;
}

TEST(Misc, Int2strIsPlainDecimal) {
  EXPECT_EQ(lopper::int2str(0), "0");
  EXPECT_EQ(lopper::int2str(1000000), "1000000");
  EXPECT_EQ(lopper::int2str(-42), "-42");
}

// The fast path must give exactly what a string stream reads.
TEST(Misc, Str2numAgreeWithStreamExtraction) {
  const char* const texts[] = {"0",
                               "7",
                               "123",
                               "-45",
                               "+5",
                               " 12",
                               "12abc",
                               "abc",
                               "",
                               ".",
                               "5.",
                               ".5",
                               "1.2.3",
                               "0.1",
                               "1e5",
                               "1e",
                               "inf",
                               "nan",
                               "-",
                               "--1",
                               "2147483647",
                               "2147483648",
                               "-2147483649",
                               "99999999999999999999",
                               "0.30000000000000004",
                               "123456789.123456789"};
  for (const char* t : texts) {
    std::istringstream si(t), sd(t);
    int i = 0;
    double d = 0.0;
    si >> i;
    sd >> d;
    EXPECT_EQ(lopper::str2int(t), i) << '"' << t << '"';
    EXPECT_EQ(lopper::str2dbl(t), d) << '"' << t << '"';
  }
}

}  // namespace
