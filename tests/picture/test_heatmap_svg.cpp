// The heatmap picture, read back as XML with its embedded image decoded by
// a small Python reader, and rendered by chromium.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "heatmap_svg.h"
#include "peers.h"
#include "test_util.h"

namespace {

using lopper::HeatmapPicture;
using lopper::Node;
using lopper_test::TempDir;

// Prints "key value ..." lines: each axis's data-order and names (UTF-8 in
// hex), each tree's subpath count and whether all its points lie inside the
// picture, and the embedded image's colour of every cell in drawing order.
// With "colours PNG hex ...": how many distinct colours the PNG has and
// how many of those given are among them.
constexpr const char* kReader = R"(import sys, re, zlib, struct, base64
import xml.etree.ElementTree as ET
def pixels(data):
    pos, idat = 8, b''
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8])
        if kind == b'IHDR': w, h, depth, ctype = struct.unpack('>IIBB', data[pos + 8:pos + 18])
        if kind == b'IDAT': idat += data[pos + 8:pos + 8 + n]
        pos += 12 + n
    bpp, raw, rows = {2: 3, 6: 4}[ctype], zlib.decompress(idat), []
    stride, prev = w * bpp, bytearray(w * bpp)
    for y in range(h):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a, b = line[i - bpp] if i >= bpp else 0, prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            p = a + b - c
            pred = [0, a, b, (a + b) // 2,
                    a if abs(p - a) <= min(abs(p - b), abs(p - c)) else b if abs(p - b) <= abs(p - c) else c][f]
            line[i] = (line[i] + pred) & 255
        rows.append([line[x * bpp:x * bpp + 3].hex() for x in range(w)])
        prev = line
    return rows
if sys.argv[1] == 'colours':
    seen = {c for row in pixels(open(sys.argv[2], 'rb').read()) for c in row}
    print('distinct', len(seen)); print('found', sum(c in seen for c in set(sys.argv[3:]))); sys.exit()
S = '{http://www.w3.org/2000/svg}'
svg = ET.parse(sys.argv[1]).getroot()
W, H = float(svg.get('width')), float(svg.get('height'))
order = {}
for axis in ('rows', 'columns'):
    g = svg.find(f".//{S}g[@id='{axis}']")
    order[axis] = g.get('data-order').split()
    print(axis, *order[axis]); print(axis + '-names', *[(t.text or '').encode().hex() for t in g.iter(S + 'text')])
for tree in ('row-tree', 'column-tree'):
    path = svg.find(f".//{S}path[@id='{tree}']")
    if path is None: continue
    xy = [float(v) for v in re.findall(r'-?[0-9.]+', path.get('d'))]
    inside = all(0 <= x <= W for x in xy[0::2]) and all(0 <= y <= H for y in xy[1::2])
    print(tree, path.get('d').count('M'), int(inside))
href = svg.find(f'.//{S}image').get('{http://www.w3.org/1999/xlink}href')
image = pixels(base64.b64decode(href.split(',', 1)[1]))
nr, nc = len(order['rows']), len(order['columns'])
print('cells', *[image[k * len(image) // nr][j * len(image[0]) // nc] for k in range(nr) for j in range(nc)])
)";

using Summary = std::map<std::string, std::vector<std::string>>;

bool HavePython() { return std::system("/usr/bin/python3 -c 'import xml' 2>/dev/null") == 0; }

// Runs the reader on args in dir, one Summary entry per line printed.
Summary Read(const TempDir& dir, const std::vector<std::string>& args) {
  lopper_test::WriteFile(dir / "reader.py", kReader);
  std::vector<std::string> command{"reader.py"};
  command.insert(command.end(), args.begin(), args.end());
  const auto run = lopper_test::RunProgram(dir, "/usr/bin/python3", command);
  EXPECT_EQ(run.status, 0) << run.err;
  Summary summary;
  std::istringstream lines(run.out);
  for (std::string line, key, word; std::getline(lines, line);) {
    std::istringstream words(line);
    words >> key;
    auto& values = summary[key];
    while (words >> word) values.push_back(word);
  }
  return summary;
}

// A table of pseudo-random values, every seventh missing (NaN under mask 0).
struct Table {
  int nrows, ncolumns;
  std::vector<double> values;
  std::vector<int> mask;
  Table(int nrows, int ncolumns) : nrows(nrows), ncolumns(ncolumns) {
    std::mt19937 random(static_cast<unsigned>(nrows * 1000 + ncolumns));
    std::normal_distribution<double> normal(0.5, 2.0);
    for (int i = 0; i < nrows * ncolumns; i++) {
      mask.push_back(i % 7 != 3);
      values.push_back(mask.back() ? normal(random) : std::nan(""));
    }
  }
  HeatmapPicture Picture() const {
    HeatmapPicture p;
    p.nrows = nrows;
    p.ncolumns = ncolumns;
    p.values = values.data();
    p.mask = mask.data();
    return p;
  }
};

// A random tree of n elements, heights random (inversions, some zero).
std::vector<Node> RandomTree(int n, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<int> active(static_cast<std::size_t>(n));
  for (int e = 0; e < n; e++) active[e] = e;
  std::vector<Node> tree;
  while (active.size() > 1) {
    const auto pick = [&] {
      const std::size_t k = random() % active.size();
      const int ref = active[k];
      active.erase(active.begin() + static_cast<long>(k));
      return ref;
    };
    const int left = pick(), right = pick();
    tree.push_back({left, right, static_cast<double>(random() % 4)});
    active.push_back(-static_cast<int>(tree.size()));
  }
  return tree;
}

// The leaves under ref, left before right, by recursion: small trees only.
void Leaves(const std::vector<Node>& tree, int ref, std::vector<std::string>& out) {
  if (ref >= 0) return out.push_back(std::to_string(ref));
  Leaves(tree, tree[-ref - 1].left, out);
  Leaves(tree, tree[-ref - 1].right, out);
}

// 0 ... n-1
std::vector<int> Identity(int n) {
  std::vector<int> identity(static_cast<std::size_t>(n));
  for (int e = 0; e < n; e++) identity[e] = e;
  return identity;
}

// What an axis of n elements should show: the tree's leaves, else the
// order given, else 0 ... n-1.
std::vector<std::string> ExpectedOrder(const std::vector<Node>* tree, const std::vector<int>& order,
                                       int n) {
  std::vector<std::string> words;
  if (tree) Leaves(*tree, -static_cast<int>(tree->size()), words);
  for (const int x : order) words.push_back(std::to_string(x));
  if (!words.empty()) return words;
  for (const int x : Identity(n)) words.push_back(std::to_string(x));
  return words;
}

std::string Draw(const HeatmapPicture& p) {
  std::ostringstream out;
  EXPECT_TRUE(lopper::WriteHeatmapSvg(out, p));
  return out.str();
}

TEST(HeatmapSvg, DrawsAxesInTreeOrGivenOrTableOrder) {
  if (!HavePython()) return lopper_test::SkipWithoutPeer("/usr/bin/python3 not installed");
  const Table table(9, 6);
  const std::vector<Node> row_tree = RandomTree(9, 1), column_tree = RandomTree(6, 2);
  const std::vector<Node> flat = {{0, 1, 0}, {2, 3, 0}, {-1, -2, 0}, {4, 5, 0}, {-3, -4, 0}};
  struct Case {
    const std::vector<Node>* rows;
    std::vector<int> row_order;
    const std::vector<Node>* columns;
    std::vector<int> column_order;
  } cases[] = {{&row_tree, {}, &column_tree, {}},
               {nullptr, {3, 1, 4, 0, 8, 5, 2, 7, 6}, &flat, {}},
               {nullptr, {}, nullptr, {5, 0, 4, 1, 3, 2}}};
  for (const Case& c : cases) {
    HeatmapPicture p = table.Picture();
    p.row_tree = c.rows ? c.rows->data() : nullptr;
    p.row_order = c.row_order;
    p.column_tree = c.columns ? c.columns->data() : nullptr;
    p.column_order = c.column_order;
    TempDir dir;
    lopper_test::WriteFile(dir / "h.svg", Draw(p));
    Summary s = Read(dir, {"h.svg"});
    EXPECT_EQ(s["rows"], ExpectedOrder(c.rows, c.row_order, 9));
    EXPECT_EQ(s["columns"], ExpectedOrder(c.columns, c.column_order, 6));
    // One subpath per merge, all inside the picture despite inversions.
    for (const auto& [id, tree] : {std::pair{"row-tree", c.rows}, {"column-tree", c.columns}}) {
      const std::vector<std::string> drawn{tree ? std::to_string(tree->size()) : "", "1"};
      EXPECT_EQ(s[id], tree ? drawn : std::vector<std::string>{}) << id;
    }
  }
}

// The scale's stops as the legend shows them (ColorBrewer's RdBu ends),
// and the missing-value grey.
constexpr int kNegative[3] = {0x21, 0x66, 0xac}, kWhite[3] = {0xff, 0xff, 0xff},
              kPositive[3] = {0xb2, 0x18, 0x2b};
constexpr const char* kGrey = "a0a0a0";

// The 99th percentile (nearest rank) of |value| over the present values,
// 1 when that is 0 or none is present.
double ReferenceLimit(const Table& table) {
  std::vector<double> magnitudes;
  for (std::size_t i = 0; i < table.values.size(); i++)
    if (table.mask[i]) magnitudes.push_back(std::fabs(table.values[i]));
  if (magnitudes.empty()) return 1;
  std::sort(magnitudes.begin(), magnitudes.end());
  const double rank = std::ceil(0.99 * static_cast<double>(magnitudes.size()));
  const double limit = magnitudes[static_cast<std::size_t>(std::max(rank, 1.0)) - 1];
  return limit > 0 ? limit : 1;
}

// value's colour in hex: linear in RGB from white at 0 to the end colour
// at the limit, rounded to the nearest level.
std::string ReferenceColour(double value, double limit) {
  const double t = std::min(std::fabs(value) / limit, 1.0);
  const int* end = value < 0 ? kNegative : kPositive;
  char hex[7];
  int level[3];
  for (int c = 0; c < 3; c++)
    level[c] = static_cast<int>(std::floor(kWhite[c] + (end[c] - kWhite[c]) * t + 0.5));
  std::snprintf(hex, sizeof hex, "%02x%02x%02x", level[0], level[1], level[2]);
  return hex;
}

// The colours the image should show for the cells in drawing order.
std::vector<std::string> ExpectedCells(const Table& table, const HeatmapPicture& p) {
  const double limit = ReferenceLimit(table);
  std::vector<std::string> cells;
  for (const int r : p.row_order) {
    for (const int c : p.column_order) {
      const long at = static_cast<long>(r) * table.ncolumns + c;
      cells.push_back(table.mask[at] ? ReferenceColour(table.values[at], limit) : kGrey);
    }
  }
  return cells;
}

// Whole cells of 20 and of 1 pixel, and rows squeezed below a pixel.
TEST(HeatmapSvg, ImageShowsEachCellInItsScaleColour) {
  if (!HavePython()) return lopper_test::SkipWithoutPeer("/usr/bin/python3 not installed");
  for (const auto& [nrows, ncolumns] : {std::pair{7, 5}, {3000, 3}, {4500, 2}}) {
    const Table table(nrows, ncolumns);
    HeatmapPicture p = table.Picture();
    std::mt19937 random(7);
    p.row_order = Identity(nrows);
    std::shuffle(p.row_order.begin(), p.row_order.end(), random);
    p.column_order = Identity(ncolumns);
    std::reverse(p.column_order.begin(), p.column_order.end());
    TempDir dir;
    lopper_test::WriteFile(dir / "h.svg", Draw(p));
    EXPECT_EQ(Read(dir, {"h.svg"})["cells"], ExpectedCells(table, p)) << nrows << "x" << ncolumns;
  }
}

// Colours worked by hand. Under 100 present values the limit is the
// largest |value|; with 100 it is the 99th, the largest lies beyond it and
// takes the end colour, and a masked value, however large, counts for
// nothing. Halfway: white plus half the way to the end, rounded half up
// (216.5 -> 217 = d9).
TEST(HeatmapSvg, ImageShowsHandWorkedColours) {
  if (!HavePython()) return lopper_test::SkipWithoutPeer("/usr/bin/python3 not installed");
  struct Case {
    const char* what;
    int nrows, ncolumns;
    std::vector<double> values;  // row-major; NaN: masked with a value of 1000
    std::vector<std::string> first_cells;
  };
  const double masked = std::nan("");
  std::vector<double> hundred(110, 0.0);
  for (int r = 0; r < 10; r++) hundred[r * 11 + 10] = masked;
  hundred[0] = 100, hundred[1] = -8, hundred[2] = 4, hundred[3] = -4, hundred[4] = 2;
  const Case cases[] = {
      {"six values, limit 6",
       2,
       3,
       {-6, -3, 0, 3, 6, masked},
       {"2166ac", "90b3d6", "ffffff", "d98c95", "b2182b", "a0a0a0"}},
      {"limit 4 of 1 and -3", 1, 3, {1, -3, -4}, {"ecc5ca", "598cc1", "2166ac"}},
      {"hundred present, limit 8",
       10,
       11,
       hundred,
       {"b2182b", "2166ac", "d98c95", "90b3d6", "ecc5ca", "ffffff", "ffffff", "ffffff", "ffffff",
        "ffffff", "a0a0a0"}},
  };
  for (const Case& c : cases) {
    Table table(c.nrows, c.ncolumns);
    for (std::size_t i = 0; i < c.values.size(); i++) {
      table.mask[i] = !std::isnan(c.values[i]);
      table.values[i] = table.mask[i] ? c.values[i] : 1000;
    }
    HeatmapPicture p = table.Picture();
    TempDir dir;
    lopper_test::WriteFile(dir / "h.svg", Draw(p));
    std::vector<std::string> cells = Read(dir, {"h.svg"})["cells"];
    ASSERT_EQ(cells.size(), c.values.size()) << c.what;
    cells.resize(c.first_cells.size());
    EXPECT_EQ(cells, c.first_cells) << c.what;
  }
}

TEST(HeatmapSvg, WritesNamesEscapedAsValidUtf8) {
  if (!HavePython()) return lopper_test::SkipWithoutPeer("/usr/bin/python3 not installed");
  const std::string replaced = "\xEF\xBF\xBD", ellipsis = "\xE2\x80\xA6";
  const std::vector<std::pair<std::string, std::string>> names = {
      {"a&b", "a&b"},
      {"<x>", "<x>"},
      {"\"q\" 's'", "\"q\" 's'"},
      {"\xC3\xA9 \xE6\xBC\xA2 \xF0\x9F\x98\x80", "\xC3\xA9 \xE6\xBC\xA2 \xF0\x9F\x98\x80"},
      {"latin\xE9 tab\t", "latin" + replaced + " tab" + replaced},
      {std::string(40, 'x'), std::string(40, 'x')},
      {std::string(41, 'y'), std::string(39, 'y') + ellipsis}};
  const Table table(static_cast<int>(names.size()), 1);
  HeatmapPicture p = table.Picture();
  std::vector<std::string> expected;
  for (const auto& [name, label] : names) {
    p.row_names.push_back(name);
    std::string hex;
    for (const char ch : label) {
      char digits[3];
      std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(ch));
      hex += digits;
    }
    expected.push_back(hex);
  }
  p.column_names = {"<&>"};
  TempDir dir;
  lopper_test::WriteFile(dir / "h.svg", Draw(p));
  Summary s = Read(dir, {"h.svg"});
  EXPECT_EQ(s["rows-names"], expected);
  EXPECT_EQ(s["columns-names"], std::vector<std::string>{"3c263e"});
}

// Each axis at and past its own limit, the other axis small.
TEST(HeatmapSvg, LeavesNamesOutAboveFiveHundredRowsOrTwoHundredFiftyColumns) {
  const struct Case {
    int nrows, ncolumns;
    bool row_names, column_names;
  } cases[] = {
      {500, 3, true, true}, {501, 3, false, true}, {3, 250, true, true}, {3, 251, true, false}};
  for (const Case& c : cases) {
    const Table table(c.nrows, c.ncolumns);
    HeatmapPicture p = table.Picture();
    p.row_names.assign(c.nrows, "row");
    p.column_names.assign(c.ncolumns, "column");
    const std::string svg = Draw(p);
    EXPECT_EQ(svg.find(">row</text>") != std::string::npos, c.row_names)
        << c.nrows << "x" << c.ncolumns;
    EXPECT_EQ(svg.find(">column</text>") != std::string::npos, c.column_names)
        << c.nrows << "x" << c.ncolumns;
  }
}

TEST(HeatmapSvg, RefusesInconsistentArgumentsWritingNothing) {
  const Table table(4, 3);
  const std::vector<Node> rows = RandomTree(4, 3), columns = RandomTree(3, 4);
  std::vector<Node> later = rows, outside = rows, unfinite = columns;
  later[0].left = -2;
  outside[1].right = 4;
  unfinite[1].distance = INFINITY;
  std::vector<double> nan_present = table.values;
  nan_present[0] = std::nan("");
  const std::vector<std::pair<const char*, std::function<void(HeatmapPicture&)>>> cases = {
      {"no rows", [](HeatmapPicture& p) { p.nrows = 0; }},
      {"no columns", [](HeatmapPicture& p) { p.ncolumns = 0; }},
      {"no values", [](HeatmapPicture& p) { p.values = nullptr; }},
      {"present NaN", [&](HeatmapPicture& p) { p.values = nan_present.data(); }},
      {"row names",
       [](HeatmapPicture& p) {
         p.row_names = {"a", "b", "c"};
       }},
      {"column names",
       [](HeatmapPicture& p) {
         p.column_names = {"a", "b", "c", "d"};
       }},
      {"clusters",
       [](HeatmapPicture& p) {
         p.row_clusters = {1, 2, 3};
       }},
      {"order twice",
       [](HeatmapPicture& p) {
         p.row_order = {0, 1, 1, 2};
       }},
      {"order outside",
       [](HeatmapPicture& p) {
         p.row_order = {0, 1, 2, 4};
       }},
      {"order short",
       [](HeatmapPicture& p) {
         p.column_order = {0, 1};
       }},
      {"order and tree",
       [&](HeatmapPicture& p) {
         p.row_order = {0, 1, 2, 3}, p.row_tree = rows.data();
       }},
      {"later record", [&](HeatmapPicture& p) { p.row_tree = later.data(); }},
      {"element outside", [&](HeatmapPicture& p) { p.row_tree = outside.data(); }},
      {"height infinite", [&](HeatmapPicture& p) { p.column_tree = unfinite.data(); }},
      {"tree of one", [&](HeatmapPicture& p) { p.nrows = 1, p.row_tree = rows.data(); }},
      {"tree labels without a tree",
       [](HeatmapPicture& p) {
         p.row_tree_labels = {"1", "2", "3"};
       }},
      {"tree labels short", [&](HeatmapPicture& p) {
         p.row_tree = rows.data(), p.row_tree_labels = {"1", "2"};
       }}};
  for (const auto& [what, spoil] : cases) {
    HeatmapPicture p = table.Picture();
    spoil(p);
    std::ostringstream out;
    EXPECT_FALSE(lopper::WriteHeatmapSvg(out, p)) << what;
    EXPECT_EQ(out.str(), "") << what;
  }
}

TEST(HeatmapSvg, DrawsAChainTreeOfTwentyThousandLeaves) {
  const int n = 20000;
  const Table table(n, 2);
  // Record i joins element i+1 on the left with the chain so far.
  std::vector<Node> chain;
  for (int i = 0; i < n - 1; i++) chain.push_back({i + 1, i == 0 ? 0 : -i, 0.5 * i});
  HeatmapPicture p = table.Picture();
  p.row_tree = chain.data();
  const std::string svg = Draw(p);
  std::string expected;
  for (int e = n - 1; e >= 0; e--) expected += std::to_string(e) + (e > 0 ? " " : "");
  EXPECT_NE(svg.find("id=\"rows\" data-order=\"" + expected + "\""), std::string::npos);
  const std::size_t path = svg.find("id=\"row-tree\"");
  EXPECT_EQ(std::count(svg.begin() + static_cast<long>(path),
                       svg.begin() + static_cast<long>(svg.find("/>", path)), 'M'),
            n - 1);
}

TEST(HeatmapSvg, KeepsFiveThousandByFiftyUnderTwentyMegabytes) {
  const Table table(5000, 50);
  const std::vector<Node> rows = RandomTree(5000, 5), columns = RandomTree(50, 6);
  HeatmapPicture p = table.Picture();
  p.row_tree = rows.data();
  p.column_tree = columns.data();
  for (int r = 0; r < 5000; r++) p.row_clusters.push_back(r % 9);
  const auto start = std::chrono::steady_clock::now();
  const std::string svg = Draw(p);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(svg.size(), 20u << 20);
  std::cout << "5000x50: " << svg.size() << " bytes in " << took.count() << " s\n";
}

TEST(HeatmapSvg, RendersInChromiumWithTheHeatmapColours) {
  if (std::system("command -v chromium >/dev/null") != 0) {
    return lopper_test::SkipWithoutPeer("chromium not installed: the picture is not rendered");
  }
  if (!HavePython()) return lopper_test::SkipWithoutPeer("/usr/bin/python3 not installed");
  const Table table(40, 12);
  HeatmapPicture p = table.Picture();
  p.row_order = Identity(40);
  p.column_order = Identity(12);
  TempDir dir;
  lopper_test::WriteFile(dir / "h.svg", Draw(p));
  const auto run = lopper_test::RunProgram(
      dir, "timeout",
      {"60", "chromium", "--headless", "--no-sandbox", "--disable-gpu",
       "--user-data-dir=" + dir / "profile", "--screenshot=" + dir / "shot.png",
       "--window-size=600,1100", "file://" + dir / "h.svg"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> cells = ExpectedCells(table, p);
  std::vector<std::string> args{"colours", "shot.png"};
  const std::set<std::string> distinct(cells.begin(), cells.end());
  args.insert(args.end(), distinct.begin(), distinct.end());
  Summary s = Read(dir, args);
  ASSERT_EQ(s["found"].size(), 1u);
  // Every cell colour shows, besides white and the legend's.
  EXPECT_EQ(std::stoul(s["found"][0]), distinct.size());
  EXPECT_GT(std::stoul(s["distinct"][0]), distinct.size());
}

}  // namespace

namespace {

// Each text that follows `open` up to the character `close`, between the
// first occurrence of `from` and the first "</g>" closing its group
// (groups here hold no groups).
std::vector<std::string> Following(const std::string& svg, const std::string& from,
                                   const std::string& open, char close) {
  std::vector<std::string> found;
  const std::size_t start = svg.find(from);
  if (start == std::string::npos) return found;
  const std::size_t end = svg.find("</g>", start);
  for (std::size_t at = svg.find(open, start + from.size()); at < end;
       at = svg.find(open, at + 1)) {
    const std::size_t text = at + open.size();
    found.push_back(svg.substr(text, svg.find(close, text) - text));
  }
  return found;
}

// The value of attribute `name` on each element of the group.
std::vector<std::string> AttributeValues(const std::string& svg, const std::string& from,
                                         const std::string& name) {
  return Following(svg, from, " " + name + "=\"", '"');
}

// The text of each <tag> element of the group.
std::vector<std::string> Texts(const std::string& svg, const std::string& from,
                               const std::string& tag) {
  return Following(svg, from, "<" + tag + ">", '<');
}

}  // namespace

// Colours by hand from Paul Tol's muted scheme: B, C, T in byte order
// take its first three; the tenth of ten categories repeats the first.
TEST(HeatmapSvg, AnnotationBarsColourEachDrawnColumnByItsCategory) {
  const Table table(3, 6);
  HeatmapPicture p = table.Picture();
  p.column_order = {4, 0, 5, 2, 1, 3};
  p.column_annotations = {{"type", {"T", "B", "", "B", "T", "C"}}};
  const std::string svg = Draw(p);
  const std::vector<std::string> type = {"#ddcc77", "#ddcc77", "#332288",
                                         "#a0a0a0", "#cc6677", "#cc6677"};
  EXPECT_EQ(AttributeValues(svg, "data-annotation=\"type\">", "fill"), type);
  EXPECT_EQ(AttributeValues(svg, "data-annotation=\"type\">", "data-category"),
            (std::vector<std::string>{"T", "T", "C", "", "B", "B"}));
  const std::string legend = "class=\"annotation-legend\" data-annotation=\"type\"";
  EXPECT_EQ(AttributeValues(svg, legend, "data-category"),
            (std::vector<std::string>{"B", "C", "T", ""}));
  EXPECT_EQ(AttributeValues(svg, legend, "fill"),
            (std::vector<std::string>{"#cc6677", "#332288", "#ddcc77", "#a0a0a0"}));
  EXPECT_EQ(svg.find("colours repeat every 9 categories"), std::string::npos);
  const Table wide(3, 10);
  HeatmapPicture q = wide.Picture();
  q.column_annotations = {{"ten", {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}}};
  const std::string ten = Draw(q);
  EXPECT_EQ(AttributeValues(ten, "data-annotation=\"ten\">", "fill")[9], "#cc6677");
  EXPECT_NE(ten.find("colours repeat every 9 categories"), std::string::npos);
}

// Rows 20 pixels high; a gap of 4 exactly where the cluster changes in
// drawing order, and the heatmap cut into one image per run of rows.
TEST(HeatmapSvg, GapsFallExactlyBetweenTheBandsClusters) {
  const Table table(7, 3);
  HeatmapPicture p = table.Picture();
  p.row_order = {6, 0, 3, 1, 5, 2, 4};
  p.row_clusters = {8, 2, 9, 8, 9, 2, 8};  // drawn: 8 8 8 2 2 9 9
  for (const bool gaps : {false, true}) {
    p.gaps = gaps;
    const std::string svg = Draw(p);
    const std::vector<std::string> tops = AttributeValues(svg, "<g id=\"row-titles\"", "y");
    ASSERT_EQ(tops.size(), 7u);
    for (std::size_t k = 1; k < tops.size(); k++) {
      const bool between = k == 3 || k == 5;
      EXPECT_EQ(std::stod(tops[k]) - std::stod(tops[k - 1]), gaps && between ? 24 : 20)
          << "gaps " << gaps << ", row " << k;
    }
    std::size_t images = 0;
    for (std::size_t at = svg.find("<image"); at != std::string::npos;
         at = svg.find("<image", at + 1))
      images++;
    EXPECT_EQ(images, gaps ? 3u : 1u);
  }
}

// The legend lists clusters in drawing order, the first 24, and each row
// has its tooltip; names stand in the drawing order, with their clusters.
TEST(HeatmapSvg, BandLegendListsClustersAndEachRowHasItsTooltip) {
  const Table table(30, 2);
  HeatmapPicture p = table.Picture();
  std::vector<std::string> ids, titles;
  for (int r = 0; r < 30; r++) {
    p.row_clusters.push_back(100 - r);
    p.row_names.push_back("g<" + std::to_string(r) + ">");
    if (r < 24) ids.push_back(std::to_string(100 - r));
    titles.push_back("g&lt;" + std::to_string(r) + "&gt;, cluster " + std::to_string(100 - r));
  }
  const std::string svg = Draw(p);
  EXPECT_EQ(AttributeValues(svg, "<g id=\"cluster-legend\"", "data-cluster"), ids);
  EXPECT_NE(svg.find("… 6 more; colours repeat every 10 clusters"), std::string::npos);
  EXPECT_EQ(Texts(svg, "<g id=\"row-titles\"", "title"), titles);
  p.row_clusters.clear();
  p.row_names.clear();
  const std::vector<std::string> plain = Texts(Draw(p), "<g id=\"row-titles\"", "title");
  ASSERT_EQ(plain.size(), 30u);
  EXPECT_EQ(plain[29], "row 30");
}

// The root's size within the fit, for pictures with every part, where
// the default drawing is larger.
TEST(HeatmapSvg, FitKeepsTheDrawingWithinTheSize) {
  const auto size = [](const std::string& svg) {
    const std::size_t w = svg.find(" width=\"") + 8, h = svg.find(" height=\"") + 9;
    return std::pair{std::stod(svg.substr(w)), std::stod(svg.substr(h))};
  };
  const Table table(300, 120);
  const std::vector<Node> rows = RandomTree(300, 7), columns = RandomTree(120, 8);
  HeatmapPicture p = table.Picture();
  p.row_tree = rows.data();
  p.column_tree = columns.data();
  // Five clusters of 60 leaves in the tree's order, so four gaps.
  std::vector<std::string> leaves;
  Leaves(rows, -static_cast<int>(rows.size()), leaves);
  p.row_clusters.resize(300);
  for (int k = 0; k < 300; k++) p.row_clusters[std::stoi(leaves[k])] = k / 60;
  for (int r = 0; r < 300; r++) p.row_names.push_back("row" + std::to_string(r));
  p.gaps = true;
  p.title = "fit";
  p.column_annotations = {{"a", std::vector<std::string>(120, "x")}};
  const auto [natural_width, natural_height] = size(Draw(p));
  for (const auto& [width, height] : {std::pair{600, 450}, {800, 600}, {1500, 700}, {3000, 900}}) {
    p.fit_width = width;
    p.fit_height = height;
    const auto [drawn_width, drawn_height] = size(Draw(p));
    EXPECT_LE(drawn_width, width) << width << "x" << height;
    EXPECT_LE(drawn_height, height) << width << "x" << height;
    // Whole pixels per row when at least 1 fit, so the fit is not filled.
    EXPECT_GT(drawn_height, 0.6 * height) << width << "x" << height;
    EXPECT_TRUE(natural_width > width || natural_height > height);
  }
}
