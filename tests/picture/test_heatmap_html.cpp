// The page's data as the page reads it: a small Python reader takes the
// blocks out of the HTML, parses the JSON and inflates the cells' levels
// and the values' text. (The page itself runs in tests/page, in Chromium.)
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <functional>
#include <map>
#include <sstream>

#include "colour.h"
#include "heatmap_html.h"
#include "peers.h"
#include "test_util.h"

namespace {

using lopper::HeatmapPage;
using lopper::Node;

// Prints "key value ..." lines: the names (UTF-8 in hex), the row order,
// the row tree's heights, the settings of the cut, each cell's colour in
// table order from the scale's levels, the values' lines, and how many
// script elements the file closes.
constexpr const char* kReader = R"(import sys, re, json, gzip, base64
page = open(sys.argv[1], encoding='utf-8').read()
def block(id):
    return re.search(r'<script type="[^"]*" id="' + id + r'">(.*?)</script>', page, re.S).group(1)
data = json.loads(block('lopper-data'))
levels = gzip.decompress(base64.b64decode(block('lopper-levels')))
values = gzip.decompress(base64.b64decode(block('lopper-values'))).decode()
print('names', *[n.encode().hex() for n in data['rowNames']])
print('order', *data['rowOrder'])
print('heights', *[repr(h) for h in data['rowTree']['height']])
print('cut', data['cut'], data['minSize'], data['elementsLabel'], *data['fileRows'])
print('cells', *[data['scale'][-1 if l == 255 else l][1:] for l in levels])
print('values', *[line.replace('\t', ',') for line in values.split('\n')])
print('closed', page.count('</script>'))
)";

using Summary = std::map<std::string, std::vector<std::string>>;

Summary ReadPage(const std::string& html) {
  lopper_test::TempDir dir;
  lopper_test::WriteFile(dir / "page.html", html);
  lopper_test::WriteFile(dir / "reader.py", kReader);
  const auto run = lopper_test::RunProgram(dir, "/usr/bin/python3", {"reader.py", "page.html"});
  EXPECT_EQ(run.status, 0) << run.err;
  Summary summary;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string key, word;
    words >> key;
    while (words >> word) summary[key].push_back(word);
  }
  return summary;
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  char two[3];
  for (const unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02x", c);
    hex += two;
  }
  return hex;
}

// Three rows, the middle one joined last (drawn first); a missing value and one beyond
// the scale's limit; names a script block or JSON string could trip on.
struct Fixture {
  std::vector<double> values{0.5, -1.25, 3.0, 100.0, 0.0, -2.5, 1.0, 2.0, -0.75};
  std::vector<int> mask{1, 1, 1, 1, 0, 1, 1, 1, 1};
  std::vector<Node> tree{{0, 2, 0.25}, {1, -1, 1.5}};
  HeatmapPage page;
  Fixture() {
    auto& p = page.picture;
    p.nrows = 3;
    p.ncolumns = 3;
    p.values = values.data();
    p.mask = mask.data();
    p.row_names = {"</script><b>", "quote \" back\\slash", "bad \xff byte"};
    p.column_names = {"a", "b", "c"};
    p.row_tree = tree.data();
    page.cut_height = 0.75;
    page.min_size = 2;
    page.elements_label = "gene";
    page.file_names = {"x", "</script><b>", "quote \" back\\slash", "bad \xff byte"};
    page.file_rows = {-1, 0, 1, 2};
  }
};

TEST(HeatmapHtml, CarriesTheNamesValuesAndColoursToThePage) {
  if (std::system("/usr/bin/python3 -c 'import json, gzip' 2>/dev/null") != 0)
    return lopper_test::SkipWithoutPeer("python3 not installed: the page's data is not read");
  Fixture f;
  std::ostringstream out;
  ASSERT_TRUE(lopper::WriteHeatmapHtml(out, f.page));
  const Summary s = ReadPage(out.str());
  const std::vector<std::string> names{Hex("</script><b>"), Hex("quote \" back\\slash"),
                                       Hex("bad \xEF\xBF\xBD byte")};
  EXPECT_EQ(s.at("names"), names);
  EXPECT_EQ(s.at("order"), (std::vector<std::string>{"1", "0", "2"}));
  EXPECT_EQ(s.at("heights"), (std::vector<std::string>{"0.25", "1.5"}));
  EXPECT_EQ(s.at("cut"), (std::vector<std::string>{"0.75", "2", "gene", "-1", "0", "1", "2"}));
  EXPECT_EQ(s.at("values"), (std::vector<std::string>{"0.5,-1.25,3", "100,,-2.5", "1,2,-0.75"}));
  EXPECT_EQ(s.at("closed"), std::vector<std::string>{"4"});  // data, levels, values, script
  // Each cell's level gives its colour on the scale to within one step.
  const double limit = lopper::picture_detail::ScaleLimit(9, f.values.data(), f.mask.data());
  ASSERT_EQ(s.at("cells").size(), 9u);
  for (std::size_t i = 0; i < 9; i++) {
    const std::string& hex = s.at("cells")[i];
    if (!f.mask[i]) {
      EXPECT_EQ(hex, "a0a0a0");
      continue;
    }
    const auto want = lopper::picture_detail::ScaleColour(f.values[i], limit);
    const int channels[3] = {want.r, want.g, want.b};
    for (int k = 0; k < 3; k++)
      EXPECT_NEAR(std::stoi(hex.substr(2 * k, 2), nullptr, 16), channels[k], 1) << "cell " << i;
  }
}

TEST(HeatmapHtml, RefusesWhatItCannotWriteAndWritesNothing) {
  const std::vector<std::pair<const char*, std::function<void(HeatmapPage&)>>> cases{
      {"a negative smallest cluster", [](HeatmapPage& p) { p.min_size = -1; }},
      {"names without rows", [](HeatmapPage& p) { p.file_rows.pop_back(); }},
      {"a row twice", [](HeatmapPage& p) { p.file_rows[3] = 1; }},
      {"a row missing", [](HeatmapPage& p) { p.file_rows[3] = -1; }},
      {"a row beyond the picture", [](HeatmapPage& p) { p.file_rows[0] = 3; }},
      {"a picture WriteHeatmapSvg refuses", [](HeatmapPage& p) { p.picture.row_names.pop_back(); }},
  };
  for (const auto& [what, spoil] : cases) {
    Fixture f;
    spoil(f.page);
    std::ostringstream out;
    EXPECT_FALSE(lopper::WriteHeatmapHtml(out, f.page)) << what;
    EXPECT_TRUE(out.str().empty()) << what;
  }
}

}  // namespace
