#include <gtest/gtest.h>

#include <string>

#include "distances.h"
#include "table_test_util.h"

namespace {

using lopper_test::ParseOk;

TEST(TableDistances, SymmetricMatrixGivesItsLowerTriangle) {
  auto result = lopper::ToDistanceMatrix(
      ParseOk("\ta\tb\tc\na\t0\t1.5\t2\nb\t1.5\t0\t3e-2\nc\t2\t3e-2\t-0\n"));
  ASSERT_TRUE(result.ok()) << result.error();
  double** rows = result.value().rows();
  ASSERT_EQ(result.value().size(), 3u);
  EXPECT_EQ(rows[0], nullptr);
  EXPECT_EQ(rows[1][0], 1.5);
  EXPECT_EQ(rows[2][0], 2);
  EXPECT_EQ(rows[2][1], 0.03);
}

TEST(TableDistances, RejectsWhatIsNoDistanceMatrix) {
  struct Case {
    const char* text;
    const char* message;
  } const cases[] = {
      {"\ta\tb\na\t0\t1\n", "t.txt: 1 rows and 2 columns; a distance matrix is square"},
      {"\ta\tb\nb\t0\t1\na\t1\t0\n",
       "t.txt: line 2, column 2 (a): row name 'b' differs from the column name (a distance "
       "matrix names its rows and columns alike, in the same order)"},
      {"\ta\tb\na\t0\tNA\nb\t1\t0\n", "t.txt: line 2, column 3 (b): missing distance"},
      {"\ta\tb\na\t0\t-1\nb\t-1\t0\n", "t.txt: line 2, column 3 (b): distance -1 is negative"},
      {"\ta\tb\na\t0\t1\nb\t1\t0.25\n",
       "t.txt: line 3, column 3 (b): distance 0.25 of an element to itself is not 0"},
      {"\ta\tb\tc\na\t0\t1\t2\nb\t1\t0\t0.4\nc\t2\t0.5\t0\n",
       "t.txt: line 4, column 3 (b): distance 0.5 differs from 0.4 at line 3, column 4 (c)"},
  };
  for (const auto& c : cases) {
    const auto result = lopper::ToDistanceMatrix(ParseOk(c.text));
    ASSERT_FALSE(result.ok()) << c.text;
    EXPECT_EQ(result.error(), c.message);
  }
}

}  // namespace
