#include "progress.h"

#include <lopper/cluster.h>

#include <algorithm>
#include <cmath>

namespace lopper {

void ProgressLine::Start(const std::string& step) {
  Finish();
  step_ = step;
  shown_ = -1;
  Show(0);
}

void ProgressLine::Update(double fraction) {
  if (!enabled_ || step_.empty()) return;
  const int percent = static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100));
  const auto now = std::chrono::steady_clock::now();
  if (percent == shown_ || now - last_ < std::chrono::milliseconds(100)) return;
  Show(percent);
}

void ProgressLine::Finish() {
  if (step_.empty()) return;
  Show(100);
  if (enabled_) out_ << '\n' << std::flush;
  step_.clear();
}

void ProgressLine::Abandon() {
  if (enabled_ && !step_.empty()) out_ << '\n' << std::flush;
  step_.clear();
}

void ProgressLine::Show(int percent) {
  if (!enabled_) return;
  out_ << "\rlopper-cluster: " << step_ << "... " << percent << '%' << std::flush;
  shown_ = percent;
  last_ = std::chrono::steady_clock::now();
}

LibraryProgress::LibraryProgress(ProgressLine& line, int nelements, const char* noun)
    : line_(line), nelements_(nelements), noun_(noun) {
  setprogress(&LibraryProgress::Report, this);
}

LibraryProgress::~LibraryProgress() { setprogress(nullptr, nullptr); }

void LibraryProgress::Report(const char* step, long done, long total, void* context) {
  auto* self = static_cast<LibraryProgress*>(context);
  if (self->step_ != step) {
    self->step_ = step;
    const std::string n = std::to_string(self->nelements_) + " " + self->noun_;
    self->line_.Start(self->step_ == "distances"    ? "distances between " + n
                      : self->step_ == "leaf order" ? "ordering the leaves of " + n
                      : self->step_ == "bootstrap"  ? "resampling the values of " + n
                                                    : "merging " + n);
  }
  self->line_.Update(total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0);
}

}  // namespace lopper
