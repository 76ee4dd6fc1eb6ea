// One updating line on standard error per step of a run, with percent done.
#ifndef LOPPER_CLUSTER_COMMAND_PROGRESS_H
#define LOPPER_CLUSTER_COMMAND_PROGRESS_H

#include <chrono>
#include <ostream>
#include <string>

namespace lopper {

// Writes "lopper-cluster: STEP... P%" and rewrites it in place (carriage
// return) as the step advances, at most every tenth of a second; a step's
// line ends with its last percentage and a line feed. A disabled reporter
// writes nothing.
class ProgressLine {
 public:
  ProgressLine(std::ostream& out, bool enabled) : out_(out), enabled_(enabled) {}
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  ~ProgressLine() { Finish(); }

  void Start(const std::string& step);
  // fraction: 0 ... 1 of the current step.
  void Update(double fraction);
  // Ends the current step's line at 100%, if one is open.
  void Finish();
  // Ends the current step's line where it stands: the step failed.
  void Abandon();

 private:
  void Show(int percent);

  std::ostream& out_;
  bool enabled_;
  std::string step_;
  int shown_ = -1;
  std::chrono::steady_clock::time_point last_{};
};

// While it lives, the library's reports of the calling thread's long steps
// (distances, merging, the leaf order) show on `line`, naming the number
// of elements (or of what `noun` names, as "columns").
class LibraryProgress {
 public:
  LibraryProgress(ProgressLine& line, int nelements, const char* noun = "elements");
  LibraryProgress(const LibraryProgress&) = delete;
  LibraryProgress& operator=(const LibraryProgress&) = delete;
  ~LibraryProgress();

 private:
  static void Report(const char* step, long done, long total, void* context);

  ProgressLine& line_;
  int nelements_;
  const char* noun_;
  std::string step_;
};

}  // namespace lopper

#endif
