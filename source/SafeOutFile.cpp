#include "SafeOutFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace lopper {

namespace {

std::string Reason(const char* fallback) { return errno != 0 ? std::strerror(errno) : fallback; }

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

SafeOutFile::~SafeOutFile() {
  if (!temp_.empty()) {
    out_.close();
    std::remove(temp_.c_str());
  }
}

bool SafeOutFile::open(std::string& error) {
  struct stat st {};
  const bool exists = ::stat(path_.c_str(), &st) == 0;
  errno = 0;
  if (exists && !S_ISREG(st.st_mode)) {
    out_.open(path_, std::ios::out | std::ios::trunc);
    if (!out_.is_open()) {
      error = Reason("cannot open for writing");
      return false;
    }
    return true;
  }
  target_ = path_;
  if (exists) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path_.c_str(), nullptr),
                                                     &std::free);
    if (real) target_ = real.get();
  }
  const std::size_t slash = target_.rfind('/');
  const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  std::string name = DirectoryOf(target_) + "/." + base + ".XXXXXX";
  const int fd = ::mkstemp(&name[0]);
  if (fd < 0) {
    error = Reason("cannot create a file in its directory");
    return false;
  }
  temp_ = name;
  mode_t mode = exists ? (st.st_mode & 07777) : 0;
  if (!exists) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  const bool chmod_ok = ::fchmod(fd, mode) == 0;
  ::close(fd);
  if (chmod_ok) out_.open(temp_, std::ios::out | std::ios::trunc);
  if (!out_.is_open()) {
    error = Reason("cannot open for writing");
    return false;
  }
  return true;
}

bool SafeOutFile::commit(std::string& error) {
  errno = 0;
  out_.close();
  if (out_.fail()) {
    error = Reason("write error");
    return false;
  }
  if (temp_.empty()) return true;
  if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
    error = Reason("cannot replace the file");
    return false;
  }
  temp_.clear();
  return true;
}

}  // namespace lopper
