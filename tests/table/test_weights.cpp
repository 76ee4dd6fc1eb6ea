#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "table_test_util.h"
#include "test_util.h"
#include "weights.h"

namespace {

using lopper_test::ParseOk;

const char kData[] = "id\ts1\ts2\ts3\ng1\t1\t2\t3\ng2\t4\t5\t6\n";

TEST(TableWeights, OneWeightPerColumnInDataOrder) {
  const lopper::Table data = ParseOk(kData, '\t', "data.txt");
  const lopper_test::TempDir dir;
  lopper_test::WriteFile(dir / "w.csv", "column,weight\ns3,0.5\ns1,2\ns2,0\n");
  const auto read = lopper::ReadWeights(dir / "w.csv", data);
  ASSERT_TRUE(read.ok()) << read.error();
  EXPECT_EQ(read.value(), (std::vector<double>{2, 0, 0.5}));
  // Transposed, the columns are the file's rows.
  const auto by_row = lopper::WeightsFor(ParseOk("id\tw\ng2\t3\ng1\t1\n"), data.Transposed());
  ASSERT_TRUE(by_row.ok()) << by_row.error();
  EXPECT_EQ(by_row.value(), (std::vector<double>{1, 3}));
  EXPECT_EQ(lopper::WeightsFor(ParseOk("id\tw\ng1\t1\n"), data.Transposed()).error(),
            "t.txt: no weight for column 'g2' of data.txt (line 3)");
  // A row for a column the data was read without is passed over, no other.
  const auto left_out =
      lopper::WeightsFor(ParseOk("c\tw\ns1\t2\ns9\t7\ns2\t1\ns3\t1\n"), data, {"s9"});
  ASSERT_TRUE(left_out.ok()) << left_out.error();
  EXPECT_EQ(left_out.value(), (std::vector<double>{2, 1, 1}));
  EXPECT_FALSE(
      lopper::WeightsFor(ParseOk("c\tw\ns1\t2\ns9\t7\ns2\t1\ns3\t1\n"), data, {"s8"}).ok());
}

TEST(TableWeights, EveryColumnNeedsOneKnownNonNegativeWeight) {
  struct Case {
    const char* weights;
    const char* message;
  } const cases[] = {
      {"c\tw\ns1\t1\ns2\t1\ns9\t1\n", "t.txt: line 4: 's9' is not a column of data.txt"},
      {"c\tw\ns1\t1\ns2\tNA\ns3\t1\n", "t.txt: line 3, column 2 (w): missing weight"},
      {"c\tw\ns1\t1\ns2\t-0.5\ns3\t1\n", "t.txt: line 3, column 2 (w): weight -0.5 is negative"},
      {"c\tw\ns1\t1\ns3\t1\n", "t.txt: no weight for column 's2' of data.txt (line 1, column 3)"},
      {"c\tw\tv\ns1\t1\t1\n", "t.txt: line 1: 3 cells, expected 2 (a column name and its weight)"},
  };
  const lopper::Table data = ParseOk(kData, '\t', "data.txt");
  for (const auto& c : cases) {
    const auto result = lopper::WeightsFor(ParseOk(c.weights), data);
    ASSERT_FALSE(result.ok()) << c.weights;
    EXPECT_EQ(result.error(), c.message);
  }
}

}  // namespace
