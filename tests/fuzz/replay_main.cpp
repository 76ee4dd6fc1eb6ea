// Runs a fuzz target's entry point on every file of the corpus folders (or
// files) named on the command line, so that a corpus replays as one test
// without libFuzzer. Each input runs in a child process of its own: a crash,
// an abort or a sanitizer's report then names the input it came from, and
// the other inputs still run.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// The files a command-line argument stands for, in name order.
std::vector<std::string> InputsOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {path};
  std::vector<std::string> files;
  if (DIR* dir = opendir(path.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") files.push_back(path + "/" + name);
    }
    closedir(dir);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Child side: 0 when the input ran to the end, 2 when it could not be read.
int RunOne(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return 2;
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return 0;
}

// Parent side: true when the input's child ended cleanly; otherwise says why.
bool Replay(const std::string& file) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fuzz replay: fork");
    return false;
  }
  if (child == 0) std::exit(RunOne(file));  // exit, not _exit: coverage data is flushed
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  if (WIFSIGNALED(status)) {
    std::fprintf(stderr, "fuzz replay: %s: killed by signal %d\n", file.c_str(), WTERMSIG(status));
  } else if (WEXITSTATUS(status) == 2) {
    std::fprintf(stderr, "fuzz replay: %s: cannot read it\n", file.c_str());
  } else {
    std::fprintf(stderr, "fuzz replay: %s: exit status %d\n", file.c_str(), WEXITSTATUS(status));
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  long inputs = 0, failed = 0;
  for (int i = 1; i < argc; i++) {
    for (const std::string& file : InputsOf(argv[i])) {
      inputs++;
      if (!Replay(file)) failed++;
    }
  }
  std::printf("fuzz replay: %ld inputs, %ld failed\n", inputs, failed);
  return failed == 0 && inputs > 0 ? 0 : 1;
}
