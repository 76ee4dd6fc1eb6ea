#include "progress.h"

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

}  // namespace lopper
