// Helpers shared by the tests: scratch directories, whole-file I/O and
// running the built command.
#ifndef LOPPER_TEST_UTIL_H
#define LOPPER_TEST_UTIL_H

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace lopper_test {

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string name = (std::filesystem::temp_directory_path() / "lopper-test-XXXXXX").string();
    if (!::mkdtemp(&name[0])) throw std::runtime_error("mkdtemp failed");
    path_ = name;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::string Quote(const std::string& word) {
  std::string q = "'";
  for (const char ch : word) q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return q + "'";
}

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

// Runs `program` with `args` in directory `dir`, standard output and error
// captured in files of their own beside the directory's other files
// (standard output to `stdout_path` instead when one is given).
inline RunResult RunProgram(const TempDir& dir, const std::string& program,
                            const std::vector<std::string>& args,
                            const std::string& stdout_path = "") {
  const std::string out = stdout_path.empty() ? dir / ".stdout" : stdout_path;
  const std::string err = dir / ".stderr";
  std::string command = "cd " + Quote(dir.str()) + " && " + Quote(program);
  for (const auto& a : args) command += " " + Quote(a);
  command += " >" + Quote(out) + " 2>" + Quote(err) + " </dev/null";
  const int raw = std::system(command.c_str());
  RunResult r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, stdout_path.empty() ? ReadFile(out) : "",
              ReadFile(err)};
  if (stdout_path.empty()) std::filesystem::remove(out);
  std::filesystem::remove(err);
  return r;
}

// The k-th call of operator new from now on throws std::bad_alloc
// (0: none), and with and_after every later one too. Defined with the
// replaced operator new of the test binary.
void FailNthNew(long k, bool and_after = false);
// How many calls failed since the last FailNthNew.
long InjectedNewFailures();
// Calls of operator new still to go before the armed failure; 0 once it
// fired (or when none is armed).
long PendingNewFailure();

// Why a test comparing the AVX2 kernels with the plain ones skips when
// lopper::detail::hasavx2() is false: it could only compare plain with plain.
inline constexpr const char* kNoWideKernels =
    "no AVX2 kernels here (processor without AVX2, or a build without LOPPER_AVX2): only the "
    "plain kernels were checked";

}  // namespace lopper_test

#endif
