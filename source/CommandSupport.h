// What both commands need around their files: telling two paths apart,
// standard descriptors that cannot be taken over, and temporary output
// files that a signal does not leave behind.
#ifndef LOPPER_COMMANDSUPPORT_H
#define LOPPER_COMMANDSUPPORT_H

#include <string>
#include <vector>

namespace lopper {

// True when both paths name one existing file (same device and inode).
bool SameFile(const std::string& a, const std::string& b);

// Gives a closed standard descriptor (0, 1, 2) a read-only /dev/null, so
// that writes to it fail visibly instead of landing in the next file opened
// (an output file would take descriptor 1). Exits with status 1 if it
// cannot.
void ReserveStandardDescriptors();

// While it lives, SIGINT, SIGTERM, SIGHUP and SIGPIPE (a reader of standard
// output went away) remove the given temporary files and then end the
// process as the signal would. At most kMaxFiles paths of under 4096 bytes;
// others are not removed. One guard at a time.
class RemoveOnSignal {
 public:
  static constexpr int kMaxFiles = 8;
  explicit RemoveOnSignal(const std::vector<std::string>& temps);
  RemoveOnSignal(const RemoveOnSignal&) = delete;
  RemoveOnSignal& operator=(const RemoveOnSignal&) = delete;
  ~RemoveOnSignal();
};

}  // namespace lopper

#endif
