#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "table.h"
#include "table_test_util.h"
#include "test_util.h"

namespace {

using lopper::ParseTable;
using lopper::ReadTable;
using lopper::Table;
using lopper_test::ParseOk;
using lopper_test::TempDir;
using lopper_test::WriteFile;
using lopper_test::WriteGzip;

TEST(TableRead, KeepsHeaderNamesValuesMaskAndLines) {
  const Table t = ParseOk("gene\ts1\ts2\nalpha\t1.5\t-2\nbeta\tNA\t3e2\n");
  EXPECT_EQ(t.name_label, "gene");
  EXPECT_EQ(t.names, (std::vector<std::string>{"alpha", "beta"}));
  EXPECT_EQ(t.columns, (std::vector<std::string>{"s1", "s2"}));
  EXPECT_EQ(t.values, (std::vector<double>{1.5, -2, 0, 300}));
  EXPECT_EQ(t.mask, (std::vector<int>{1, 1, 0, 1}));
  EXPECT_EQ(t.file_lines, (std::vector<long>{2, 3}));
  EXPECT_EQ(t.ValueRows()[1][1], 300);
  EXPECT_EQ(t.MaskRows()[1][0], 0);
}

// What strtod reads as a whole finite number reads the same; an empty cell,
// NA and NaN are missing.
TEST(TableRead, ValueCellsReadAsStrtodOrMissing) {
  for (const std::string cell :
       {"0",    "-0",   "42",   "+3",  "-2.5",   ".5",     "5.",
        "1e3",  "1E-3", "  4 ", "0.1", "1e-400", "4e-320", "1.7976931348623157e308",
        "",     "NA",   "na",   "Na",  "NaN",    "nan",    "NAN",
        " NA ", "\"\""}) {
    const Table t = ParseOk("id,a,b\nx," + cell + ",7\n", ',');
    const bool missing = cell.find_first_of("\"Nn") != std::string::npos || cell.empty();
    EXPECT_EQ(t.mask, (std::vector<int>{!missing, 1})) << cell;
    EXPECT_EQ(t.values[0], missing ? 0 : std::strtod(cell.c_str(), nullptr)) << cell;
  }
}

// table.h: a magnitude too small for a double reads as 0, however small;
// just above half the smallest subnormal, as that subnormal.
TEST(TableRead, MagnitudesBelowTheDoublesReadAsZero) {
  struct Case {
    const char* cell;
    double value;
  } const cases[] = {
      {"1e-400", 0.0},
      {"-1e-400", -0.0},
      {"1e-99999", 0.0},
      {"-1e-99999999999999999999", -0.0},
      {"2.4703282292062328e-324", std::numeric_limits<double>::denorm_min()},
  };
  for (const auto& c : cases) {
    const Table t = ParseOk(std::string("id,a\nx,") + c.cell + "\n", ',');
    EXPECT_EQ(t.mask, std::vector<int>{1}) << c.cell;
    EXPECT_EQ(t.values.at(0), c.value) << c.cell;
    EXPECT_EQ(std::signbit(t.values.at(0)), std::signbit(c.value)) << c.cell;
  }
}

TEST(TableRead, RejectsCellsThatAreNoFiniteNumber) {
  for (const std::string cell :
       {"abc", "inf", "-inf", "infinity", "1e400", "-1e400", "0x10", "1.5x", "nanx", "nan(1)",
        "N/A", "+-1", "--1",  "+",        "-",     ".",      "1e",   "1 2",  "1,5",  "\"1\"\"\""}) {
    const auto result = ParseTable("id;a;b\nx;1;" + cell + "\n", ';', "t.txt");
    ASSERT_FALSE(result.ok()) << cell;
    // The message quotes the cell as read, after unquoting.
    const std::string shown = cell[0] == '"' ? "1\"" : cell;
    const std::string hint =
        cell == "1,5" ? "; with a decimal comma it reads: give --decimal ," : "";
    EXPECT_EQ(result.error(),
              "t.txt: line 2, column 3 (b): '" + shown + "' is not a number" + hint);
  }
}

TEST(TableRead, MalformedTablesFailWithOneLineMessages) {
  struct Case {
    const char* text;
    const char* message;
    char separator = '\t';
  } const cases[] = {
      {"id\"a\nx\"1\n", "t.txt: cells cannot be separated by a quote or line end", '"'},
      {"", "t.txt: empty table (no header line)"},
      {"\n\r\n", "t.txt: empty table (no header line)"},
      {"id\ta\n", "t.txt: no data lines after the header"},
      {"id\nx\n", "t.txt: line 1: the header names no columns"},
      {"id\ta\t\tc\n", "t.txt: line 1, column 3: empty column name"},
      {"id\ta\tb\ta\n", "t.txt: line 1, column 4: column name 'a' occurs twice (also column 2)"},
      {"id\ta\tb\nx\t1\n", "t.txt: line 2: 2 cells, expected 3 (a name and 2 values)"},
      {"id\ta\tb\nx\t1\t2\ny\t1\t2\t3\n",
       "t.txt: line 3: 4 cells, expected 3 (a name and 2 values)"},
      {"id\ta\nx\t1\ny\t1\t2\n", "t.txt: line 3: 3 cells, expected 2 (a name and 1 value)"},
      {"id\ta\nx\t1\n\ny\t2\n", "t.txt: line 3: 0 cells, expected 2 (a name and 1 value)"},
      {"id\ta\n\t1\n", "t.txt: line 2, column 1: empty name"},
      {"id\ta\nalpha\t1\nb\t2\nalpha\t3\n",
       "t.txt: line 4: name 'alpha' occurs twice (also on line 2)"},
      {"id\ta\nx\t1\n\"y\t2\n\n", "t.txt: line 3, column 1: quoted cell has no closing quote"},
      {"id\ta\nx\t\"1\"2\n", "t.txt: line 2, column 2: text after the closing quote"},
      {"id\ta\n\"x\ny\"\t1\n\"x\ny\"\t2\n",
       "t.txt: line 4: name 'x\ny' occurs twice (also on line 2)"},
  };
  for (const auto& c : cases) {
    const auto result = ParseTable(c.text, c.separator, "t.txt");
    ASSERT_FALSE(result.ok()) << c.text;
    EXPECT_EQ(result.error(), c.message);
  }
}

TEST(TableRead, QuotedCellsFollowCsvRules) {
  struct Case {
    const char* text;
    std::vector<std::string> names, columns;
  } const cases[] = {
      {"id,a\n\"x,y\",1\n", {"x,y"}, {"a"}},
      {"id,a\n\"say \"\"hi\"\"\",1\n", {"say \"hi\""}, {"a"}},
      {"id,a\n\"two\r\nlines\",1\n", {"two\r\nlines"}, {"a"}},
      {"\"\",\"a,b\"\nx,\"1\"\n", {"x"}, {"a,b"}},
      {"id,a\n5\"UTR,1\n", {"5\"UTR"}, {"a"}},
  };
  for (const auto& c : cases) {
    const Table t = ParseOk(c.text, ',');
    EXPECT_EQ(t.names, c.names) << c.text;
    EXPECT_EQ(t.columns, c.columns) << c.text;
    EXPECT_EQ(t.values, std::vector<double>{1}) << c.text;
  }
}

TEST(TableRead, LineEndsByteOrderMarkAndTrailingLinesReadAsPlainText) {
  const Table plain = ParseOk("id\ta\tb\nx\t1\t\ny\t3\t4\n");
  for (const char* text :
       {"id\ta\tb\r\nx\t1\t\r\ny\t3\t4\r\n", "\xEF\xBB\xBFid\ta\tb\nx\t1\t\ny\t3\t4\n",
        "id\ta\tb\nx\t1\t\ny\t3\t4", "id\ta\tb\nx\t1\t\ny\t3\t4\n\n\n",
        "id\ta\tb\r\nx\t1\t\r\ny\t3\t4\r\n\r\n"}) {
    const Table t = ParseOk(text);
    EXPECT_EQ(t.name_label, plain.name_label) << text;
    EXPECT_EQ(t.names, plain.names) << text;
    EXPECT_EQ(t.values, plain.values) << text;
    EXPECT_EQ(t.mask, plain.mask) << text;
  }
}

// Each file holds one column, whose name "a,b" or "a\tb" tells a wrong split.
TEST(TableRead, FileNameChoosesSeparatorAndGzipIsInflated) {
  struct Case {
    const char* file;
    bool gzip;
    const char* text;
    std::optional<char> separator;
  } const cases[] = {
      {"t.txt", false, "id\ta,b\nx\t1\n", {}},  {"t.CSV", false, "id,a\tb\nx,1\n", {}},
      {"t.csv.gz", true, "id,a\tb\nx,1\n", {}}, {"t.tsv", true, "id\ta,b\nx\t1\n", {}},
      {"t.csv", false, "id;a,b\nx;1\n", ';'},
  };
  const TempDir dir;
  for (const auto& c : cases) {
    const std::string path = dir / c.file;
    c.gzip ? WriteGzip(path, c.text) : WriteFile(path, c.text);
    const auto result = ReadTable(path, {c.separator, "", {}});
    ASSERT_TRUE(result.ok()) << c.file << ": " << result.error();
    EXPECT_EQ(result.value().source, path);
    EXPECT_EQ(result.value().values, std::vector<double>{1}) << c.file;
  }
}

TEST(TableRead, StandardInputIsReadPlainOrGzipped) {
  const TempDir dir;
  WriteFile(dir / "plain", "id\ta\nx\tz\n");
  WriteGzip(dir / "packed", "id\ta\nx\tz\n");
  const int saved = ::dup(STDIN_FILENO);
  for (const char* file : {"plain", "packed"}) {
    const int fd = ::open((dir / file).c_str(), O_RDONLY);
    ::dup2(fd, STDIN_FILENO);
    ::close(fd);
    const auto result = ReadTable("-");
    ::dup2(saved, STDIN_FILENO);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), "standard input: line 2, column 2 (a): 'z' is not a number");
  }
  ::close(saved);
}

TEST(TableRead, UnreadableInputFailsWithTheReason) {
  const TempDir dir;
  WriteGzip(dir / "whole.gz", "id\ta\nx\t1\n");
  const std::string packed = lopper_test::ReadFile(dir / "whole.gz");
  WriteFile(dir / "cut.gz", packed.substr(0, packed.size() - 4));
  // A gzip header, then bytes that are no deflate data.
  WriteFile(dir / "bad.gz", std::string("\x1f\x8b\x08\0\0\0\0\0\0\3", 10) + "\xff\xff\xff\xff");
  struct Case {
    std::string path, display, message;
  } const cases[] = {
      {dir / "absent", "", dir / "absent: cannot read: " + std::strerror(ENOENT)},
      {dir.str(), "data", "data: cannot read: " + std::string(std::strerror(EISDIR))},
      {dir / "cut.gz", "cut", "cut: corrupt gzip data (unexpected end of file)"},
      {dir / "bad.gz", "bad", "bad: corrupt gzip data (invalid block type)"},
  };
  for (const auto& c : cases) {
    const auto result = ReadTable(c.path, {{}, c.display, {}});
    ASSERT_FALSE(result.ok()) << c.path;
    EXPECT_EQ(result.error(), c.message);
  }
}

TEST(TableRead, TransposedSwapsRolesAndKeepsFilePlaces) {
  const Table t = ParseOk("id\ta\tb\tc\nx\t1\tNA\t3\ny\t4\t5\t6\n");
  const Table u = t.Transposed();
  EXPECT_EQ(u.names, t.columns);
  EXPECT_EQ(u.columns, t.names);
  for (std::size_t r = 0; r < t.nrows(); ++r) {
    for (std::size_t c = 0; c < t.ncolumns(); ++c) {
      EXPECT_EQ(u.values[c * t.nrows() + r], t.values[r * t.ncolumns() + c]);
      EXPECT_EQ(u.mask[c * t.nrows() + r], t.mask[r * t.ncolumns() + c]);
      EXPECT_EQ(u.CellPlace(c, r), t.CellPlace(r, c));
    }
  }
  EXPECT_EQ(t.CellPlace(1, 2), "t.txt: line 3, column 4 (c)");
  EXPECT_EQ(u.Transposed().values, t.values);
}

}  // namespace
