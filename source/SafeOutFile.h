// An output file that is either written completely or not at all.
#ifndef LOPPER_SAFEOUTFILE_H
#define LOPPER_SAFEOUTFILE_H

#include <fstream>
#include <string>

namespace lopper {

// A regular file (or a path that does not exist yet) is written to a
// temporary file beside it, renamed over it only by a successful commit();
// without one, the target stays as it was. A path that exists and is not a
// regular file (a device, a pipe) is written directly. A symbolic link to a
// regular file keeps being a link: its target file is replaced.
class SafeOutFile {
 public:
  explicit SafeOutFile(std::string path) : path_(std::move(path)) {}
  SafeOutFile(const SafeOutFile&) = delete;
  SafeOutFile& operator=(const SafeOutFile&) = delete;
  ~SafeOutFile();

  // Prepares the stream. Returns "" when it is ready, otherwise the reason
  // it cannot be.
  std::string open();
  std::ostream& stream() { return out_; }
  // The temporary file being written ("" when writing directly or after
  // commit), for a caller that must remove it on a signal.
  const std::string& temp_path() const { return temp_; }
  // Closes the stream and puts the file in place. Returns "" when done,
  // otherwise the reason any write, the close or the rename failed.
  std::string commit();

 private:
  std::string path_;
  std::string target_;  // the file finally replaced (path_ resolved)
  std::string temp_;    // empty when writing directly
  std::ofstream out_;
};

}  // namespace lopper

#endif
