#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <sstream>
#include <string>

#include "NexusGrammar.h"
#include "misc.h"
#include "text/scan.h"

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

std::uint64_t Bits(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Exact values as bit patterns, worked by hand: 0.1 = 1.6 * 2^-4, whose
// fraction 0x999... rounds up in its last digit; 2^53 + 1 and 2^53 + 3 lie
// halfway between doubles and go to the even one; 1 + 2^-53 is halfway too,
// one unit more in its last digit is not; 2^-1075 = 2.47032822920623272e-324
// is half the smallest subnormal (0x1), so the decimals either side of it go
// to 0 and to 0x1; the largest double (0x7fef...) is about
// 1.797693134862315708e308, and beyond it plus half a unit
// (1.797693134862315807e308) is an overflow.
TEST(ReadDecimal, ReadsTheLongestDecimalAndRoundsToNearestEven) {
  const std::string zeros(499, '0');
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    std::string text;
    std::size_t used;
    std::uint64_t bits;
  } const cases[] = {
      {"0", 1, Bits(0.0)},
      {"-0", 2, Bits(-0.0)},
      {"+7", 2, Bits(7.0)},
      {"12abc", 2, Bits(12.0)},
      {".5", 2, Bits(0.5)},
      {"-5.", 3, Bits(-5.0)},
      {"2.5e-1x", 6, Bits(0.25)},
      {"3E+2", 4, Bits(300.0)},
      {"1e", 1, Bits(1.0)},
      {"1e+", 1, Bits(1.0)},
      {"1e-x", 1, Bits(1.0)},
      {"1e5e", 3, Bits(1e5)},
      {"1.2.3", 3, 0x3ff3333333333333},
      {"0x10", 1, Bits(0.0)},
      {"1,5", 1, Bits(1.0)},
      {"0.1", 3, 0x3fb999999999999a},
      {"9007199254740993", 16, 0x4340000000000000},
      {"9007199254740995", 16, 0x4340000000000002},
      {"1.00000000000000011102230246251565404236316680908203125", 55, 0x3ff0000000000000},
      {"1.00000000000000011102230246251565404236316680908203126", 55, 0x3ff0000000000001},
      {"2.4703282292062328e-324", 23, 0x1},
      {"2.4703282292062327e-324", 23, Bits(0.0)},
      {"-2.4703282292062327e-324", 24, Bits(-0.0)},
      {"1.7976931348623158e308", 22, 0x7fefffffffffffff},
      {"1.7976931348623159e308", 22, Bits(inf)},
      {"-1e400", 6, Bits(-inf)},
      {"1" + zeros, 500, Bits(inf)},
      {"1e99999999999999999999", 22, Bits(inf)},
      {"1e-99999", 8, Bits(0.0)},
      {"0e99999", 7, Bits(0.0)},
      // Out of range either way: the place of the leading digit decides.
      {"0." + zeros + "1e100", 506, Bits(0.0)},
      {"1" + zeros + "e-100", 505, Bits(inf)},
      {"0." + zeros + "1e600", 506, Bits(1e100)},
  };
  for (const auto& c : cases) {
    const lopper::detail::Decimal read = lopper::detail::ReadDecimal(c.text);
    EXPECT_EQ(read.end - c.text.data(), static_cast<std::ptrdiff_t>(c.used)) << c.text;
    EXPECT_EQ(Bits(read.value), c.bits) << c.text;
  }
}

TEST(ReadDecimal, ReadsNothingButADecimalNumber) {
  for (const std::string text : {"", ".", "-", "+", "+-1", "-+1", "--1", ".e5", "e5", " 1", "\t1",
                                 "inf", "-inf", "infinity", "nan", "NaN", "x1"}) {
    const lopper::detail::Decimal read = lopper::detail::ReadDecimal(text);
    EXPECT_EQ(read.end, text.data()) << text;
    EXPECT_EQ(Bits(read.value), Bits(0.0)) << text;
  }
}

// Only ASCII letters fold: a compare by the bit that tells the cases apart
// would also match '@' with '`' and '[' with '{'.
TEST(EqualsIgnoringCase, FoldsAsciiLettersOnly) {
  struct Case {
    const char* text;
    const char* lower;
    bool equal;
  } const cases[] = {
      {"tree", "tree", true},     {"TREE", "tree", true}, {"TrEe", "tree", true},
      {"#NEXUS", "#nexus", true}, {"", "", true},         {"trees", "tree", false},
      {"tre", "tree", false},     {"", "na", false},      {"nb", "na", false},
      {"@", "`", false},          {"[", "{", false},      {"\xc9", "\xe9", false},
      {"tree", "TREE", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(lopper::detail::EqualsIgnoringCase(c.text, c.lower), c.equal)
        << c.text << " " << c.lower;
}

// What each dialect takes of the one reading: kLopper no sign or exponent,
// both the whole text, and a length beyond the doubles the largest double.
TEST(LengthValue, TakesTheDialectsNumbersWhole) {
  const double max = std::numeric_limits<double>::max();
  struct Case {
    const char* text;
    std::optional<double> lopper, nexus;
  } const cases[] = {
      {"0.5", 0.5, 0.5},
      {"007", 7.0, 7.0},
      {"5.", 5.0, 5.0},
      {"1e2", std::nullopt, 100.0},
      {"-0.25", std::nullopt, -0.25},
      {"+2", std::nullopt, 2.0},
      {"1e400", std::nullopt, max},
      {"-1e400", std::nullopt, -max},
      {"1e-400", std::nullopt, 0.0},
      {"1.2.3", std::nullopt, std::nullopt},
      {"1e", std::nullopt, std::nullopt},
      {"1x", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
      {".", std::nullopt, std::nullopt},
      {"inf", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lopper::LengthValue(c.text, lopper::Dialect::kLopper), c.lopper) << c.text;
    EXPECT_EQ(lopper::LengthValue(c.text, lopper::Dialect::kNexus), c.nexus) << c.text;
  }
  const std::string huge = "1" + std::string(400, '0');
  EXPECT_EQ(lopper::LengthValue(huge, lopper::Dialect::kLopper), max);
}

}  // namespace
