#include "CommandSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

namespace lopper {

namespace {

// The pending temporary files in fixed buffers: the handler may not
// allocate. An empty slot starts with '\0'.
char pending[RemoveOnSignal::kMaxFiles][4096];
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Removes the pending files, then dies of sig as if unhandled.
extern "C" void RemovePendingAndDie(int sig) {
  for (const char* path : pending)
    if (path[0]) ::unlink(path);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

void ReserveStandardDescriptors() {
  for (int fd = 0; fd <= 2; fd++)
    if (::fcntl(fd, F_GETFD) == -1 && ::open("/dev/null", O_RDONLY) != fd) std::_Exit(1);
}

RemoveOnSignal::RemoveOnSignal(const std::vector<std::string>& temps) {
  int slot = 0;
  for (const std::string& temp : temps) {
    if (temp.empty() || temp.size() >= sizeof pending[0] || slot == kMaxFiles) continue;
    std::memcpy(pending[slot++], temp.c_str(), temp.size() + 1);
  }
  for (const int sig : kSignals) std::signal(sig, RemovePendingAndDie);
}

RemoveOnSignal::~RemoveOnSignal() {
  for (const int sig : kSignals) std::signal(sig, SIG_DFL);
  for (char* path : pending) path[0] = '\0';
}

}  // namespace lopper
