// Every shell example of the README and of the pages in docs/ prints what
// the page shows. An example is an indented line "$ command" followed by
// its indented output (standard output and error together), up to the next
// command or the end of the block. A page's examples run in order, in one
// scratch directory standing for the repository root after ./dev.sh build:
// `build` and `examples` there are the build and the bundled examples.
// Characterisation: the outputs the README shows are pinned from lopper's
// own runs; this keeps the README true, other tests check the results.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

struct Example {
  int line;
  std::string command;
  std::string output;
};

std::vector<Example> ReadmeExamples(const std::string& path) {
  const std::string indent = "    ";
  std::ifstream in(path);
  std::vector<Example> examples;
  bool in_output = false;
  std::string text;
  for (int number = 1; std::getline(in, text); number++) {
    if (text.rfind(indent + "$ ", 0) == 0) {
      examples.push_back({number, text.substr(indent.size() + 2), ""});
      in_output = true;
    } else if (in_output && text.rfind(indent, 0) == 0) {
      examples.back().output += text.substr(indent.size()) + "\n";
    } else {
      in_output = false;
    }
  }
  return examples;
}

// The README, then docs/*.md in name order.
std::vector<std::filesystem::path> Pages() {
  std::vector<std::filesystem::path> pages;
  for (const auto& entry : std::filesystem::directory_iterator(LOPPER_SOURCE_DIR "/docs"))
    if (entry.path().extension() == ".md") pages.push_back(entry.path());
  std::sort(pages.begin(), pages.end());
  pages.insert(pages.begin(), LOPPER_SOURCE_DIR "/README.md");
  return pages;
}

void RunExamples(const std::filesystem::path& page) {
  const auto examples = ReadmeExamples(page.string());
  lopper_test::TempDir root;
  std::filesystem::create_directory_symlink(std::filesystem::path(LOPPER_EXE).parent_path(),
                                            root / "build");
  std::filesystem::create_directory_symlink(LOPPER_SOURCE_DIR "/examples", root / "examples");
  for (const auto& example : examples) {
    const auto run =
        lopper_test::RunProgram(root, "/bin/bash", {"-c", "exec 2>&1; " + example.command});
    EXPECT_EQ(run.out, example.output)
        << page.filename().string() << " line " << example.line << ": $ " << example.command;
  }
}

TEST(Readme, ExamplesPrintWhatThePagesShowCharacterised) {
  ASSERT_GE(ReadmeExamples(LOPPER_SOURCE_DIR "/README.md").size(), 5u)
      << "the README's examples were not found";
  for (const auto& page : Pages()) RunExamples(page);
}

}  // namespace
