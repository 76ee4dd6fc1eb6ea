// The table files other tools write (R, GenePattern, Excel, pandas), and the
// messages that say which option reads a file that does not read as it is.
#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "peers.h"
#include "table.h"
#include "test_util.h"

namespace {

using lopper::CellOptions;
using lopper::ParseTable;
using lopper::ReadTable;
using lopper::Table;
using lopper_test::TempDir;
using lopper_test::WriteFile;

const CellOptions kDecimalComma{',', {}};

// Each text holds the same two elements and columns Murder and Assault,
// whatever else it holds; `place` is where the value 236 stood.
TEST(TableForms, WritersFilesReadAsTheSameTable) {
  struct Case {
    const char* what;
    std::string text;
    char separator;
    CellOptions options;
    const char* label;
    const char* place;
    const char* header_place;  // of the name Assault
  } const cases[] = {
      {"plain",
       "state\tMurder\tAssault\nAlabama\t13.2\t236\nAlaska\t10\t263\n",
       '\t',
       {},
       "state",
       "line 2, column 3 (Assault)",
       "line 1, column 3"},
      {"write.table, row names under no label",
       "\"Murder\"\t\"Assault\"\n\"Alabama\"\t13.2\t236\n\"Alaska\"\t10\t263\n",
       '\t',
       {},
       "",
       "line 2, column 3 (Assault)",
       "line 1, column 2"},
      {"write.table, col.names = NA",
       "\"\"\t\"Murder\"\t\"Assault\"\n\"Alabama\"\t13.2\t236\n\"Alaska\"\t10\t263\n",
       '\t',
       {},
       "",
       "line 2, column 3 (Assault)",
       "line 1, column 3"},
      {"Excel CSV: BOM, CR LF",
       "\xEF\xBB\xBFstate,Murder,Assault\r\nAlabama,13.2,236\r\nAlaska,10,263\r\n",
       ',',
       {},
       "state",
       "line 2, column 3 (Assault)",
       "line 1, column 3"},
      {"write.csv2: semicolons, decimal commas",
       "\"\";\"Murder\";\"Assault\"\n\"Alabama\";13,2;236\n\"Alaska\";10;263\n", ';', kDecimalComma,
       "", "line 2, column 3 (Assault)", "line 1, column 3"},
      {"GCT 1.2, read as tab-separated",
       "#1.2\n2\t2\nName\tDescription\tMurder\tAssault\nAlabama\tna\t13.2\t236\nAlaska\tx "
       "1\t10\t263\n",
       ',',
       {},
       "Name",
       "line 4, column 4 (Assault)",
       "line 3, column 4"},
      {"GCT 1.3, two row and one column annotations",
       "#1.3\t\n2\t2\t2\t1\nid\tsym\tdesc\tMurder\tAssault\nregion\t-666\t-666\tx\ty\n"
       "Alabama\tA\t1\t13.2\t236\nAlaska\tB\t2\t10\t263\n",
       '\t',
       {},
       "id",
       "line 5, column 5 (Assault)",
       "line 3, column 5"},
      {"text and ID columns left out",
       "state\tcode\tMurder\tsym\tAssault\nAlabama\tAL\t13.2\ts\t236\nAlaska\tAK\t10\tt\t263\n",
       '\t',
       {'.', {"sym", "code"}},
       "state",
       "line 2, column 5 (Assault)",
       "line 1, column 5"},
  };
  for (const auto& c : cases) {
    const auto read = ParseTable(c.text, c.separator, "t", c.options);
    ASSERT_TRUE(read.ok()) << c.what << ": " << read.error();
    const Table& t = read.value();
    EXPECT_EQ(t.name_label, c.label) << c.what;
    EXPECT_EQ(t.names, (std::vector<std::string>{"Alabama", "Alaska"})) << c.what;
    EXPECT_EQ(t.columns, (std::vector<std::string>{"Murder", "Assault"})) << c.what;
    EXPECT_EQ(t.values, (std::vector<double>{13.2, 236, 10, 263})) << c.what;
    EXPECT_EQ(t.CellLocation(0, 1), c.place) << c.what;
    EXPECT_EQ(t.Transposed().CellLocation(1, 0), c.place) << c.what;
    EXPECT_EQ(t.ColumnLocation(1), c.header_place) << c.what;
    EXPECT_EQ(t.Transposed().NameLocation(1), c.header_place) << c.what;
  }
}

TEST(TableForms, ElementsLabelIsTheTablesOwnOrName) {
  Table t;
  for (const auto& [label, expected] : std::vector<std::pair<std::string, std::string>>{
           {"gene", "gene"}, {"", "name"}, {"a\tb", "name"}, {"a\nb", "name"}}) {
    t.name_label = label;
    EXPECT_EQ(t.ElementsLabel(), expected) << label;
    EXPECT_EQ(t.Transposed().ElementsLabel(), "name") << label;
  }
}

TEST(TableForms, MessagesNameTheOptionThatReadsTheFile) {
  struct Case {
    std::string text;
    char separator;
    CellOptions options;
    const char* message;
  } const cases[] = {
      {"id;a;b\nx;1;2\n",
       '\t',
       {},
       "t: line 1: the header names no columns; it splits into 3 cells at semicolons: give --sep "
       "';'"},
      {"id,a,b\nx,1,2\n",
       '\t',
       {},
       "t: line 1: the header names no columns; it splits into 3 cells at commas: give --sep ,"},
      {"id\ta\tb\nx\t1\t2\n",
       ',',
       {},
       "t: line 1: the header names no columns; it splits into 3 cells at tabs: give --sep tab"},
      {"id\nx;1;2\n",
       '\t',
       {},
       "t: line 1: the header names no columns; it splits into 3 cells at semicolons: give --sep "
       "';'"},
      {"id\ta\tb\nx;1;2\n",
       '\t',
       {},
       "t: line 2: 1 cell, expected 3 (a name and 2 values); it splits into 3 cells at semicolons: "
       "give --sep ';'"},
      {"\"\";\"a\"\n\"x\";1\n",
       ',',
       {},
       "t: line 1, column 1: text after the closing quote; it splits into 2 cells at semicolons: "
       "give --sep ';'"},
      {"id\nx\n", '\t', {}, "t: line 1: the header names no columns"},
      {"id\ta\nx\t13,2\n",
       '\t',
       {},
       "t: line 2, column 2 (a): '13,2' is not a number; with a decimal comma it reads: give "
       "--decimal ,"},
      {"id;a\nx;1.5\n", ';', kDecimalComma, "t: line 2, column 2 (a): '1.5' is not a number"},
      {"id\tgene symbol\ta\nx\tTP53\t1\ny\tMYC\t2\nz\tNA\t3\n",
       '\t',
       {},
       "t: line 2, column 2 (gene symbol): 'TP53' is not a number; the column's first cells are "
       "all text: give --exclude-columns 'gene symbol' to leave it out"},
      {"id\ts\ta\nx\tTP53\t1\ny\t4\t2\n",
       '\t',
       {},
       "t: line 2, column 2 (s): 'TP53' is not a number"},
      {"id\ts\nx\t1\ny\tTP53\n", '\t', {}, "t: line 3, column 2 (s): 'TP53' is not a number"},
      {"id\ts\nx\tTP53\n\"y\tMYC\n", '\t', {}, "t: line 2, column 2 (s): 'TP53' is not a number"},
      {"id\ta\tb\nx\t1\t2\n",
       '\t',
       {'.', {"a", "c"}},
       "t: line 1: --exclude-columns names 'c', which is not a column"},
      {"id\ta\tb\nx\t1\t2\n",
       '\t',
       {'.', {"a", "b"}},
       "t: line 1: --exclude-columns leaves no columns"},
      {"id\ta\tb\nx\t1\t2\ny\t1\n",
       '\t',
       {'.', {"a"}},
       "t: line 3: 2 cells, expected 3 (a name, 1 value and 1 left out)"},
      {"id,a\nx,1\n", ',', kDecimalComma,
       "t: a comma cannot both separate cells and mark decimals"},
      {"#1.2\n3\t2\nName\tDescription\ta\tb\nx\td\t1\t2\ny\td\t3\t4\n",
       '\t',
       {},
       "t: line 2: the GCT dimensions give 3 rows, the file has 2 data lines"},
      {"#1.2\n2\t3\nName\tDescription\ta\tb\nx\td\t1\t2\ny\td\t3\t4\n",
       '\t',
       {},
       "t: line 2: the GCT dimensions give 3 columns, the header (line 3) names 2"},
      {"#1.2\n2\nName\tDescription\ta\nx\td\t1\n",
       '\t',
       {},
       "t: line 2: GCT 1.2 dimensions must be the rows and columns, as whole numbers"},
      {"#1.3\n1\t1\t0\tx\nid\ta\nx\t1\n",
       '\t',
       {},
       "t: line 2: GCT 1.3 dimensions must be the rows, columns, row annotations and column "
       "annotations, as whole numbers"},
      {"#1.2\n1\t1\nName\tDescription\ta\nx\t1\n",
       '\t',
       {},
       "t: line 4: 2 cells, expected 3 (a name, 1 value and 1 left out)"},
      {"#1.2\n", '\t', {}, "t: line 2: no GCT dimensions line"},
  };
  for (const auto& c : cases) {
    const auto result = ParseTable(c.text, c.separator, "t", c.options);
    ASSERT_FALSE(result.ok()) << c.text;
    EXPECT_EQ(result.error(), c.message) << c.text;
  }
}

// UTF-16 in both byte orders, with a letter beyond the basic plane (a
// surrogate pair); half a character at the end fails.
TEST(TableForms, Utf16IsReadAndForeignCompressionNamed) {
  const std::u16string text = u"id\tZ\u00fcrich\t\U0001D6FC\r\nx\t1\t2\r\n";
  std::string little = "\xFF\xFE", big = "\xFE\xFF";
  for (const char16_t unit : text) {
    little += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    big += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
  }
  const TempDir dir;
  for (const std::string& bytes : {little, big}) {
    WriteFile(dir / "u.tsv", bytes);
    const auto read = ReadTable(dir / "u.tsv");
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(read.value().columns,
              (std::vector<std::string>{"Z\xC3\xBCrich", "\xF0\x9D\x9B\xBC"}));
    EXPECT_EQ(read.value().values, (std::vector<double>{1, 2}));
  }
  struct Case {
    std::string bytes, message;
  } const cases[] = {
      {little + "x", "d: UTF-16 text ends in half a character"},
      {"BZh91AY&SY\x01\x02",
       "d: bzip2-compressed data, which is not read here: decompress it first (bunzip2 -k " +
           dir / "d" + ")"},
      {std::string("\xFD"
                   "7zXZ\0\0",
                   8),
       "d: xz-compressed data, which is not read here: decompress it first (unxz -k " + dir / "d" +
           ")"},
      {"\x28\xB5\x2F\xFD\x04",
       "d: zstd-compressed data, which is not read here: decompress it first (unzstd " + dir / "d" +
           ")"},
      {"PK\x03\x04\x14",
       "d: zip-compressed data, which is not read here: decompress it first (unzip " + dir / "d" +
           ")"},
  };
  for (const auto& c : cases) {
    WriteFile(dir / "d", c.bytes);
    const auto read = ReadTable(dir / "d", {{}, "d", {}});
    ASSERT_FALSE(read.ok()) << c.message;
    EXPECT_EQ(read.error(), c.message);
  }
  // A text table may start as a bzip2 header does.
  WriteFile(dir / "d", "BZh9\tz\nx\t1\n");
  EXPECT_TRUE(ReadTable(dir / "d").ok());
}

// Files as R and pandas write them, made now by the peers themselves, read
// with the defaults (write.csv2 with its decimal comma).
TEST(TableForms, PeersFilesReadAsWritten) {
  const TempDir dir;
  const std::string r =
      "x <- data.frame(a = c(1.5, -2), b = c(NA, 3e5), row.names = c('p q', 'r'));"
      "write.table(x, 'rn.tsv', sep = '\\t'); write.table(x, 'na.tsv', sep = '\\t', col.names = "
      "NA);"
      "write.csv(x, 'w.csv'); write.csv2(x, 'w2.csv')";
  const std::string py =
      "import pandas as p; p.DataFrame({'a': [1.5, -2], 'b': [None, 3e5]}, "
      "index=p.Index(['p q', 'r'], name='id')).to_csv('pd.csv')";
  const bool have_r = lopper_test::RunProgram(dir, "Rscript", {"-e", r}).status == 0;
  const bool have_pandas = lopper_test::RunProgram(dir, "/usr/bin/python3", {"-c", py}).status == 0;
  if (!have_r && !have_pandas)
    return lopper_test::SkipWithoutPeer("neither R (r-base-core) nor python3-pandas installed");
  std::vector<std::pair<std::string, char>> files;
  if (have_r) files = {{"rn.tsv", '.'}, {"na.tsv", '.'}, {"w.csv", '.'}, {"w2.csv", ','}};
  if (have_pandas) files.emplace_back("pd.csv", '.');
  for (const auto& [file, decimal] : files) {
    const auto read = ReadTable(dir / file, {{}, "", {decimal, {}}});
    ASSERT_TRUE(read.ok()) << file << ": " << read.error();
    EXPECT_EQ(read.value().names, (std::vector<std::string>{"p q", "r"})) << file;
    EXPECT_EQ(read.value().columns, (std::vector<std::string>{"a", "b"})) << file;
    EXPECT_EQ(read.value().values, (std::vector<double>{1.5, 0, -2, 3e5})) << file;
    EXPECT_EQ(read.value().mask, (std::vector<int>{1, 0, 1, 1})) << file;
  }
  if (!have_r) std::cout << "[  SKIPPED ] R's files: r-base-core not installed\n";
  if (!have_pandas) std::cout << "[  SKIPPED ] pandas' file: python3-pandas not installed\n";
}

}  // namespace
