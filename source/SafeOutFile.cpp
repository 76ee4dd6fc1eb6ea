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

// What the last failed call reported, or fallback when it set no errno.
std::string Reason(const char* fallback) { return errno != 0 ? std::strerror(errno) : fallback; }

// The directory part of path, "." when it has none.
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

std::string SafeOutFile::open() {
  struct stat st {};
  const bool exists = ::stat(path_.c_str(), &st) == 0;
  errno = 0;
  if (exists && !S_ISREG(st.st_mode)) {
    out_.open(path_, std::ios::out | std::ios::trunc);
    return out_.is_open() ? "" : Reason("cannot open for writing");
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
  if (fd < 0) return Reason("cannot create a file in its directory");
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
  return out_.is_open() ? "" : Reason("cannot open for writing");
}

std::string SafeOutFile::commit() {
  errno = 0;
  out_.close();
  if (out_.fail()) return Reason("write error");
  if (temp_.empty()) return "";
  if (std::rename(temp_.c_str(), target_.c_str()) != 0) return Reason("cannot replace the file");
  temp_.clear();
  return "";
}

}  // namespace lopper
